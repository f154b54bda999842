// SPDX-License-Identifier: GPL-3.0-or-later
// Follows an output file that grows by 64 KiB per tick up to 100 MB in the real window and
// prints, per file size, the GUI-thread time of a tick: the whole-file approach (re-read,
// re-decode and replace the whole pane) for reference, and the launcher's own tick.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_follow [megabytes]
//
// With "fast", a writer thread streams 24 MB in 64 KiB pieces at 1 MB per 200 ms while the
// window follows it on its own timer, and the event loop's lateness is measured by a 5 ms timer.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_follow fast

#include "latenessprobe.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/outputfileview.h"
#include "windowsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 Step = 64 * 1024;
constexpr qint64 MB = 1024 * 1024;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

double maximum(const QList<double> &values)
{
    return values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end());
}

QByteArray outputChunk(int index)
{
    QByteArray chunk;
    chunk.reserve(Step + 128);
    int line = 0;
    while (chunk.size() < Step) {
        chunk += QByteArray(" CYCLE ") + QByteArray::number(index) + ' '
                + QByteArray::number(line++)
                + "   ETOT(AU) -2.7460912345E+02  DETOT -1.23E-06  \xc3\x85ngstr\xc3\xb6m  tst\r\n";
    }
    chunk.truncate(Step);
    return chunk;
}

// The reference: what a tick costs when it shows the whole file anew.
double wholeFileTick(QPlainTextEdit *pane, const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        pane->setPlainText(QString::fromUtf8(file.readAll()));
        pane->ensureCursorVisible();
        pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
    }
    QCoreApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

}

// Lateness of the event loop while the window follows a fast writer.
int followFastWriter(MainWindow &window, const QString &output)
{
    constexpr int TotalMB = 24;
    // The step's own start truncates its output: the writer begins once it has.
    while (!QFileInfo::exists(output))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    LatenessProbe probe;
    QElapsedTimer clock;
    clock.start();
    qint64 written = 0;
    qint64 finishedAt = 0;
    QThread *writer = QThread::create([&] {
        QFile file(output);
        file.open(QIODevice::WriteOnly | QIODevice::Append);
        QElapsedTimer pace;
        pace.start();
        for (int piece = 0; piece < TotalMB * 16; ++piece) {
            QByteArray chunk = outputChunk(piece);
            // Plain ASCII lines, so that the pane's length tells when it is complete.
            for (char &c : chunk)
                c = c == '\r' || uchar(c) >= 0x80 ? ' ' : c;
            file.write(chunk);
            file.flush();
            written += chunk.size();
            // 16 pieces of 64 KiB, one megabyte, every 200 ms.
            const qint64 due = qint64(piece + 1) * 200 / 16;
            QThread::msleep(qMax<qint64>(0, due - pace.elapsed()));
        }
        finishedAt = clock.nsecsElapsed();
    });
    auto *view = window.findChild<OutputFileView *>(QStringLiteral("outputView"));
    qint64 completeAt = 0;
    QEventLoop loop;
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (!writer->isFinished() || view->size() < written)
            return;
        completeAt = clock.nsecsElapsed();
        loop.quit();
    });
    probe.start();
    done.start(1);
    writer->start();
    loop.exec();
    writer->wait();
    delete writer;
    std::printf("fast writer, %d MB at 1 MB per 200 ms: event-loop lateness median %.1f ms, "
                "p99 %.1f ms, max %.1f ms; pane complete %.0f ms after the last write\n",
                TotalMB, probe.at(0.5), probe.at(0.99), probe.at(1),
                (completeAt - finishedAt) / 1e6);
    return 0;
}

int main(int argc, char *argv[])
{
    // The launcher would take an argument for a job file to import.
    int launcherArgc = 1;
    QApplication application(launcherArgc, argv);
    const bool fast = argc > 1 && QByteArray(argv[1]) == "fast";
    const qint64 totalMB = argc > 1 && !fast ? QByteArray(argv[1]).toLongLong() : 100;

    IsolatedEnvironment environment;
    const QString package = environment.path() + QStringLiteral("/package");
    writeScript(package + QStringLiteral("/moltra"), "exec sleep 3600\n");
    launcherSettings().setValue(QStringLiteral("moltraDir"), package);
    const QString job = writeFile(
            environment.path() + QStringLiteral("/bench.farbojob"),
            R"({"input_file_name": "bench.d12", "input_file_content": "BENCH\nEND\n"})");

    MainWindow window;
    window.show();
    window.importJobFile(job);
    const QString output = window.findChild<QLineEdit *>(QStringLiteral("lineEditWorkDir"))->text()
            + QStringLiteral("/bench.out");
    window.findChild<QToolButton *>(QStringLiteral("toolButtonStart"))->click();
    if (fast)
        return followFastWriter(window, output);
    // The benchmark drives the ticks itself, one per 64 KiB written.
    window.findChild<QTimer *>()->stop();
    QCoreApplication::processEvents();

    auto *view = window.findChild<OutputFileView *>(QStringLiteral("outputView"));
    // The whole-file approach, in a text pane of its own.
    QPlainTextEdit pane;
    pane.resize(600, 400);
    pane.show();
    QFile file(output);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }

    const QList<qint64> marks = { 1, 20, 100 };
    QList<double> ticks;
    std::printf("%8s %14s %14s %14s %14s %10s\n", "size", "whole median", "whole max",
                "ours median", "ours max", "ratio");
    for (qint64 written = 0; written < totalMB * MB;) {
        file.write(outputChunk(int(written / Step)));
        file.flush();
        written += Step;
        QElapsedTimer timer;
        timer.start();
        window.updateProgress();
        view->complete();
        ticks.append(timer.nsecsElapsed() / 1e6);

        const qint64 mark = written / MB;
        if (written % MB != 0 || !marks.contains(mark) || mark > totalMB)
            continue;
        // Ours: the ticks that brought the file to this size, the last megabyte's worth.
        const QList<double> recent = ticks.mid(ticks.size() - int(MB / Step));
        // The reference: a few whole-file ticks at this size, on the same pane. They leave the
        // pane with the text the launcher's own ticks had put there, so following goes on.
        QList<double> whole;
        const int samples = mark >= 100 ? 2 : mark >= 20 ? 3 : 8;
        for (int i = 0; i < samples; ++i)
            whole.append(wholeFileTick(&pane, output));
        std::printf("%6lld MB %11.2f ms %11.2f ms %11.3f ms %11.3f ms %9.0fx\n", mark,
                    median(whole), maximum(whole), median(recent), maximum(recent),
                    median(whole) / median(recent));
        std::fflush(stdout);
    }
    std::printf("all %lld ticks: median %.3f ms, max %.3f ms\n", qint64(ticks.size()),
                median(ticks), maximum(ticks));
    return 0;
}
