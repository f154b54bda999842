// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpsserver.h"
#include "portal/formbody.h"
#include "portal/jobfileimporter.h"
#include "portal/uploader.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestPortal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void import_data();
    void import();
    void encodedBodyDecodesToEveryByte();
    void upload_data();
    void upload();

private:
    QByteArray encodedBody() const;

    IsolatedEnvironment m_env;
    QString m_folder;
    const PortalIdentity m_identity{ -3, u"tok&en=1 +x#%"_s, 42 };
};

void TestPortal::initTestCase()
{
    trustTestAuthority();
    m_folder = m_env.path() + u"/job"_s;
    // Contents that end with each padding and hold "+" and "/" in their Base64.
    writeFile(m_folder + u"/mgo.d12"_s, "MgO\n\xfb\xff\xbf");
    writeFile(m_folder + u"/mgo.out"_s, QByteArray("\xfb\xef\xbe", 3).repeated(2'000'001) + "x");
    writeFile(m_folder + u"/fort.9"_s, QByteArray("\0\xff", 2));
    writeFile(m_folder + u"/fort.34"_s, QByteArray());
    writeFile(m_folder + u"/my job.outp"_s, "a&b=c");
    for (const QString &skipped :
         { u"mgo.OUT"_s, u".hidden.out"_s, u"sub/in.out"_s, u"a.out.err"_s, u"mgo.out~"_s })
        writeFile(m_folder + u'/' + skipped, "not sent");
}

void TestPortal::import_data()
{
    // What the job file adds to a plain MOLTRA job, and the import's summary or its error.
    QTest::addColumn<QJsonObject>("more");
    QTest::addColumn<QString>("expected");
    QTest::newRow("EVALIX job with companion deck and fort.34")
            << QJsonObject{ { u"program"_s, 4 },
                            { u"ncpus"_s, 8 },
                            { u"input_file_name"_s, u"mgo.d3"_s },
                            { u"flag_d3"_s, true },
                            { u"d12_file_name"_s, u"mgo.d12"_s },
                            { u"flag_f34"_s, true },
                            { u"f34_file_content"_s, u"F34"_s } }
            << u"evalix 8 fort.34,mgo.d12,mgo.d3"_s;
    const auto named = [](const QString &name, const QString &d12 = u"mgo.d12"_s) {
        return QJsonObject{ { u"input_file_name"_s, name },
                            { u"flag_d3"_s, true },
                            { u"d12_file_name"_s, d12 } };
    };
    // Which file and why.
    const QString unsafe = u": the job file may only name a plain file in its folder"_s;
    QTest::newRow("climbs out") << named(u"../mgo.d3"_s)
                                << u"Unable to create input file ../mgo.d3"_s + unsafe;
    QTest::newRow("backslash") << named(u"..\\mgo.d3"_s)
                               << u"Unable to create input file ..\\mgo.d3"_s + unsafe;
    QTest::newRow("NUL in the name")
            << named(u"mgo.d3\u0000x"_s) << u"Unable to create input file mgo.d3\\x00x"_s + unsafe;
    QTest::newRow("newline in the name")
            << named(u"mgo\n.d3"_s) << u"Unable to create input file mgo\\x0a.d3"_s + unsafe;
    QTest::newRow("companion climbs out") << named(u"mgo.d3"_s, u"../mgo.d12"_s)
                                          << u"Unable to create d12 file ../mgo.d12"_s + unsafe;
    QTest::newRow("write cut off")
            << QJsonObject{ { u"input_file_content"_s, QString(20000, u'x') } }
            << u"Unable to create input file mgo.d12: "_s;
    QTest::newRow("not JSON") << QJsonObject() << u"job.farbojob is not a portal job: "_s;
    QTest::newRow("key missing") << QJsonObject{ { u"flag_d3"_s, true } }
                                 << u"job.farbojob has no \"d12_file_name\"."_s;
    QTest::newRow("key of the wrong type")
            << QJsonObject{ { u"ncpus"_s, u"four"_s } } << u"\"ncpus\" is not a number."_s;
    QTest::newRow("named pipe") << QJsonObject() << u"is not a regular file"_s;
}

void TestPortal::import()
{
    QFETCH(QJsonObject, more);
    QFETCH(QString, expected);
    const QByteArray tag = QTest::currentDataTag();
    const QString path = m_env.path() + u"/job.farbojob"_s;
    QFile::remove(path);
    more.insert(u"job_id"_s, 42);
    if (tag == "named pipe")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (tag == "not JSON")
        writeFile(path, "{ not json");
    else
        writeJobFile(path, more);
    const QDir temp(QDir::tempPath());
    const QStringList before = temp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    // A file size limit makes writes fail after the file has opened, as a full disk does.
    rlimit original;
    ::getrlimit(RLIMIT_FSIZE, &original);
    const rlimit limited{ tag == "write cut off" ? 4096 : original.rlim_cur, original.rlim_max };
    std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const ImportedJob imported = JobFileImporter::import(path);
    ::setrlimit(RLIMIT_FSIZE, &original);
    if (!imported.ok()) {
        QVERIFY2(imported.error.contains(expected) && !imported.folder, qPrintable(imported.error));
        QCOMPARE(temp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        return;
    }
    const QString folder = imported.folder->path();
    QCOMPARE(QFileInfo(folder).path(), QDir::tempPath());
    QCOMPARE(u"%1 %2 %3"_s.arg(imported.program)
                     .arg(imported.cores)
                     .arg(QDir(folder).entryList(QDir::Files, QDir::Name).join(u',')),
             expected);
    QCOMPARE(readFile(imported.deck), QByteArray("MgO\n"));
    QCOMPARE(readFile(folder + u"/fort.34"_s),
             more.contains(u"flag_f34"_s) ? QByteArray("F34") : QByteArray());
    QCOMPARE(u"%1 %2 %3 %4"_s.arg(imported.title)
                     .arg(imported.identity.userId)
                     .arg(imported.identity.userToken)
                     .arg(imported.identity.jobId),
             u"Bands 7 t0k+n 42"_s);
}

QByteArray TestPortal::encodedBody() const
{
    FormBody body(FormBody::plan(m_identity, FormBody::uploadFiles(m_folder)));
    body.open(QIODevice::ReadOnly);
    return body.readAll();
}

void TestPortal::encodedBodyDecodesToEveryByte()
{
    const QByteArray body = encodedBody();
    QCOMPARE(body.size(), FormBody::plan(m_identity, FormBody::uploadFiles(m_folder)).length);
    // A bare "+" would read as a space, a bare "=" would split an item.
    QVERIFY(!body.contains('+'));
    QVERIFY(body.contains("%3D%3D&") && body.contains("%2B") && body.contains('/'));
    const FormItems items = decodeForm(body);
    QCOMPARE(items.mid(0, 3),
             FormItems({ { "user_id", "-3" },
                         { "user_token", "tok&en=1 +x#%" },
                         { "job_id", "42" } }));
    QStringList names;
    for (qsizetype i = 3; i + 1 < items.size(); i += 2) {
        QCOMPARE(items.at(i).first + items.at(i + 1).first, QByteArray("files[]files[]"));
        names << QString::fromUtf8(items.at(i).second);
        const auto content = QByteArray::fromBase64Encoding(
                items.at(i + 1).second, QByteArray::AbortOnBase64DecodingErrors);
        QVERIFY(content && *content == readFile(m_folder + u'/' + names.last()));
    }
    names.sort();
    QCOMPARE(names.join(u','), u"fort.34,fort.9,mgo.d12,mgo.out,my job.outp"_s);
    QCOMPARE(items.size(), 3 + 2 * names.size());
}

void TestPortal::upload_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("received"); // requests that reached the server whole; -1: either
    QTest::newRow("portal answers OK") << u"Successfully uploaded job files"_s << 1;
    // The toolkit's error number, then the cause.
    QTest::newRow("untrusted certificate")
            << u"Error uploading files to Farbo server (%1): The server's certificate is not trusted: "_s
                       .arg(int(QNetworkReply::SslHandshakeFailedError))
            << 0;
    QTest::newRow("404") << u"Error uploading files to Farbo server (%1): "_s.arg(
            int(QNetworkReply::ContentNotFoundError))
                         << 1;
    QTest::newRow("huge answer") << u"The Farbo server's answer was longer than 1024 KiB"_s << 1;
    QTest::newRow("another result") << u"Error from Farbo server: bad token"_s << 1;
    QTest::newRow("202") << u"Wrong response from Farbo server"_s << 1;
    QTest::newRow("stalled server") << u"The Farbo server did not answer for 2 seconds"_s << 1;
    QTest::newRow("unreadable file") << u"Unable to read %1/fort.25, so nothing"_s << 0;
    QTest::newRow("cancelled") << QString() << -1;
    QTest::newRow("host not found") << u"The Farbo server could not be found after 3 tries."_s << 0;
}

void TestPortal::upload()
{
    QFETCH(QString, message);
    QFETCH(int, received);
    const QByteArray tag = QTest::currentDataTag();
    HttpsServer server;
    // A cancelled upload meets a portal that does not answer, so that it cannot end first.
    server.answering = tag != "stalled server" && tag != "cancelled";
    if (tag == "huge answer") {
        server.answer = QByteArray(Uploader::ReplyLimit, ' ');
        server.answerRepeats = 3;
    }
    if (tag == "another result")
        server.answer = R"({"result":"bad token"})";
    if (tag == "202")
        server.status = "202 Accepted";
    if (tag == "404")
        server.status = "404 Not Found";
    Uploader uploader;
    // A label too long for any host name: not found at once, without asking a name server.
    const QString nowhere = u"https://"_s + QString(70, u'x') + u".invalid/"_s;
    uploader.setUrl(QUrl(tag == "host not found" ? nowhere : server.url()));
    uploader.setTransferTimeout(2000);
    QSignalSpy tries(uploader.findChild<QNetworkAccessManager *>(),
                     &QNetworkAccessManager::finished);
    const QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
    if (tag == "untrusted certificate") {
        QSslConfiguration untrusted = trusted;
        untrusted.setCaCertificates(QSslConfiguration::systemCaCertificates());
        QSslConfiguration::setDefaultConfiguration(untrusted);
    }
    if (tag == "unreadable file")
        QVERIFY(QFile::link(u"/proc/self/mem"_s, m_folder + u"/fort.25"_s));
    QSignalSpy finished(&uploader, &Uploader::finished);
    uploader.upload(m_folder, m_identity);
    if (tag == "cancelled" && QTest::qWaitFor([&] { return uploader.sent() > 0; }))
        uploader.cancel();
    QVERIFY(finished.size() == 1 || finished.wait(20000));
    QSslConfiguration::setDefaultConfiguration(trusted);
    QFile::remove(m_folder + u"/fort.25"_s);
    QVERIFY(!uploader.isBusy());
    const auto outcome = finished.first().at(0).value<Uploader::Outcome>();
    QVERIFY2(outcome.message.startsWith(QString(message).replace(u"%1"_s, m_folder)),
             qPrintable(outcome.message));
    QCOMPARE(outcome.cancelled, tag == "cancelled");
    QVERIFY(received < 0 || server.requests.size() == received);
    if (tag == "host not found")
        QCOMPARE(tries.size(), Uploader::Attempts);
    if (received == 1) {
        const HttpsServer::Request &request = server.requests.first();
        QVERIFY(request.head.startsWith("POST /compute/upload/ HTTP/1.1\r\n"));
        for (const QByteArray &header :
             { "Referer: " + server.url().toUtf8(),
               QByteArray("Content-Type: application/x-www-form-urlencoded"),
               QByteArray("Accept: text/plain") })
            QVERIFY2(request.head.contains("\r\n" + header + "\r\n"), header.constData());
        QCOMPARE(request.body, encodedBody());
    }
}

QTEST_GUILESS_MAIN(TestPortal)
#include "tst_portal.moc"
