#include "mainwindow/mainwindow.h"

#include "settings/settingskeys.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMovie>
#include <QProcess>
#include <QScrollBar>
#include <QSettings>
#include <QTextCursor>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace {

struct JobProgram
{
    QLatin1String program;
    QLatin1String binaryKey;
    QLatin1String outputSuffix;
    int stepCount;
};

// The parallel builds run with the serial build's executable: the launcher passes no core count.
const JobProgram JobPrograms[] = {
    { QLatin1String("moltra"), QLatin1String("moltraBinary"), QLatin1String(".out"), 1 },
    { QLatin1String("Pmoltra"), QLatin1String("moltraBinary"), QLatin1String(".out"), 1 },
    { QLatin1String("MPPmoltra"), QLatin1String("moltraBinary"), QLatin1String(".out"), 1 },
    { QLatin1String("evalix"), QLatin1String("evalixBinary"), QLatin1String(".outp"), 2 },
    { QLatin1String("Pevalix"), QLatin1String("evalixBinary"), QLatin1String(".outp"), 2 },
};

const JobProgram *findJobProgram(const QString &program)
{
    for (const JobProgram &row : JobPrograms) {
        if (row.program == program)
            return &row;
    }
    return nullptr;
}

QString baseName(const QString &path)
{
    return QFileInfo(path).baseName();
}

}

bool MainWindow::isRunning() const
{
    return ui->toolButtonStart->text() != QLatin1String("Start");
}

void MainWindow::startJob()
{
    if (isRunning()) {
        requestStop();
        return;
    }

    const QString packageDir = SettingsKeys::stringValue(*m_settings, SettingsKeys::MoltraDir);
    m_job_binary = packageDir + QLatin1Char('/');
    m_job_output = m_work_dir + QLatin1Char('/') + baseName(m_input_file);
    const JobProgram *program = findJobProgram(ui->comboBoxProgram->currentText());
    if (!program) {
        critical(QStringLiteral("Nothing to start!"));
        return;
    }
    // An EVALIX job must run on a .d3 deck and a MOLTRA job on any other, or its steps never end.
    if ((program->stepCount == 2) != m_flag_d3) {
        critical(QStringLiteral("The program %1 does not fit the input file %2. Choose a .d12 "
                                "input file for MOLTRA or a .d3 input file for EVALIX.")
                         .arg(program->program, QFileInfo(m_input_file).fileName()));
        return;
    }
    m_job_binary += SettingsKeys::stringValue(*m_settings, program->binaryKey);
    m_job_output += program->outputSuffix;
    m_step_count = program->stepCount;

    if (enterRunningState())
        compute();
}

bool MainWindow::enterRunningState()
{
    ui->toolButtonChoose->setEnabled(false);
    ui->toolButtonStart->setText(QStringLiteral("Stop"));
    ui->toolButtonStart->setIcon(QIcon(QStringLiteral(":/stop.png")));
    if (ui->tabWidget->count() > 1)
        ui->tabWidget->removeTab(1);
    QCoreApplication::processEvents();
    // A stop confirmed meanwhile has made the window idle again, or a start from a later
    // click has already taken over.
    if (!isRunning() || m_timer->isActive())
        return false;
    pushBusyCursor();
    ui->tabWidget->insertTab(1, m_output_tab, QStringLiteral("Output"));
    ui->tabWidget->setCurrentIndex(1);
    m_timer->start(200);
    ui->labelLoader->show();
    m_loader->start();
    return true;
}

void MainWindow::pushBusyCursor()
{
    if (m_busy_cursor)
        return;
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    m_busy_cursor = true;
}

void MainWindow::popBusyCursor()
{
    if (!m_busy_cursor)
        return;
    QGuiApplication::restoreOverrideCursor();
    m_busy_cursor = false;
}

void MainWindow::compute()
{
    if (!m_flag_d3) {
        m_step = 1;
        execute_d12(m_input_file, m_job_output, m_job_binary);
        return;
    }
    if (QFile::exists(m_work_dir + QStringLiteral("/fort.9"))) {
        m_step = 2;
        execute_d3(m_input_file, m_job_output, m_job_binary);
        return;
    }
    m_step = 1;
    const QString moltra = SettingsKeys::stringValue(*m_settings, SettingsKeys::MoltraDir)
            + QLatin1Char('/') + SettingsKeys::stringValue(*m_settings, SettingsKeys::MoltraBinary);
    execute_d12(m_work_dir + QLatin1Char('/') + baseName(m_input_file) + QStringLiteral(".d12"),
                m_job_output + QStringLiteral(".out"), moltra);
}

void MainWindow::execute_d12(QString l_input_file, QString l_output_file, QString l_program)
{
    launchStep(l_input_file, l_output_file, l_program,
               QStringLiteral("Unable to start the .d12 job: "));
}

void MainWindow::execute_d3(QString l_input_file, QString l_output_file, QString l_program)
{
    launchStep(l_input_file, l_output_file, l_program,
               QStringLiteral("Unable to start the .d3 job: "));
}

void MainWindow::launchStep(const QString &l_input_file, const QString &l_output_file,
                            const QString &l_program, const QString &l_failure)
{
    auto *process = new QProcess(this);
    m_process = process;
    process->setWorkingDirectory(m_work_dir);
    process->setStandardInputFile(l_input_file);
    process->setStandardOutputFile(l_output_file, QIODevice::Truncate);
    m_output_file = l_output_file;
    m_follower.reset();
#ifdef Q_OS_UNIX
    // Its own process group lets Stop reach whatever the executable starts in turn.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
    // A failed start may be reported at once or only later; both take the same road.
    connect(process, &QProcess::errorOccurred, this,
            [this, process, l_failure](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    stepFailedToStart(process, l_failure);
            });
    connect(process, &QProcess::finished, this, [this, process] {
        if (process == m_process)
            stepDone();
    });
    process->start(l_program, m_arguments, QIODevice::ReadWrite);
    if (process->state() == QProcess::NotRunning)
        stepFailedToStart(process, l_failure);
}

void MainWindow::stepFailedToStart(QProcess *l_process, const QString &l_failure)
{
    // Disconnecting also makes sure that a failure reported twice is shown once.
    const bool firstReport = disconnect(l_process, nullptr, this, nullptr);
    if (!firstReport || l_process != m_process)
        return;
    popBusyCursor();
    critical(l_failure + l_process->errorString());
}

void MainWindow::stepDone()
{
    if (m_step == m_step_count) {
        stopJob();
        return;
    }
    if (!QFile::exists(m_work_dir + QStringLiteral("/fort.9"))) {
        // Running the MOLTRA step again would end the same way.
        stopJob();
        critical(QStringLiteral("The MOLTRA step ended without leaving fort.9 in the working "
                                "directory, so the EVALIX step cannot run."));
        return;
    }
    compute();
}

void MainWindow::updateProgress()
{
    refreshOutput(true);
    QCoreApplication::processEvents();
}

void MainWindow::refreshOutput(bool l_follow_end)
{
    const OutputFollower::Update update = m_follower.poll(m_output_file);
    if (!update.opened)
        return;
    QPlainTextEdit *pane = ui->plainTextEditOutput;
    if (update.change == OutputFollower::Change::Replace) {
        pane->setPlainText(update.text);
    } else if (update.change == OutputFollower::Change::Append) {
        QTextCursor cursor(pane->document());
        cursor.movePosition(QTextCursor::End);
        if (update.dropTrailing > 0)
            cursor.setPosition(cursor.position() - update.dropTrailing, QTextCursor::KeepAnchor);
        // One edit block: the pane lays out the new lines once, not line by line.
        cursor.beginEditBlock();
        cursor.insertText(update.text);
        cursor.endEditBlock();
    }
    if (l_follow_end) {
        pane->ensureCursorVisible();
        pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
    }
}

void MainWindow::stopJob()
{
    m_timer->stop();
    m_loader->stop();
    ui->labelLoader->hide();
    ui->toolButtonStart->setIcon(QIcon(QStringLiteral(":/play.png")));
    refreshOutput(false);
    ui->toolButtonChoose->setEnabled(true);
    ui->toolButtonStart->setText(QStringLiteral("Start"));
    if (!m_user_token.isEmpty())
        ui->toolButtonUpload->setEnabled(true);
    popBusyCursor();
}

bool MainWindow::confirmStop()
{
    return QMessageBox::warning(this, windowTitle(),
                                tr("Do you really want to stop the running job?"),
                                QMessageBox::Yes | QMessageBox::Cancel)
            == QMessageBox::Yes;
}

void MainWindow::requestStop()
{
    if (!confirmStop())
        return;
    if (m_process) {
        // A stopped step's end must not start another step or end a later job.
        disconnect(m_process, nullptr, this, nullptr);
        endProcessGroup(m_process, Ending::Terminate);
    }
    stopJob();
}

void MainWindow::endProcessGroup(QProcess *l_process, Ending l_ending)
{
    if (l_process->state() == QProcess::NotRunning)
        return;
#ifdef Q_OS_UNIX
    const auto pid = pid_t(l_process->processId());
    if (pid <= 0)
        return;
    const int signal = l_ending == Ending::Terminate ? SIGTERM : SIGKILL;
    ::kill(-pid, signal);
    // The step may not have made its group yet when it is asked to end very early.
    ::kill(pid, signal);
#else
    if (l_ending == Ending::Terminate)
        l_process->terminate();
    else
        l_process->kill();
#endif
}

void MainWindow::endRunningSteps()
{
    const auto processes = findChildren<QProcess *>();
    for (QProcess *process : processes) {
        disconnect(process, nullptr, this, nullptr);
        if (process->state() == QProcess::NotRunning)
            continue;
        endProcessGroup(process, Ending::Kill);
        process->waitForFinished();
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_process && m_process->state() == QProcess::Running) {
        if (!confirmStop()) {
            event->ignore();
            return;
        }
    }
    event->accept();
}
