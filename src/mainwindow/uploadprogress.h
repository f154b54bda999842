// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef UPLOADPROGRESS_H
#define UPLOADPROGRESS_H

#include <QProgressDialog>

class Uploader;

// Shows how far an upload is, and cancels it.
class UploadProgress : public QProgressDialog
{
    Q_OBJECT

public:
    UploadProgress(Uploader *uploader, QWidget *parent);
    // Goes for good, before the upload's result is shown.
    void dismiss();

private:
    void showProgress();

    Uploader *m_uploader;
};

#endif
