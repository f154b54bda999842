// Uploads a job folder holding one large file to a local HTTPS server, to measure the
// launcher's peak memory during an upload:
//
//   /usr/bin/time -v build/bench/bench_upload [megabytes]    (see "Maximum resident set size")

#include "httpsserver.h"
#include "mainwindow/mainwindow.h"
#include "testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;

    IsolatedEnvironment environment;
    trustTestAuthority();
    HttpsServer server;
    server.keepBodies = false;

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
            application.quit();
        }
    });
    answerer.start(50);
    QElapsedTimer timer;
    timer.start();
    window.uploadOutput();
    const double collecting = timer.elapsed() / 1000.0;
    application.exec();
    std::printf("files collected in %.1f s, %lld MB uploaded in %.1f s; server received %lld body "
                "bytes; reply: %s\n",
                collecting, megabytes, timer.elapsed() / 1000.0,
                server.requests.isEmpty() ? 0 : server.requests.first().bodySize,
                qPrintable(message));
    return message.startsWith(QStringLiteral("Successfully")) ? 0 : 1;
}
