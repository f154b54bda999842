// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "job/programcatalog.h"
#include "mainwindow/outputview.h"
#include "mainwindow/recentfiles.h"
#include "settings/settingskeys.h"
#include "ui_mainwindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMimeData>
#include <QScrollBar>
#include <QSettings>

void MainWindow::chooseFile()
{
    const QStringList paths = QFileDialog::getOpenFileNames(
            this, tr("Choose MOLTRA input file..."),
            SettingsKeys::stringValue(*m_settings, SettingsKeys::LastFolder),
            tr("All supported files (*.d12 *.d3 *.farbojob);;MOLTRA Input Files (*.d12);;EVALIX "
               "Input Files (*.d3);;Farbojob Input Files (*.farbojob);;All Files (*)"));
    if (paths.isEmpty())
        return;
    m_settings->setValue(SettingsKeys::LastFolder, QFileInfo(paths.first()).path());
    openFiles(paths);
}

void MainWindow::openFiles(const QStringList &l_paths)
{
    if (l_paths.size() == 1)
        return openFile(l_paths.first());
    // Job files bring their own folders and questions: they come one at a time.
    for (const QString &path : l_paths) {
        if (ProgramCatalog::namesForDeck(QFileInfo(path).suffix()).isEmpty()) {
            critical(tr("Only decks (.d12, .d3) run as a batch; %1 is not one. Open job files "
                        "one at a time.")
                             .arg(QFileInfo(path).fileName()));
            return;
        }
    }
    runBatch(l_paths);
}

void MainWindow::openFile(const QString &l_path)
{
    letGoOfJob();
    const QFileInfo info(l_path);
    if (info.suffix() == QLatin1String("farbojob")) {
        importJobFile(l_path);
        return;
    }
    const QString refusal = JobFileImporter::refusal(l_path);
    if (!refusal.isEmpty()) {
        critical(refusal);
        return;
    }
    // The portal job's folder would go with it.
    if (!releaseJobFolder())
        return;
    m_loaded = LoadedJob(l_path);
    ui->toolButtonUpload->setEnabled(false);
    loadInputFile(m_loaded.deck());
    m_recent_files->remember(l_path);
}

QString MainWindow::droppedFile(const QMimeData *l_data)
{
    const QStringList paths = droppedFiles(l_data);
    return paths.size() == 1 ? paths.first() : QString();
}

QStringList MainWindow::droppedFiles(const QMimeData *l_data)
{
    QStringList paths;
    const QList<QUrl> urls = l_data->urls();
    for (const QUrl &url : urls) {
        const QString suffix = QFileInfo(url.toLocalFile()).suffix();
        const bool deck = !ProgramCatalog::namesForDeck(suffix).isEmpty();
        const bool jobFile = suffix == QLatin1String("farbojob") && urls.size() == 1;
        if (!url.isLocalFile() || !(deck || jobFile))
            return QStringList();
        paths << url.toLocalFile();
    }
    return paths;
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QStringList paths = droppedFiles(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened once the drop is over: a message about the files must not hold up the drag's
    // source.
    QMetaObject::invokeMethod(
            this, [this, paths] { openFiles(paths); }, Qt::QueuedConnection);
}

void MainWindow::loadInputFile(const QString &l_path)
{
    const QFileInfo info(l_path);
    if (info.absoluteFilePath() != QFileInfo(m_loaded.deck()).absoluteFilePath())
        m_loaded = LoadedJob(l_path);
    setStatus(QString());
    ui->lineEditInputFile->setText(info.fileName());
    QFile file(m_loaded.deck());
    // A portal job brings its own title.
    if (!m_loaded.isPortalJob() && file.open(QIODevice::ReadOnly | QIODevice::Text))
        ui->lineEditTitle->setText(QString::fromUtf8(file.readLine()));
    ui->lineEditWorkDir->setText(m_loaded.workDir());
    ui->plainTextEditInput->clear();
    reloadDeck();
    if (!m_deck_watcher->files().isEmpty())
        m_deck_watcher->removePaths(m_deck_watcher->files());
    m_deck_watcher->addPath(m_loaded.deck());

    // A deck of another kind keeps the program list as it was.
    const QStringList programs = ProgramCatalog::namesForDeck(info.suffix());
    if (!programs.isEmpty()) {
        ui->comboBoxProgram->clear();
        ui->comboBoxProgram->addItems(programs);
        // The program and cores of the last job, where the program fits this deck.
        const int last = ui->comboBoxProgram->findText(
                SettingsKeys::stringValue(*m_settings, SettingsKeys::LastProgram));
        ui->comboBoxProgram->setCurrentIndex(qMax(0, last));
        ui->spinBoxProcs->setValue(m_settings->value(SettingsKeys::LastCores, 1).toInt());
    }
    ui->toolButtonStart->setEnabled(true);
    ui->toolButtonOpenWorkdir->setEnabled(true);
    ui->toolButtonOpenInEditor->setEnabled(true);
    showDeckOutput();
}

void MainWindow::reloadDeck()
{
    QFile file(m_loaded.deck());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    const QString text = QString::fromUtf8(file.readAll());
    if (text == ui->plainTextEditInput->toPlainText())
        return;
    // The reader keeps their place in a deck that changed.
    const int line = ui->plainTextEditInput->verticalScrollBar()->value();
    ui->plainTextEditInput->setPlainText(text);
    ui->plainTextEditInput->verticalScrollBar()->setValue(line);
}

void MainWindow::showDeckOutput()
{
    // The deck's own output from an earlier run, or nothing: never another job's.
    const Program *program = ProgramCatalog::find(ui->comboBoxProgram->currentText());
    m_output->showEarlier(program ? m_loaded.workDir() + QLatin1Char('/')
                                          + QFileInfo(m_loaded.deck()).baseName()
                                          + program->outputSuffix
                                  : QString());
}

void MainWindow::changeProgram(const QString &l_program)
{
    const Program *program = ProgramCatalog::find(l_program);
    ui->spinBoxProcs->setEnabled(program && program->parallel);
}
