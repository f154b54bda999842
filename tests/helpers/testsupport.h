// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QJsonObject>
#include <QTemporaryDir>

// A settings store and a temporary directory of the test's own, never the user's.
class IsolatedEnvironment
{
public:
    IsolatedEnvironment();
    QString path() const { return m_root.path(); }

private:
    QTemporaryDir m_root;
};

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
// answer), "stall", "no-fetch" (no file is read), "slow-submit" (sbatch's command answers after a
// second), "lose-submit" (the answer of sbatch's command lost) or "cut" (a copy of a file cut
// after 5,000 bytes); the command of each copy is logged to dir/fake/copies.log; sbatch submits job
// 7 and logs to dir/fake/sbatch.log, and where dir/fake/run exists runs its script in a process
// group of its own; squeue prints dir/fake/squeue, or without it lists job 7 as running while that
// group lives (it exits with dir/fake/squeue.exit); scontrol prints dir/fake/scontrol; scancel logs
// to dir/fake/scancel.log and ends the group; dir/package/moltra is the cluster's program.
void writeFakeCluster(const QString &dir);
QByteArray readFile(const QString &path);
bool processAlive(qint64 pid);
// Waits until the file holds a process id, and returns it.
qint64 waitForPid(const QString &path);

#endif
