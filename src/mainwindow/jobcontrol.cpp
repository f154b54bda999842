#include "mainwindow/mainwindow.h"

#include "job/programcatalog.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMovie>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>

bool MainWindow::isRunning() const
{
    return m_runner->isRunning();
}

void MainWindow::startJob()
{
    if (isRunning()) {
        requestStop();
        return;
    }
    const Program *program = ProgramCatalog::find(ui->comboBoxProgram->currentText());
    if (!program) {
        critical(QStringLiteral("Nothing to start!"));
        return;
    }
    // An EVALIX job must run on a .d3 deck and a MOLTRA job on any other, or its steps never end.
    if ((program->stepCount == 2) != m_flag_d3) {
        critical(QStringLiteral("The program %1 does not fit the input file %2. Choose a .d12 "
                                "input file for MOLTRA or a .d3 input file for EVALIX.")
                         .arg(program->name, QFileInfo(m_input_file).fileName()));
        return;
    }
    JobPlan plan;
    plan.deck = m_input_file;
    plan.workDir = m_work_dir;
    plan.flagD3 = m_flag_d3;
    plan.executable = executablePath(program->executableKey());
    plan.output = m_work_dir + QLatin1Char('/') + QFileInfo(m_input_file).baseName()
            + program->outputSuffix;
    plan.stepCount = program->stepCount;
    plan.moltraExecutable = [this] {
        return executablePath(ProgramCatalog::find(QStringLiteral("moltra"))->executableKey());
    };
    m_runner->begin(plan);
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
    m_runner->compute();
}

void MainWindow::execute_d12(QString l_input_file, QString l_output_file, QString l_program)
{
    m_runner->execute(l_input_file, l_output_file, l_program,
                      QStringLiteral("Unable to start the .d12 job: "));
}

void MainWindow::execute_d3(QString l_input_file, QString l_output_file, QString l_program)
{
    m_runner->execute(l_input_file, l_output_file, l_program,
                      QStringLiteral("Unable to start the .d3 job: "));
}

void MainWindow::stepDone()
{
    m_runner->stepDone();
}

void MainWindow::jobEnded(JobRunner::Ending l_ending, const QString &l_message)
{
    Q_UNUSED(l_ending);
    stopJob();
    if (!l_message.isEmpty())
        critical(l_message);
}

void MainWindow::updateProgress()
{
    refreshOutput(true);
    QCoreApplication::processEvents();
}

void MainWindow::refreshOutput(bool l_follow_end)
{
    if (m_runner->outputFile().isEmpty())
        return;
    const OutputFollower::Update update = m_follower.poll(m_runner->outputFile());
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
    // Stopping a running job ends it, and its end brings the window back here.
    if (isRunning()) {
        m_runner->stop();
        return;
    }
    m_timer->stop();
    m_loader->stop();
    ui->labelLoader->hide();
    ui->toolButtonStart->setIcon(QIcon(QStringLiteral(":/play.png")));
    refreshOutput(false);
    ui->toolButtonChoose->setEnabled(true);
    ui->toolButtonStart->setText(QStringLiteral("Start"));
    if (!m_identity.userToken.isEmpty())
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
    // The job may have ended while the question was open: then there is nothing to stop.
    if (confirmStop() && isRunning())
        stopJob();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (isRunning() && !confirmStop()) {
        event->ignore();
        return;
    }
    event->accept();
}
