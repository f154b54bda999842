// SPDX-License-Identifier: GPL-3.0-or-later
// Shows an output file of 80-byte lines in the output view and, where it can hold the file, in a
// plain text pane (how the Output tab showed files before), and prints for each: the time to the
// first screen, to the whole file taken in, the resident memory above idle, the event loop's
// longest stalls meanwhile and while following a writer of 1 MB per 200 ms; then find of a string
// on the last line against `grep -c` on the same file, and a jump to line 10,000,000.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_view [megabytes [pane megabytes]]

#include "job/outputsearch.h"
#include "latenessprobe.h"
#include "mainwindow/outputfileview.h"
#include "testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QThread>

#include <cstdio>

namespace {

constexpr qint64 MB = 1024 * 1024;

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// 80-byte lines, the last one unlike the others.
void writeOutput(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    QByteArray block;
    for (qint64 line = 0; block.size() < 8 * MB; ++line)
        block += QByteArray(" CYCLE %1   ETOT(AU) -2.7460912345E+02  DETOT -1.23E-06")
                         .replace("%1", QByteArray::number(line % 1000000).rightJustified(10, ' '))
                         .leftJustified(79, ' ', true)
                + '\n';
    for (qint64 written = 0; written < size - 80; written += block.size())
        file.write(block.left(qMin<qint64>(block.size(), size - 80 - written)));
    file.write(
            QByteArray("LAST LINE OF THE OUTPUT: THE END OF THE BENCHMARK'S FILE").leftJustified(79)
            + '\n');
}

double msSince(const QElapsedTimer &clock)
{
    return clock.nsecsElapsed() / 1e6;
}

void measureView(const QString &path, qint64 size)
{
    OutputFileView view;
    view.resize(800, 600);
    view.show();
    QCoreApplication::processEvents();
    const qint64 idle = residentKiB();
    LatenessProbe probe;
    probe.start();
    QElapsedTimer clock;
    clock.start();
    view.open(path);
    view.repaint();
    const double first = msSince(clock);
    while (view.size() < size)
        QCoreApplication::processEvents();
    const double whole = msSince(clock);
    std::printf("view:  first screen %.1f ms; whole file taken in %.0f ms (%.0f MB/s); lateness "
                "meanwhile p99 %.1f ms, max %.1f ms; resident above idle %.1f MB\n",
                first, whole, size / MB / (whole / 1000), probe.at(0.99), probe.at(1),
                (residentKiB() - idle) / 1024.0);
    clock.restart();
    view.goToLine(9'999'999);
    view.repaint();
    std::printf("view:  to line 10,000,000 %.1f ms (row %lld of %lld)\n", msSince(clock),
                view.cursor().row, view.rowCount());
    OutputSearch::Request request;
    request.path = path;
    request.text = QStringLiteral("LAST LINE OF THE OUTPUT");
    request.matchCase = true;
    request.to = size;
    const std::atomic_bool cancel = false;
    clock.restart();
    const qint64 found = OutputSearch::find(request, cancel);
    const double find = msSince(clock);
    request.matchCase = false;
    clock.restart();
    OutputSearch::find(request, cancel);
    const double findAnyCase = msSince(clock);
    QProcess grep;
    clock.restart();
    grep.start(QStringLiteral("grep"), { QStringLiteral("-c"), request.text, path });
    grep.waitForFinished(-1);
    const double grepped = msSince(clock);
    std::printf("find on the last line: %.0f ms, any case %.0f ms (at %lld); grep -c %.0f ms\n",
                find, findAnyCase, found, grepped);
}

void measurePane(const QString &path)
{
    QPlainTextEdit pane;
    pane.setReadOnly(true);
    pane.setLineWrapMode(QPlainTextEdit::NoWrap);
    pane.resize(800, 600);
    pane.show();
    QCoreApplication::processEvents();
    const qint64 idle = residentKiB();
    QElapsedTimer clock;
    clock.start();
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        pane.setPlainText(QString::fromUtf8(file.readAll()));
    pane.verticalScrollBar()->setValue(pane.verticalScrollBar()->maximum());
    pane.repaint();
    const double first = msSince(clock);
    std::printf("pane:  first screen (the whole file set) %.0f ms, one stall; resident above idle "
                "%.1f MB\n",
                first, (residentKiB() - idle) / 1024.0);
}

// A writer adds 1 MB every 200 ms in 64 KiB pieces while the view follows on a 200 ms tick.
void measureFollowing(const QString &dir)
{
    const QString path = writeFile(dir + QStringLiteral("/follow.out"), QByteArray());
    OutputFileView view;
    view.resize(800, 600);
    view.show();
    view.open(path);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &view, &OutputFileView::refresh);
    auto *writer = QThread::create([path] {
        QFile file(path);
        if (!file.open(QIODevice::Append))
            return;
        const QByteArray piece = QByteArray(79, 'x').append('\n').repeated(64 * 1024 / 80);
        for (int i = 0; i < 24 * 16; ++i) {
            file.write(piece);
            file.flush();
            QThread::msleep(200 / 16);
        }
    });
    LatenessProbe probe;
    probe.start();
    tick.start(200);
    writer->start();
    while (!writer->isFinished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    delete writer;
    std::printf("view:  following a writer of 1 MB per 200 ms: lateness median %.1f ms, p99 %.1f "
                "ms, max %.1f ms\n",
                probe.at(0.5), probe.at(0.99), probe.at(1));
}

}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const qint64 size = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024) * MB;
    const qint64 paneSize = (argc > 2 ? QByteArray(argv[2]).toLongLong() : 100) * MB;
    IsolatedEnvironment environment;
    const QString path = environment.path() + QStringLiteral("/big.out");
    writeOutput(path, size);
    std::printf("%lld MB of 80-byte lines\n", size / MB);
    measureView(path, size);
    const QString small = environment.path() + QStringLiteral("/pane.out");
    writeOutput(small, paneSize);
    std::printf("%lld MB of 80-byte lines\n", paneSize / MB);
    measureView(small, paneSize);
    measurePane(small);
    measureFollowing(environment.path());
    return 0;
}
