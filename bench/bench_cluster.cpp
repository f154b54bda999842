// SPDX-License-Identifier: GPL-3.0-or-later
// What following jobs on a Slurm cluster costs the cluster, and how soon the user sees things:
// SSH round trips and controller requests per look at the queue for 1, 10 and 100 jobs, the time
// from Start to the job's id, how late the local output is behind the remote one, and how long
// after a job's end the launcher sees it (followed, unfollowed, stopped). Runs on the tests'
// one-node cluster (as root, with slurm-wlm, munge and openssh-server installed).
#include "cluster/clusterbackend.h"
#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

QString g_cluster;

ClusterProfile profile(const QString &dir, int pollSeconds)
{
    ClusterProfile profile;
    profile.name = u"bench"_s;
    profile.host = u"moltra-test"_s;
    profile.sshOptions = u"-F '%1/ssh_config'"_s.arg(g_cluster);
    profile.remoteDir = dir + u"/remote"_s;
    profile.packageDir = g_cluster + u"/package"_s;
    profile.pollSeconds = pollSeconds;
    return profile;
}

SshConfig ssh(const QString &dir)
{
    QDir().mkpath(dir + u"/control"_s);
    SshConfig config;
    config.controlDir = dir + u"/control"_s;
    return config;
}

QString slurm(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"SLURM_CONF"_s, g_cluster + u"/slurm.conf"_s);
    process.setProcessEnvironment(environment);
    process.start(arguments.first(), arguments.mid(1));
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The controller's count of requests for job information so far.
qint64 jobInfoRequests()
{
    static const QRegularExpression line(
            u"^\\s*(REQUEST_JOB_INFO\\S*)\\s+\\(\\s*\\d+\\)\\s+count:(\\d+)"_s,
            QRegularExpression::MultilineOption);
    qint64 total = 0;
    auto matches = line.globalMatch(slurm({ u"sdiag"_s }));
    while (matches.hasNext())
        total += matches.next().captured(2).toLongLong();
    return total;
}

// Waits for the condition; a bench that cannot go on says so and ends.
template <typename Condition> void waitFor(Condition condition, const char *what)
{
    if (!QTest::qWaitFor(condition, 120000)) {
        std::fprintf(stderr, "Gave up waiting for %s\n", what);
        std::exit(1);
    }
}

Job deckJob(const QString &dir, const QByteArray &deck)
{
    Job job;
    job.workDir = dir + u"/work"_s;
    job.deck = writeFile(job.workDir + u"/mgo.d12"_s, deck);
    job.program = u"moltra"_s;
    job.where = u"bench"_s;
    job.plan = JobPlanner::plan(profile(dir, 1).packageConfig({}), job.program, job.deck,
                                job.workDir, 1)
                       .plan;
    return job;
}

void perPoll(const QString &base, int count)
{
    const QString dir = base + u"/poll%1"_s.arg(count);
    // The jobs, submitted at once, each with the folder a submission leaves.
    QStringList ids;
    for (int i = 0; i < count; ++i) {
        const QString jobDir = u"%1/remote/%2"_s.arg(dir).arg(i + 1);
        QDir().mkpath(jobDir);
        const QString id = slurm({ u"sbatch"_s, u"--parsable"_s, u"--chdir"_s, jobDir,
                                   u"--output=/dev/null"_s, u"--wrap"_s, u"sleep 600"_s })
                                   .trimmed();
        writeFile(jobDir + u"/moltra.jobid"_s, id.toUtf8() + '\n');
        ids.append(id);
    }
    ClusterBackend backend(profile(dir, 1), ssh(dir));
    int reported = 0;
    QObject::connect(&backend, &JobBackend::stateReported, [&reported] { ++reported; });
    for (int i = 0; i < count; ++i) {
        Job job = deckJob(dir, "sleep 600\n");
        job.id = i + 1;
        job.state = Jobs::State::Submitted;
        job.remoteId = ids.at(i);
        backend.watch(job);
    }
    // The first look sets up the connection; the second is what every later one costs.
    waitFor([&] { return reported >= count && backend.pollCount() >= 2; }, "the first look");
    const int commands = backend.ssh()->commandCount();
    const qint64 requests = jobInfoRequests();
    waitFor([&] { return backend.pollCount() >= 3; }, "the second look");
    std::printf("%4d jobs: %d SSH round trip(s) and %lld controller request(s) per look\n", count,
                backend.ssh()->commandCount() - commands,
                static_cast<long long>(jobInfoRequests() - requests));
    slurm(QStringList{ u"scancel"_s } + ids);
}

void startToId(const QString &base)
{
    QList<qint64> times;
    for (int round = 0; round < 3; ++round) {
        const QString dir = base + u"/start%1"_s.arg(round);
        JobManager jobs{ QString() };
        jobs.setBackend(u"bench"_s, new ClusterBackend(profile(dir, 3600), ssh(dir)));
        QElapsedTimer clock;
        clock.start();
        QString error;
        const qint64 id = jobs.start(deckJob(dir, "true\n"), &error);
        waitFor([&] { return id && !jobs.find(id)->remoteId.isEmpty(); }, "the job's id");
        times.append(clock.elapsed());
    }
    std::sort(times.begin(), times.end());
    std::printf("Start to the job's id: %lld ms (median of 3; the first sets up the connection)\n",
                static_cast<long long>(times.at(1)));
}

void paneLag(const QString &base)
{
    const QString dir = base + u"/lag"_s;
    JobManager jobs{ QString() };
    jobs.setBackend(u"bench"_s, new ClusterBackend(profile(dir, 1), ssh(dir)));
    QString error;
    const qint64 id = jobs.start(
            deckJob(dir, "for i in $(seq 20); do date +%s.%N; sleep 0.5; done\n"), &error);
    waitFor([&] { return id && jobs.find(id)->state == Jobs::State::Running; }, "the job to run");
    jobs.follow(id);
    QList<double> lags;
    qsizetype seen = 0;
    waitFor(
            [&] {
                const QList<QByteArray> lines = readFile(jobs.find(id)->outputFile).split('\n');
                const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
                for (; seen + 1 < lines.size(); ++seen)
                    lags.append(now - lines.at(seen).toDouble());
                return !Jobs::isActive(jobs.find(id)->state);
            },
            "the job's end");
    // Lines that came with the copy at the end were not followed.
    if (lags.isEmpty()) {
        std::printf("The output was not followed\n");
        return;
    }
    std::sort(lags.begin(), lags.end());
    std::printf("The pane behind the remote output: median %.2f s, worst %.2f s over %lld lines "
                "(fetched every %.1f s)\n",
                lags.at(lags.size() / 2), lags.last(), static_cast<long long>(lags.size()),
                ClusterBackend::FollowIntervalMs / 1000.0);
}

// Seconds from the job's end, by its own record, to the launcher's word of it: for a 4 s job
// that is followed, one that is not (looks every pollSeconds), and one stopped once it runs,
// counted from when Slurm no longer lists it. A followed job's record is read with its output.
void endSeen(const QString &base, const char *kind, int pollSeconds)
{
    const QString dir = base + u"/end-"_s + QLatin1String(kind);
    JobManager jobs{ QString() };
    jobs.setBackend(u"bench"_s, new ClusterBackend(profile(dir, pollSeconds), ssh(dir)));
    const bool stop = qstrcmp(kind, "stopped") == 0;
    QString error;
    const qint64 id = jobs.start(deckJob(dir, stop ? "sleep 300\n" : "sleep 4\n"), &error);
    qint64 seen = 0;
    QObject::connect(&jobs, &JobManager::jobEnded,
                     [&seen] { seen = QDateTime::currentMSecsSinceEpoch(); });
    // As the window follows the job it started.
    if (qstrcmp(kind, "unfollowed") != 0)
        jobs.follow(id);
    waitFor([&] { return id && jobs.find(id)->state == Jobs::State::Running; }, "the job to run");
    qint64 left = 0;
    if (stop) {
        jobs.stop(id);
        const QString remoteId = jobs.find(id)->remoteId;
        waitFor(
                [&] {
                    if (!left && slurm({ u"squeue"_s, u"-h"_s, u"-j"_s, remoteId }).isEmpty())
                        left = QDateTime::currentMSecsSinceEpoch();
                    return seen != 0;
                },
                "the stopped job's end");
    } else {
        waitFor([&] { return seen != 0; }, "the job's end");
    }
    const qint64 from = stop ? left : jobs.find(id)->ended.toMSecsSinceEpoch();
    std::printf(
            "End of a %s job seen %.1f s after %s (looks every %d s; state %s, lasted %.1f s)\n",
            kind, (seen - from) / 1000.0, stop ? "it left the queue" : "it ended", pollSeconds,
            qPrintable(Jobs::stateName(jobs.find(id)->state)),
            jobs.find(id)->started.msecsTo(jobs.find(id)->ended) / 1000.0);
}

}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    IsolatedEnvironment environment;
    g_cluster = environment.path() + u"/cluster"_s;
    QProcess start;
    start.start(u"" MOLTRA_TEST_CLUSTER ""_s, { u"start"_s, g_cluster });
    start.waitForFinished(60000);
    if (start.exitCode() != 0) {
        std::fprintf(stderr, "The test cluster did not start: %s\n",
                     start.readAllStandardError().constData());
        return 1;
    }
    writeScript(g_cluster + u"/package/moltra"_s, "exec bash -s\n");
    for (int count : { 1, 10, 100 })
        perPoll(environment.path(), count);
    startToId(environment.path());
    paneLag(environment.path());
    endSeen(environment.path(), "followed", 60);
    endSeen(environment.path(), "unfollowed", 5);
    endSeen(environment.path(), "stopped", 60);
    QProcess::execute(u"" MOLTRA_TEST_CLUSTER ""_s, { u"stop"_s, g_cluster });
    return 0;
}
