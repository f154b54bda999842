// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/uploadprogress.h"

#include "portal/uploader.h"

#include <QLocale>
#include <QTimer>

UploadProgress::UploadProgress(Uploader *uploader, QWidget *parent)
    : QProgressDialog(tr("Uploading job files to Farbo server..."), tr("Cancel"), 0, 0, parent)
    , m_uploader(uploader)
{
    setWindowModality(Qt::WindowModal);
    setMinimumDuration(0);
    setAutoClose(false);
    setAutoReset(false);
    connect(this, &QProgressDialog::canceled, uploader, &Uploader::cancel);
    // A modal progress dialog runs the event loop when its value changes, which the network
    // layer must not meet inside its own signals: the value is shown from a timer of its own.
    auto *shown = new QTimer(this);
    connect(shown, &QTimer::timeout, this, &UploadProgress::showProgress);
    shown->start(100);
}

void UploadProgress::showProgress()
{
    const qint64 sent = m_uploader->sent();
    const qint64 total = m_uploader->total();
    if (total > 0 && sent >= total) {
        setLabelText(tr("Waiting for the portal's answer..."));
        setRange(0, 0);
        return;
    }
    const QLocale locale;
    setLabelText(tr("Uploading job files to Farbo server...\n%1 of %2")
                         .arg(locale.formattedDataSize(sent, 1, QLocale::DataSizeSIFormat),
                              locale.formattedDataSize(total, 1, QLocale::DataSizeSIFormat)));
    // Kibibytes: the dialog counts in int.
    setMaximum(int(total / 1024));
    setValue(int(sent / 1024));
}

void UploadProgress::dismiss()
{
    // Its timers end before any box opens: a value set later, or the dialog's own timer that
    // shows it after a while, would show it again over the box, and block both.
    for (QTimer *timer : findChildren<QTimer *>())
        timer->stop();
    disconnect(m_uploader);
    hide();
    deleteLater();
}
