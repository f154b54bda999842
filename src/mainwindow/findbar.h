// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef FINDBAR_H
#define FINDBAR_H

#include "job/outputsearch.h"

#include <QWidget>

#include <memory>

class OutputFileView;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTimer;
template <typename T> class QFutureWatcher;

// A bar under the output that finds text in the whole file, in a thread of its own: next,
// previous, match case; the search wraps around the file's ends, and a new search or Esc ends
// the one running. Searching a large file says how far it got.
class FindBar : public QWidget
{
    Q_OBJECT

public:
    // Files larger than this say how far the search got.
    static constexpr qint64 ProgressShown = 64 * 1024 * 1024;

    explicit FindBar(OutputFileView *view, QWidget *parent = nullptr);
    ~FindBar() override;

    // Shows the bar with its text selected, ready to type.
    void open();
    void find(bool backward);
    void cancel();

Q_SIGNALS:
    void finished(bool found);

private:
    void start(const OutputSearch::Request &request);
    void searched(qint64 offset);

    OutputFileView *m_view;
    QLineEdit *m_text;
    QCheckBox *m_match_case;
    QLabel *m_result;
    QTimer *m_progress_shown;
    QFutureWatcher<qint64> *m_watcher = nullptr;
    std::shared_ptr<std::atomic_bool> m_cancel;
    std::shared_ptr<std::atomic<qint64>> m_progress;
    OutputSearch::Request m_request;
    // The search goes on from the other end once.
    bool m_wrapped = false;
};

#endif
