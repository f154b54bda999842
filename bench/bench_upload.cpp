// SPDX-License-Identifier: GPL-3.0-or-later
// Uploads a job folder holding one large file from the real window to a local HTTPS server in
// the same process, and prints the time it took, the event loop's lateness meanwhile (measured
// by a 5 ms timer) and the process's resident memory before and at its peak. With a second
// number, the server answers with that many megabytes instead of its short answer.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_upload [megabytes [answer megabytes]]

#include "httpsserver.h"
#include "latenessprobe.h"
#include "mainwindow/mainwindow.h"
#include "testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {
// A line of /proc/self/status in megabytes, e.g. "VmRSS" or "VmHWM".
double statusMegabytes(const char *field)
{
    for (const QByteArray &line : readFile(QStringLiteral("/proc/self/status")).split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}
}

int main(int argc, char *argv[])
{
    // The launcher would take an argument for a job file to import.
    int launcherArgc = 1;
    QApplication application(launcherArgc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;

    IsolatedEnvironment environment;
    trustTestAuthority();
    HttpsServer server;
    server.keepBodies = false;
    if (argc > 2) {
        server.answer = QByteArray(1024 * 1024, ' ');
        server.answerRepeats = QByteArray(argv[2]).toLongLong();
    }
    const QString job = writeFile(
            environment.path() + QStringLiteral("/big.farbojob"),
            R"({"input_file_name": "big.d12", "input_file_content": "BIG\nEND\n", "user_token": "t"})");
    MainWindow window;
    window.importJobFile(job);
    window.setUploadUrl(QUrl(server.url()));
    const QString folder = window.findChild<QLineEdit *>(QStringLiteral("lineEditWorkDir"))->text();
    {
        QFile big(folder + QStringLiteral("/big.out"));
        big.open(QIODevice::WriteOnly);
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        for (qint64 i = 0; i < megabytes; ++i) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()),
                                                  block.size() / int(sizeof(quint32)));
            big.write(block);
        }
    }

    QString message;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            message = box->text();
            box->accept();
            QTimer::singleShot(0, &application, [] { QCoreApplication::exit(0); });
        }
    });
    answerer.start(50);
    LatenessProbe probe;
    QElapsedTimer clock;
    const double idle = statusMegabytes("VmRSS:");
    clock.start();
    probe.start();
    window.uploadOutput();
    application.exec();
    const double seconds = clock.elapsed() / 1000.0;
    std::printf("%lld MB uploaded in %.1f s; event-loop lateness median %.1f ms, p99 %.1f ms, max "
                "%.1f ms; resident memory %.0f MB before, peak %.0f MB; server received %lld "
                "body bytes; reply: %s\n",
                megabytes, seconds, probe.at(0.5), probe.at(0.99), probe.at(1), idle,
                statusMegabytes("VmHWM:"),
                server.requests.isEmpty() ? 0 : server.requests.first().bodySize,
                qPrintable(message));
    return message.startsWith(argc > 2 ? QStringLiteral("The Farbo server's answer was longer")
                                       : QStringLiteral("Successfully"))
            ? 0
            : 1;
}
