// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/jobfolderquestion.h"

#include "job/jobmanager.h"
#include "job/loadedjob.h"
#include "portal/folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("JobFolderQuestion", text);
}

bool keep(QWidget *window, LoadedJob &loaded, JobManager *jobs)
{
    // The system empties its temporary folder: the results go somewhere lasting.
    const QString path = loaded.workDir();
    const QString kept = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
            + QStringLiteral("/MOLTRA jobs/");
    QDir().mkpath(kept);
    const QString target = QFileDialog::getSaveFileName(window, tr("Keep the job folder as"),
                                                        kept + loaded.keptName(), QString(),
                                                        nullptr, QFileDialog::DontConfirmOverwrite);
    if (target.isEmpty())
        return false;
    QString error;
    if (!Folders::move(path, target, &error)) {
        QMessageBox::critical(
                window, window->windowTitle(),
                tr("The job folder could not be moved: %1.\nIt stays at %2.").arg(error, path));
        return false;
    }
    loaded.kept(target);
    jobs->folderMoved(path, target);
    QMessageBox::information(window, window->windowTitle(),
                             QStringLiteral("The job folder is kept: %1").arg(target));
    return true;
}

}

namespace JobFolderQuestion {

bool release(QWidget *window, LoadedJob &loaded, JobManager *jobs)
{
    if (!loaded.releaseMustAsk())
        return true;
    QMessageBox question(
            QMessageBox::Warning, window->windowTitle(),
            QStringLiteral("The job folder %1 holds results that have not been uploaded.")
                    .arg(loaded.workDir()),
            QMessageBox::Discard | QMessageBox::Cancel, window);
    QPushButton *keepButton = question.addButton(tr("Keep folder"), QMessageBox::AcceptRole);
    question.setDefaultButton(keepButton);
    question.exec();
    if (question.clickedButton() == keepButton)
        return keep(window, loaded, jobs);
    return question.clickedButton() == question.button(QMessageBox::Discard);
}

}
