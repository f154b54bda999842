// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "job/jobmanager.h"
#include "job/programcatalog.h"
#include "mainwindow/inputtab.h"
#include "mainwindow/jobstab.h"
#include "mainwindow/keyboard.h"
#include "mainwindow/notifier.h"
#include "mainwindow/outputview.h"
#include "mainwindow/recentfiles.h"
#include "mainwindow/runcontrols.h"
#include "mainwindow/uploadprogress.h"
#include "mainwindow/windowquestions.h"
#include "settings/dialogsettings.h"
#include "settings/settingskeys.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>

// The resources live in this static library, whose registration code the linker would drop.
static void registerResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(registered);
}

MainWindow::MainWindow(QWidget *parent)
    : MainWindow(nullptr, parent)
{ }

MainWindow::MainWindow(Launcher *launcher, QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , m_launcher(launcher ? launcher : new Launcher(QString(), this))
{
    registerResources();
    ui->setupUi(this);
    m_output = new OutputView(ui->tabWidget, ui->outputView, m_launcher, this);
    m_notifier = new Notifier(QDBusConnection::sessionBus(), this);
    new WindowQuestions(this, m_launcher);
    m_jobs_tab = new JobsTab(ui->tableViewJobs, ui->lineEditJobsFilter, ui->labelJobCounts,
                             m_launcher, this);
    m_input = new InputTab(ui, m_launcher, this);
    new RunControls(ui, m_launcher, this);
    m_recent_files = new RecentFiles(ui->toolButtonChoose, m_launcher->settings());
    m_keyboard = new Keyboard(this, ui, m_output->tab(), m_output->findBar());
    connectLauncher();
    connectControls();
    restoreGeometry(m_launcher->settings()->value(SettingsKeys::WindowGeometry).toByteArray());
    m_launcher->openArguments(QCoreApplication::arguments().mid(1), m_input->choice());
}

MainWindow::~MainWindow()
{
    m_launcher->disconnect(this);
    // The Jobs tab's rows read the manager's jobs until the table goes with the widgets.
    ui->tableViewJobs->setModel(nullptr);
    delete m_jobs_tab;
    if (m_launcher->parent() == this)
        delete m_launcher;
    delete ui;
}

void MainWindow::connectLauncher()
{
    Launcher *l = m_launcher;
    connect(l, &Launcher::fileOpened, m_recent_files, &RecentFiles::remember);
    connect(l, &Launcher::failed, this, &MainWindow::critical);
    connect(m_input, &InputTab::failed, this, [this](const QString &text) { critical(text); });
    connect(l, &Launcher::informed, this,
            [this](const QString &text) { QMessageBox::information(this, windowTitle(), text); });
    connect(l, &Launcher::closeReady, this, &MainWindow::close);
    connect(l, &Launcher::batchStarted, m_notifier, &Notifier::addBatch);
    // A long run may have been left in the background.
    connect(l->jobs(), &JobManager::jobEnded, this, [this](qint64 id, const JobOutcome &outcome) {
        if (const Job *job = m_launcher->jobs()->find(id))
            m_notifier->ended(*job, outcome, isActiveWindow());
    });
    connect(m_notifier, &Notifier::unavailable, this, [this] { QApplication::alert(this); });
    connect(m_notifier, &Notifier::activated, this, [this](qint64 id) {
        takeFiles({});
        m_launcher->loadJob(id);
    });
    connect(m_jobs_tab, &JobsTab::failed, this, [this](const QString &text) { critical(text); });
    connect(l, &Launcher::uploadEnded, this, &MainWindow::uploadOutputReply);
}

void MainWindow::connectControls()
{
    connect(ui->toolButtonChoose, &QToolButton::clicked, this, &MainWindow::chooseFile);
    connect(ui->comboBoxProgram, &QComboBox::currentTextChanged, this, &MainWindow::changeProgram);
    connect(ui->toolButtonSettings, &QToolButton::clicked, this, &MainWindow::changeSettings);
    connect(ui->toolButtonStart, &QToolButton::clicked, this, &MainWindow::startJob);
    connect(ui->toolButtonOpenWorkdir, &QToolButton::clicked, this, &MainWindow::openWorkdir);
    connect(ui->toolButtonUpload, &QToolButton::clicked, this, &MainWindow::uploadOutput);
    connect(m_recent_files, &RecentFiles::chosen, this, &MainWindow::openFile);
    // A file dropped anywhere on the window opens, instead of its name going into a field.
    setAcceptDrops(true);
    for (QWidget *edit : findChildren<QLineEdit *>())
        edit->setAcceptDrops(false);
    for (QWidget *edit : findChildren<QPlainTextEdit *>())
        edit->setAcceptDrops(false);
}

void MainWindow::openFile(const QString &l_path)
{
    m_launcher->open(l_path);
}

void MainWindow::openFiles(const QStringList &l_paths)
{
    m_launcher->openMany(l_paths, m_input->choice());
}

void MainWindow::importJobFile(const QString &l_path)
{
    m_launcher->importJobFile(l_path);
}

void MainWindow::setUploadUrl(const QUrl &l_url)
{
    m_launcher->uploader()->setUrl(l_url);
}

void MainWindow::takeFiles(const QStringList &l_files)
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
    if (!l_files.isEmpty())
        openFiles(l_files);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Asked once per window, not again each time it is shown.
    if (m_startup_question_queued)
        return;
    m_startup_question_queued = true;
    QMetaObject::invokeMethod(this, &MainWindow::afterWindowShown, Qt::QueuedConnection);
}

void MainWindow::afterWindowShown()
{
    if (!SettingsKeys::stringValue(*m_launcher->settings(), SettingsKeys::MoltraDir).isEmpty())
        return;
    const auto answer = QMessageBox::warning(
            this, windowTitle(), tr("Do you want to configure MOLTRA installation directory now?"),
            QMessageBox::Yes | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes)
        changeSettings();
}

void MainWindow::changeProgram(const QString &l_program)
{
    const Program *program = ProgramCatalog::find(l_program);
    ui->spinBoxProcs->setEnabled(program && program->parallel);
}

void MainWindow::changeSettings()
{
    QSettings *settings = m_launcher->settings();
    DialogSettings dialog(this, settings);
    dialog.setDirectory(SettingsKeys::stringValue(*settings, SettingsKeys::MoltraDir));
    if (dialog.exec() != QDialog::Accepted)
        return;
    settings->setValue(SettingsKeys::MoltraDir, dialog.directory());
    dialog.storeLauncherSettings();
    dialog.storeClusters();
    m_launcher->applySettings();
}

void MainWindow::chooseFile()
{
    QSettings *settings = m_launcher->settings();
    const QStringList paths = QFileDialog::getOpenFileNames(
            this, tr("Choose MOLTRA input file..."),
            SettingsKeys::stringValue(*settings, SettingsKeys::LastFolder),
            tr("All supported files (*.d12 *.d3 *.farbojob);;MOLTRA Input Files (*.d12);;EVALIX "
               "Input Files (*.d3);;Farbojob Input Files (*.farbojob);;All Files (*)"));
    if (paths.isEmpty())
        return;
    settings->setValue(SettingsKeys::LastFolder, QFileInfo(paths.first()).path());
    openFiles(paths);
}

void MainWindow::openWorkdir()
{
    const QUrl folder = QUrl::fromLocalFile(m_launcher->loaded().workDir());
    if (!QDesktopServices::openUrl(folder))
        critical(QStringLiteral("Unable to open the folder %1").arg(folder.toLocalFile()));
}

void MainWindow::startJob()
{
    m_launcher->startOrStop(m_input->choice());
}

void MainWindow::stopJob()
{
    m_launcher->stop();
}

void MainWindow::updateProgress()
{
    m_output->poll();
}

void MainWindow::uploadOutput()
{
    if (m_launcher->uploader()->isBusy())
        return;
    (new UploadProgress(m_launcher->uploader(), this))->show();
    m_launcher->upload();
}

void MainWindow::uploadOutputReply(const Uploader::Outcome &)
{
    for (UploadProgress *progress : findChildren<UploadProgress *>())
        progress->dismiss();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    const Launcher::Closing closing = m_launcher->close();
    if (closing != Launcher::Closing::No)
        m_launcher->settings()->setValue(SettingsKeys::WindowGeometry, saveGeometry());
    event->setAccepted(closing == Launcher::Closing::Now);
}

bool MainWindow::focusNextPrevChild(bool next)
{
    return m_keyboard->focusNext(next) || QMainWindow::focusNextPrevChild(next);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!Launcher::droppedFiles(event->mimeData()->urls()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QStringList paths = Launcher::droppedFiles(event->mimeData()->urls());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened once the drop is over: a message about the files must not hold up the drag's
    // source.
    QMetaObject::invokeMethod(
            this, [this, paths] { openFiles(paths); }, Qt::QueuedConnection);
}

void MainWindow::critical(const QString &l_text, const QString &l_details)
{
    QMessageBox box(QMessageBox::Critical, windowTitle(), l_text, QMessageBox::Ok, this);
    // "Show Details..." then holds what did not fit into the text.
    box.setDetailedText(l_details);
    box.exec();
}
