// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "job/jobmanager.h"
#include "job/localbackend.h"
#include "mainwindow/jobstab.h"
#include "mainwindow/keyboard.h"
#include "mainwindow/notifier.h"
#include "mainwindow/outputview.h"
#include "mainwindow/recentfiles.h"
#include "mainwindow/runcontrols.h"
#include "mainwindow/runon.h"
#include "mainwindow/texteditor.h"
#include "settings/dialogsettings.h"
#include "settings/settingskeys.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

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
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , m_uploader(new Uploader(this))
{
    registerResources();
    ui->setupUi(this);
    m_settings = new QSettings(SettingsKeys::Organization, SettingsKeys::Application);
    SettingsKeys::seedExecutableNames(*m_settings);
    m_output = new OutputView(ui->tabWidget, ui->plainTextEditOutput, this);
    m_notifier = new Notifier(QDBusConnection::sessionBus(), this);
    m_deck_watcher = new QFileSystemWatcher(this);
    setUpJobs();
    connectControls();
    setUpControls();
    setUpKeyboard();
    m_recent_files = new RecentFiles(ui->toolButtonChoose, m_settings);
    connect(m_recent_files, &RecentFiles::chosen, this, &MainWindow::openFile);
    m_run_controls = new RunControls(ui, this);
    restoreGeometry(m_settings->value(SettingsKeys::WindowGeometry).toByteArray());
    importCommandLineJob();
    setUpTimer();
}

MainWindow::~MainWindow()
{
    // Its steps end before their job folder goes, without telling a window that is going.
    m_jobs->disconnect(this);
    // The Jobs tab's rows read the manager's jobs until the table goes with the widgets.
    ui->tableViewJobs->setModel(nullptr);
    delete m_jobs_tab;
    delete m_jobs;
    delete ui;
    delete m_settings;
}

void MainWindow::connectControls()
{
    connect(ui->toolButtonChoose, &QToolButton::clicked, this, &MainWindow::chooseFile);
    connect(ui->comboBoxProgram, &QComboBox::currentTextChanged, this, &MainWindow::changeProgram);
    connect(ui->toolButtonSettings, &QToolButton::clicked, this, &MainWindow::changeSettings);
    connect(ui->toolButtonStart, &QToolButton::clicked, this, &MainWindow::startJob);
    connect(ui->toolButtonOpenWorkdir, &QToolButton::clicked, this, &MainWindow::openWorkdir);
    connect(ui->toolButtonOpenInEditor, &QToolButton::clicked, this, [this] {
        TextEditor::open(m_loaded.deck(), this,
                         [this, deck = m_loaded.deck()](const QString &error) {
                             if (!error.isEmpty())
                                 critical(tr("Cannot open %1 in an editor: %2.").arg(deck, error));
                         });
    });
    // A deck saved by an editor is shown anew; editors that save by renaming drop the watch.
    connect(m_deck_watcher, &QFileSystemWatcher::fileChanged, this, [this] {
        reloadDeck();
        m_deck_watcher->addPath(m_loaded.deck());
    });
    connect(ui->toolButtonUpload, &QToolButton::clicked, this, &MainWindow::uploadOutput);
    connect(m_jobs, &JobManager::stepStarted, this, [this](qint64 id) {
        if (id == m_current)
            m_output->restart();
    });
    // Start stays disabled until the stopped job has ended.
    connect(m_jobs, &JobManager::jobStateChanged, this, [this](qint64 id, Jobs::State state) {
        if (id != m_current || state != Jobs::State::Stopping)
            return;
        m_run_controls->showStopping();
        const Job *job = m_jobs->find(id);
        const QString program = job->stepProgram.isEmpty() ? job->program : job->stepProgram;
        setStatus(QStringLiteral("Stopping %1...").arg(program));
    });
    connect(m_jobs, &JobManager::jobEnded, this, [this](qint64 id, const JobOutcome &outcome) {
        const Job *job = m_jobs->find(id);
        // A long run may have been left in the background.
        if (job)
            m_notifier->ended(*job, outcome, isActiveWindow());
        if (m_close_when_stopped
            && !std::any_of(m_jobs->jobs().cbegin(), m_jobs->jobs().cend(),
                            [this](const Job &job) { return m_jobs->local()->runs(job.id); })) {
            close();
            return;
        }
        if (id == m_current)
            jobEnded(outcome);
        // A job the window let go of still says how it ended.
        else if (job)
            setStatus(tr("%1 on %2: %3")
                              .arg(QFileInfo(job->deck).fileName(), placeName(job->where),
                                   Jobs::endText(
                                           outcome,
                                           Jobs::durationText(job->started.secsTo(job->ended)))));
    });
    connect(m_uploader, &Uploader::finished, this, &MainWindow::uploadOutputReply);
    connect(m_notifier, &Notifier::unavailable, this, [this] { QApplication::alert(this); });
    connect(m_notifier, &Notifier::activated, this, [this](qint64 id) {
        takeFiles({});
        loadJob(id);
    });
}

void MainWindow::setUpControls()
{
    ui->spinBoxProcs->setEnabled(false);
    ui->toolButtonStart->setEnabled(false);
    ui->toolButtonOpenWorkdir->setEnabled(false);
    ui->toolButtonOpenInEditor->setEnabled(false);
    ui->toolButtonUpload->setEnabled(false);
    // A file dropped anywhere on the window opens, instead of its name going into a field.
    setAcceptDrops(true);
    for (QLineEdit *edit : findChildren<QLineEdit *>())
        edit->setAcceptDrops(false);
    for (QPlainTextEdit *edit : findChildren<QPlainTextEdit *>())
        edit->setAcceptDrops(false);
}

bool MainWindow::focusNextPrevChild(bool next)
{
    return m_keyboard->focusNext(next) || QMainWindow::focusNextPrevChild(next);
}

void MainWindow::setUpKeyboard()
{
    m_keyboard = new Keyboard(this, ui, m_output->tab(), m_output->findBar());
}

void MainWindow::takeFiles(const QStringList &l_files)
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
    if (!l_files.isEmpty())
        openFiles(l_files);
}

void MainWindow::importCommandLineJob()
{
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2)
        return;
    if (arguments.size() > 2)
        return openFiles(arguments.mid(1));
    // A deck opened from the desktop loads as if chosen; anything else is a portal job file.
    if (ProgramCatalog::namesForDeck(QFileInfo(arguments.at(1)).suffix()).isEmpty())
        importJobFile(arguments.at(1));
    else
        openFile(arguments.at(1));
}

void MainWindow::setUpTimer()
{
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &MainWindow::updateProgress);
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
    if (!SettingsKeys::stringValue(*m_settings, SettingsKeys::MoltraDir).isEmpty())
        return;
    const auto answer = QMessageBox::warning(
            this, windowTitle(), tr("Do you want to configure MOLTRA installation directory now?"),
            QMessageBox::Yes | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes)
        changeSettings();
}

void MainWindow::changeSettings()
{
    DialogSettings dialog(this, m_settings);
    dialog.setDirectory(SettingsKeys::stringValue(*m_settings, SettingsKeys::MoltraDir));
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_settings->setValue(SettingsKeys::MoltraDir, dialog.directory());
    dialog.storeLauncherSettings();
    dialog.storeClusters();
    m_run_on->apply();
}

QUrl MainWindow::workdirUrl() const
{
    return QUrl::fromLocalFile(m_loaded.workDir());
}

void MainWindow::openWorkdir()
{
    if (!QDesktopServices::openUrl(workdirUrl()))
        critical(QStringLiteral("Unable to open the folder %1").arg(workdirUrl().toLocalFile()));
}

void MainWindow::setStatus(const QString &l_text)
{
    ui->labelStatus->setText(l_text);
    ui->labelStatus->setToolTip(l_text);
}

void MainWindow::critical(const QString &l_text, const QString &l_details)
{
    QMessageBox box(QMessageBox::Critical, windowTitle(), l_text, QMessageBox::Ok, this);
    // "Show Details..." then holds what did not fit into the text.
    box.setDetailedText(l_details);
    box.exec();
}
