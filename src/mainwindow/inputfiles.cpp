#include "mainwindow/mainwindow.h"

#include "ui_mainwindow.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

void MainWindow::chooseFile()
{
    const QString path = QFileDialog::getOpenFileName(
            this, tr("Choose MOLTRA input file..."), m_last_dir,
            tr("MOLTRA Input Files (*.d12);;EVALIX Input Files (*.d3);;Farbojob Input Files "
               "(*.farbojob);;All Files (*)"));
    m_last_dir = path.isEmpty() ? QString() : QFileInfo(path).path();
    if (path.isEmpty())
        return;

    m_job_id = 0;
    m_user_id = 0;
    m_user_token.clear();
    m_step_count = 0;
    m_step = 0;
    ui->toolButtonUpload->setEnabled(false);

    m_work_dir = m_last_dir;
    loadInputFile(path);
}

void MainWindow::loadInputFile(const QString &l_path)
{
    const QFileInfo info(l_path);
    m_input_file = info.path() + QLatin1Char('/') + info.fileName();
    const QString suffix = info.suffix();
    if (suffix == QLatin1String("farbojob")) {
        importJobFile(l_path);
        return;
    }

    ui->lineEditInputFile->setText(info.fileName());
    QFile file(m_input_file);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        // A portal job brings its own title.
        if (m_user_token.isEmpty()) {
            ui->lineEditTitle->setText(QString::fromUtf8(file.readLine()));
            file.seek(0);
        }
        ui->lineEditWorkDir->setText(m_work_dir);
        ui->plainTextEditInput->setPlainText(QString::fromUtf8(file.readAll()));
    }

    if (suffix == QLatin1String("d12")) {
        ui->comboBoxProgram->clear();
        ui->comboBoxProgram->addItems({ QStringLiteral("moltra"), QStringLiteral("Pmoltra"),
                                        QStringLiteral("MPPmoltra") });
        m_flag_d3 = false;
    } else if (suffix == QLatin1String("d3")) {
        m_flag_d3 = true;
        ui->comboBoxProgram->clear();
        ui->comboBoxProgram->addItems({ QStringLiteral("evalix"), QStringLiteral("Pevalix") });
    }

    ui->toolButtonStart->setEnabled(true);
    ui->toolButtonOpenWorkdir->setEnabled(true);
}

void MainWindow::changeProgram(const QString &l_program)
{
    ui->spinBoxProcs->setEnabled(l_program.startsWith(QLatin1Char('P'))
                                 || l_program.startsWith(QLatin1String("MPP")));
}

QString MainWindow::createJobFolder()
{
    delete m_temp_dir;
    m_temp_dir = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/farbojob_XXXXXX"));
    if (!m_temp_dir->isValid()) {
        critical(QStringLiteral("Unable to create temporary folder"));
        return QString();
    }
    return m_temp_dir->path();
}

namespace {

// Names from a job file must stay inside the job folder.
bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
            && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
            && !QDir::isAbsolutePath(name);
}

}

bool MainWindow::writeJobFile(const QString &l_name, const QString &l_content)
{
    if (!isPlainFileName(l_name))
        return false;
    QFile file(m_work_dir + QLatin1Char('/') + l_name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    const QByteArray bytes = l_content.toUtf8();
    if (file.write(bytes) == bytes.size() && file.flush())
        return true;
    // A cut-off deck must not be left for a job to run on.
    file.remove();
    return false;
}

void MainWindow::importJobFile(const QString &l_path)
{
    QFile jobFile(l_path);
    if (!jobFile.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    m_work_dir = createJobFolder();
    if (m_work_dir.isEmpty())
        return;

    const QJsonObject job = QJsonDocument::fromJson(jobFile.readAll()).object();
    const QString inputName = job.value(QLatin1String("input_file_name")).toString();
    if (!writeJobFile(inputName, job.value(QLatin1String("input_file_content")).toString())) {
        critical(QStringLiteral("Unable to create input file"));
        return;
    }
    if (job.value(QLatin1String("flag_f34")).toBool()
        && !writeJobFile(QStringLiteral("fort.34"),
                         job.value(QLatin1String("f34_file_content")).toString())) {
        critical(QStringLiteral("Unable to create f34 file"));
        return;
    }
    m_flag_d3 = job.value(QLatin1String("flag_d3")).toBool();
    if (m_flag_d3
        && !writeJobFile(job.value(QLatin1String("d12_file_name")).toString(),
                         job.value(QLatin1String("d12_file_content")).toString())) {
        critical(QStringLiteral("Unable to create d12 file"));
        return;
    }
    m_job_id = job.value(QLatin1String("job_id")).toInt();
    ui->lineEditTitle->setText(job.value(QLatin1String("title")).toString());
    // Stored before the deck is loaded, so that the loading keeps the job's title.
    m_user_token = job.value(QLatin1String("user_token")).toString();
    loadInputFile(m_work_dir + QLatin1Char('/') + inputName);

    // Code 4 selects the serial EVALIX as code 3 does; no code selects Pevalix.
    static const QStringList programsByCode
            = { QStringLiteral("moltra"), QStringLiteral("Pmoltra"), QStringLiteral("MPPmoltra"),
                QStringLiteral("evalix"), QStringLiteral("evalix") };
    const int program = job.value(QLatin1String("program")).toInt();
    if (program >= 0 && program < programsByCode.size())
        ui->comboBoxProgram->setCurrentText(programsByCode.at(program));
    if (ui->spinBoxProcs->isEnabled())
        ui->spinBoxProcs->setValue(job.value(QLatin1String("ncpus")).toInt());
    m_user_id = job.value(QLatin1String("user_id")).toInt();
}
