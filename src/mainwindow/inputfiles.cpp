// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "job/programcatalog.h"
#include "mainwindow/outputpane.h"
#include "ui_mainwindow.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

void MainWindow::chooseFile()
{
    const QString path = QFileDialog::getOpenFileName(
            this, tr("Choose MOLTRA input file..."), m_last_dir,
            tr("MOLTRA Input Files (*.d12);;EVALIX Input Files (*.d3);;Farbojob Input Files "
               "(*.farbojob);;All Files (*)"));
    m_last_dir = path.isEmpty() ? QString() : QFileInfo(path).path();
    if (!path.isEmpty())
        openFile(path);
}

void MainWindow::openFile(const QString &l_path)
{
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
    m_identity = PortalIdentity();
    ui->toolButtonUpload->setEnabled(false);
    m_work_dir = info.path();
    loadInputFile(l_path);
}

void MainWindow::loadInputFile(const QString &l_path)
{
    const QFileInfo info(l_path);
    m_input_file = info.path() + QLatin1Char('/') + info.fileName();
    setStatus(QString());
    ui->lineEditInputFile->setText(info.fileName());
    QFile file(m_input_file);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        // A portal job brings its own title.
        if (m_identity.userToken.isEmpty()) {
            ui->lineEditTitle->setText(QString::fromUtf8(file.readLine()));
            file.seek(0);
        }
        ui->lineEditWorkDir->setText(m_work_dir);
        ui->plainTextEditInput->setPlainText(QString::fromUtf8(file.readAll()));
    }

    // A deck of another kind keeps the program list and the EVALIX flag as they were.
    const QStringList programs = ProgramCatalog::namesForDeck(info.suffix());
    if (!programs.isEmpty()) {
        m_flag_d3 = info.suffix() == QLatin1String("d3");
        ui->comboBoxProgram->clear();
        ui->comboBoxProgram->addItems(programs);
    }
    ui->toolButtonStart->setEnabled(true);
    ui->toolButtonOpenWorkdir->setEnabled(true);
    showDeckOutput();
}

void MainWindow::showDeckOutput()
{
    // The pane shows the loaded deck's own output from an earlier run, or nothing: never
    // another job's.
    m_pane->clear();
    m_follower.reset();
    const Program *program = ProgramCatalog::find(ui->comboBoxProgram->currentText());
    const QString output = program ? m_work_dir + QLatin1Char('/')
                    + QFileInfo(m_input_file).baseName() + program->outputSuffix
                                   : QString();
    const int outputTab = ui->tabWidget->indexOf(m_output_tab);
    // Only a regular file: opening a named pipe would wait for a writer.
    if (!QFileInfo(output).isFile()) {
        if (outputTab >= 0)
            ui->tabWidget->removeTab(outputTab);
        return;
    }
    if (outputTab < 0)
        ui->tabWidget->insertTab(1, m_output_tab, QStringLiteral("Output"));
    m_pane->take(m_follower.poll(output));
}

void MainWindow::changeProgram(const QString &l_program)
{
    const Program *program = ProgramCatalog::find(l_program);
    ui->spinBoxProcs->setEnabled(program && program->parallel);
}
