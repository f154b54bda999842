// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBFOLDERQUESTION_H
#define JOBFOLDERQUESTION_H

class JobManager;
class LoadedJob;
class QWidget;

namespace JobFolderQuestion {

// Whether the loaded job's folder may go: asked when it holds results that were not uploaded,
// with Keep folder, which moves it to a place the user picks, Discard and Cancel.
bool release(QWidget *window, LoadedJob &loaded, JobManager *jobs);

}

#endif
