// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QSettings>
#include <QTest>

#include <sys/wait.h>

IsolatedEnvironment::IsolatedEnvironment()
{
    QDir(m_root.path()).mkpath(QStringLiteral("tmp"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_root.path());
    qputenv("TMPDIR", QFile::encodeName(m_root.path() + QStringLiteral("/tmp")));
    // The documents folder and everything else under the home folder: the test's own.
    qputenv("HOME", QFile::encodeName(m_root.path()));
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
}

QString writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString writeScript(const QString &path, const QByteArray &body)
{
    writeFile(path, body.startsWith("#!") ? body : "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    return path;
}

QString writeStandIn(const QString &dir, const QString &name, const QByteArray &body)
{
    return writeScript(dir + QStringLiteral("/package/") + name,
                       "echo $$ > '" + QFile::encodeName(dir + QLatin1Char('/') + name) + ".pid'\n"
                               + body);
}

QString writeJobFile(const QString &path, const QJsonObject &fields)
{
    QJsonObject job{ { QStringLiteral("input_file_name"), QStringLiteral("mgo.d12") },
                     { QStringLiteral("input_file_content"), QStringLiteral("MgO\n") },
                     { QStringLiteral("title"), QStringLiteral("Bands") },
                     { QStringLiteral("user_id"), 7 },
                     { QStringLiteral("user_token"), QStringLiteral("t0k+n") } };
    for (auto it = fields.begin(); it != fields.end(); ++it)
        job.insert(it.key(), it.value());
    return writeFile(path, QJsonDocument(job).toJson());
}

void writeFakeCluster(const QString &dir)
{
    // Quoted for the scripts: the folder may hold blanks.
    const QByteArray fake = "'" + dir.toUtf8() + "/fake'";
    QDir().mkpath(dir + QStringLiteral("/home"));
    QDir().mkpath(dir + QStringLiteral("/fake"));
    // ssh: the master and its check succeed; a command runs in the remote home unless the
    // "mode" file says to fail, answer nothing, stall, lose the answer of a submission, or cut
    // each copy of a file after 5,000 bytes. Copies are logged to copies.log.
    writeScript(dir + QStringLiteral("/bin/ssh"), "#!/bin/bash\nfake=" + fake + "\n" + R"(
for a in "$@"; do case "$a" in -O|-N) exit 0;; esac; done
command=${@: -1}
mode=$(cat "$fake/mode" 2>/dev/null)
case "$command" in "tail -c "*) echo "$command" >> "$fake/copies.log";; esac
case "$mode" in
    refused) echo "ssh: connect to host cluster port 22: Connection refused" >&2; exit 255;;
    empty) exit 0;;
    stall) sleep 30; exit 0;;
    no-fetch) case "$command" in "cat -- "*|"tail -c "*)
        echo "cat: Permission denied" >&2; exit 1;; esac;;
    cut) case "$command" in "tail -c "*)
        cd "$fake/../home" && bash -c "$command" | head -c 5000; exit 255;; esac;;
esac
case "$mode:$command" in slow-submit:*moltra-job.sh*) touch "$fake/submitting"; sleep 1;; esac
cd "$fake/../home" && PATH="$fake/../slurm:$PATH" bash -c "$command"
status=$?
case "$mode:$command" in lose-submit:*moltra-job.sh*) exit 255;; esac
exit $status
)");
    writeScript(dir + QStringLiteral("/slurm/sbatch"), "fake=" + fake + "\n" + R"(
case "$*" in *--test-only*)
    if [ -s "$fake/refuse" ]; then cat "$fake/refuse" >&2; exit 1; fi
    echo "sbatch: Job 1 to start" >&2; exit 0;;
esac
echo "$PWD $*" >> "$fake/sbatch.log"
# With "run", the job's script runs here in a process group of its own, as job 7.
if [ -e "$fake/run" ]; then
    for script; do :; done
    setsid bash "$script" > slurm-7.log 2>&1 < /dev/null &
    pid=$!
    # Listed from the answer on, as Slurm lists a job it took: once setsid made the group.
    while ! kill -0 "-$pid" 2>/dev/null && kill -0 "$pid" 2>/dev/null; do sleep 0.01; done
    echo $pid > "$fake/job.pid"
fi
echo 7
)");
    writeScript(dir + QStringLiteral("/slurm/squeue"), "fake=" + fake + "\n" + R"sh(
if [ -f "$fake/squeue" ]; then cat "$fake/squeue"
elif [ -f "$fake/job.pid" ] && kill -0 "-$(cat "$fake/job.pid")" 2>/dev/null; then
    echo '7|RUNNING|None'
fi
exit $(cat "$fake/squeue.exit" 2>/dev/null || echo 0)
)sh");
    writeScript(dir + QStringLiteral("/slurm/scontrol"), "cat " + fake + "/scontrol\n");
    writeScript(dir + QStringLiteral("/slurm/sacct"),
                "cat " + fake
                        + "/sacct 2>/dev/null || { echo 'accounting storage is disabled' >&2; "
                          "exit 1; }\n");
    writeScript(dir + QStringLiteral("/slurm/scancel"), "fake=" + fake + "\n" + R"sh(
echo "$*" >> "$fake/scancel.log"
[ -f "$fake/job.pid" ] && kill -TERM "-$(cat "$fake/job.pid")" 2>/dev/null
exit 0
)sh");
    writeScript(dir + QStringLiteral("/package/moltra"), "exit 0\n");
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool processAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    // A zombie counts as gone: reap it if it is one of ours.
    ::waitpid(pid_t(pid), nullptr, WNOHANG);
    const QByteArray line = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.mid(close + 2, 1) != "Z";
}

qint64 waitForPid(const QString &path)
{
    if (!QTest::qWaitFor([path] { return !readFile(path).trimmed().isEmpty(); }, 10000))
        qWarning("no process id in %s", qPrintable(path));
    return readFile(path).trimmed().toLongLong();
}
