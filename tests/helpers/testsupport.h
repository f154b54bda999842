// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QJsonObject>
#include <QPointer>
#include <QQueue>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <functional>

// A settings store and a temporary directory of the test's own, never the user's.
class IsolatedEnvironment
{
public:
    IsolatedEnvironment();
    QString path() const { return m_root.path(); }

private:
    QTemporaryDir m_root;
};

// The launcher's own settings store, as the test's environment places it.
QSettings launcherSettings();

QString writeFile(const QString &path, const QByteArray &content);
// Writes an executable script that stands in for one of the package's programs: a shell
// script unless the body names its own interpreter.
QString writeScript(const QString &path, const QByteArray &body);
// Writes <dir>/package/<name>, a stand-in for one of the package's programs that puts its
// process id into <dir>/<name>.pid and then runs the body.
QString writeStandIn(const QString &dir, const QString &name, const QByteArray &body);
// Writes a portal job file: a MOLTRA job of user 7 with the given fields put over the defaults.
QString writeJobFile(const QString &path, const QJsonObject &fields = {});
// Stand-ins for ssh and Slurm's commands under dir: bin/ssh runs each command in dir/home with
// dir/slurm first on the path, unless dir/fake/mode says "refused" (exit 255), "empty" (no
// answer), "stall", "no-fetch" (no file is read) or "lose-submit" (the answer of sbatch's command
// lost); sbatch submits job 7 and logs to dir/fake/sbatch.log, and where dir/fake/run exists
// runs its script in a process group of its own; squeue prints dir/fake/squeue, or without it
// lists job 7 as running while that group lives (it exits with dir/fake/squeue.exit);
// scontrol prints dir/fake/scontrol; scancel logs to dir/fake/scancel.log and ends the group;
// dir/package/moltra is the cluster's program.
void writeFakeCluster(const QString &dir);
QByteArray readFile(const QString &path);
bool processAlive(qint64 pid);
// Waits until the file holds a process id, and returns it.
qint64 waitForPid(const QString &path);

// Answers the modal boxes and dialogs that open over the window, in the order the answers were
// queued, and keeps the text of every message box. A modal widget without an answer, or one
// that an answer left open, is closed and counted, so a test never hangs.
class ModalAnswerer : public QObject
{
public:
    using Action = std::function<void(QWidget *)>;

    ModalAnswerer();
    void act(Action action) { m_actions.enqueue(std::move(action)); }
    // Clicks the button of this text, as "OK" or "Keep folder".
    void answer(const QString &button);
    void click(QWidget *widget, const QString &button);
    int pending() const { return int(m_actions.size()); }

    QStringList shown;
    int unexpected = 0;

private:
    void poll();

    QTimer m_timer;
    QQueue<Action> m_actions;
    QPointer<QWidget> m_current;
    int m_polls = 0;
};

#endif
