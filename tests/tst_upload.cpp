#include "httpsserver.h"
#include "mainwindow/mainwindow.h"
#include "modalanswerer.h"
#include "testsupport.h"

#include <QDirIterator>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSslConfiguration>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;

using Items = QList<QPair<QByteArray, QByteArray>>;

class ChildCounter : public QObject
{
public:
    int added = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded)
            ++added;
        return QObject::eventFilter(watched, event);
    }
};

class TestUpload : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void bodyCarriesIdentityAndFiles();
    void replyRows_data();
    void replyRows();
    void untrustedCertificateSendsNothing();
    void hostNotFoundEndsAfterBoundedTries();
    void twoUploadsAtOnce();
    void replyWithoutSender();
    void emptyWorkingDirectorySendsIdentityOnly();
    void identityFollowsTheJobFileValueRules();

private:
    QString importJob(const QJsonObject &extra = {});
    void upload(int expectedMessages);
    QToolButton *uploadButton()
    {
        return m_window->findChild<QToolButton *>(u"toolButtonUpload"_s);
    }

    IsolatedEnvironment m_env;
    TestCertificates m_certificates;
    std::unique_ptr<HttpsServer> m_server;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<ModalAnswerer> m_answerer;
};

void TestUpload::initTestCase()
{
    QVERIFY(m_certificates.isValid());
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(m_certificates.authority);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

void TestUpload::init()
{
    m_server = std::make_unique<HttpsServer>(m_certificates);
    QVERIFY(m_server->listen());
    m_window = std::make_unique<MainWindow>();
    m_window->setUploadUrl(QUrl(m_server->url(u"/compute/upload/"_s)));
    m_answerer = std::make_unique<ModalAnswerer>();
}

void TestUpload::cleanup()
{
    QCOMPARE(m_answerer->unexpected, 0);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    m_window.reset();
    m_answerer.reset();
    m_server.reset();
}

QString TestUpload::importJob(const QJsonObject &extra)
{
    QJsonObject job{ { u"input_file_name"_s, u"mgo.d12"_s },
                     { u"input_file_content"_s, u"MgO\nEND\n"_s },
                     { u"user_id"_s, 42 },
                     { u"job_id"_s, 7 },
                     { u"user_token"_s, u"tok&en=1 +x"_s } };
    for (auto it = extra.begin(); it != extra.end(); ++it)
        job.insert(it.key(), it.value());
    m_window->importJobFile(
            writeFile(m_env.path() + u"/job.farbojob"_s, QJsonDocument(job).toJson()));
    uploadButton()->setEnabled(true);
    return m_window->findChild<QLineEdit *>(u"lineEditWorkDir"_s)->text();
}

void TestUpload::upload(int expectedMessages)
{
    for (int i = 0; i < expectedMessages; ++i)
        m_answerer->answer(QMessageBox::Ok);
    uploadButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_answerer->shown.size(), expectedMessages, 60000);
    QTRY_COMPARE(m_answerer->pending(), 0);
    QVERIFY(uploadButton()->isEnabled());
}

void TestUpload::bodyCarriesIdentityAndFiles()
{
    const QString folder = importJob();
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary.append(char(i));
    // Larger than the pieces the upload encodes a file in.
    QByteArray large(3 * 1024 * 1024 + 1001, Qt::Uninitialized);
    QRandomGenerator random(42);
    for (char &byte : large)
        byte = char(random.bounded(256));
    const QHash<QString, QByteArray> sent{
        { u"mgo.d12"_s, "MgO\nEND\n" },
        { u"mgo.out"_s, binary }, // Base64 with "+", "/" and "==" padding
        { u"fort.9"_s,
          QByteArray("\xfb\xef\xbe\xfb\xff", 5) }, // "++++" and "//" in Base64, "=" padding
        { u"fort.34"_s, "34" },
        { u"empty.outp"_s, QByteArray() },
        { u"with space.DAT"_s, "space\n" },
        { u"a&b=c.CP"_s, "amp\n" },
        { u"fort.25"_s, "25\n" },
        { u"large.outp"_s, large },
    };
    for (auto it = sent.begin(); it != sent.end(); ++it)
        writeFile(folder + u'/' + it.key(), it.value());
    for (const QString &name :
         { u"upper.OUT"_s, u"mgo.scf.out"_s, u".hidden.out"_s, u"notes.txt"_s, u"sub/fort.9"_s })
        writeFile(folder + u'/' + name, "not sent\n");
    QVERIFY(QDir(folder).mkpath(u"dir.out"_s));

    upload(1);
    QCOMPARE(m_answerer->shown.first().icon, QMessageBox::Information);
    QCOMPARE(m_answerer->shown.first().text, u"Successfully uploaded job files to Farbo server"_s);
    QCOMPARE(m_answerer->shown.first().title, u"MOLTRA Farbo Starter"_s);

    QCOMPARE(m_server->requests.size(), 1);
    const HttpsServer::Request &request = m_server->requests.first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QByteArray("/compute/upload/"));
    QList<QByteArray> ours;
    QHash<QByteArray, QByteArray> headers;
    for (const auto &[name, value] : request.headers) {
        headers.insert(name.toLower(), value);
        if (name == "Referer" || name == "Content-Type" || name == "Accept")
            ours << name;
    }
    QCOMPARE(ours, QList<QByteArray>({ "Referer", "Content-Type", "Accept" }));
    QCOMPARE(headers.value("referer"), m_server->url(u"/compute/upload/"_s).toUtf8());
    QCOMPARE(headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(headers.value("accept"), QByteArray("text/plain"));

    Items items;
    QVERIFY2(decodeForm(request.body, &items), request.body.left(200).constData());
    QVERIFY(items.size() >= 3);
    QCOMPARE(items.at(0), (QPair<QByteArray, QByteArray>("user_id", "42")));
    QCOMPARE(items.at(1), (QPair<QByteArray, QByteArray>("user_token", "tok&en=1 +x")));
    QCOMPARE(items.at(2), (QPair<QByteArray, QByteArray>("job_id", "7")));
    QStringList names;
    for (qsizetype i = 3; i < items.size(); i += 2) {
        QCOMPARE(items.at(i).first, QByteArray("files[]"));
        QVERIFY(i + 1 < items.size());
        QCOMPARE(items.at(i + 1).first, QByteArray("files[]"));
        const QString name = QString::fromUtf8(items.at(i).second);
        QVERIFY2(sent.contains(name), qPrintable(name));
        QCOMPARE(QByteArray::fromBase64(items.at(i + 1).second,
                                        QByteArray::AbortOnBase64DecodingErrors),
                 sent.value(name));
        QCOMPARE(items.at(i + 1).second, sent.value(name).toBase64());
        names << name;
    }
    QCOMPARE(names.size(), sent.size());
    // The files come in the order the folder lists them.
    QStringList listed;
    QDirIterator entries(folder);
    while (entries.hasNext()) {
        const QString name = entries.nextFileInfo().fileName();
        if (sent.contains(name))
            listed << name;
    }
    QCOMPARE(names, listed);
}

void TestUpload::replyRows_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("text");
    const int critical = QMessageBox::Critical;
    QTest::newRow("200 with OK") << 200 << QByteArray(R"({"result":"OK"})")
                                 << int(QMessageBox::Information)
                                 << u"Successfully uploaded job files to Farbo server"_s;
    QTest::newRow("200 with another result")
            << 200 << QByteArray(R"({"result":"Job 7 is closed"})") << critical
            << u"Error from Farbo server: Job 7 is closed"_s;
    QTest::newRow("200 with lower-case ok") << 200 << QByteArray(R"({"result":"ok"})") << critical
                                            << u"Error from Farbo server: ok"_s;
    QTest::newRow("200 with a non-string result") << 200 << QByteArray(R"({"result":true})")
                                                  << critical << u"Error from Farbo server: "_s;
    QTest::newRow("200 with a plain body")
            << 200 << QByteArray("OK") << critical << u"Error from Farbo server: "_s;
    QTest::newRow("202 is no error but not 200")
            << 202 << QByteArray(R"({"result":"OK"})") << critical
            << u"Wrong response from Farbo server"_s;
    QTest::newRow("404 gives the toolkit's code")
            << 404 << QByteArray("not here") << critical
            << u"Error uploading files to Farbo server (203)"_s;
    QTest::newRow("500 gives the toolkit's code")
            << 500 << QByteArray("broken") << critical
            << u"Error uploading files to Farbo server (401)"_s;
}

void TestUpload::replyRows()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, icon);
    QFETCH(QString, text);
    importJob();
    m_server->setReply(status, "Reason", body);
    upload(1);
    QCOMPARE(int(m_answerer->shown.first().icon), icon);
    QCOMPARE(m_answerer->shown.first().text, text);
    QCOMPARE(m_answerer->shown.first().buttons, QMessageBox::Ok);
    QCOMPARE(m_server->requests.size(), 1);
}

void TestUpload::untrustedCertificateSendsNothing()
{
    importJob();
    const QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
    QSslConfiguration untrusted = trusted;
    untrusted.setCaCertificates(QSslConfiguration::systemCaCertificates());
    QSslConfiguration::setDefaultConfiguration(untrusted);
    upload(1);
    QSslConfiguration::setDefaultConfiguration(trusted);
    QCOMPARE(m_answerer->shown.first().text,
             u"Error uploading files to Farbo server (%1)"_s.arg(
                     int(QNetworkReply::SslHandshakeFailedError)));
    QTest::qWait(200);
    QVERIFY(m_server->requests.isEmpty());
}

void TestUpload::hostNotFoundEndsAfterBoundedTries()
{
    importJob();
    m_window->setUploadUrl(QUrl(u"https://farbo.invalid/compute/upload/"_s));
    // Each try makes a network access manager owned by the window; the message box is the
    // only other object the window gains meanwhile.
    ChildCounter counter;
    m_window->installEventFilter(&counter);
    upload(1);
    m_window->removeEventFilter(&counter);
    QCOMPARE(counter.added, 3 + 1);
    QCOMPARE(m_answerer->shown.first().icon, QMessageBox::Critical);
    QCOMPARE(
            m_answerer->shown.first().text,
            u"The Farbo server could not be found after 3 tries. Please check the network connection and upload again."_s);
    QTest::qWait(300);
    QCOMPARE(m_answerer->shown.size(), 1);
}

void TestUpload::twoUploadsAtOnce()
{
    importJob();
    m_answerer->answer(QMessageBox::Ok);
    m_answerer->answer(QMessageBox::Ok);
    uploadButton()->click();
    uploadButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_answerer->shown.size(), 2, 30000);
    QTRY_COMPARE(m_answerer->pending(), 0);
    QCOMPARE(m_server->requests.size(), 2);
    QCOMPARE(m_server->requests.at(0).body, m_server->requests.at(1).body);
}

void TestUpload::replyWithoutSender()
{
    m_answerer->answer(QMessageBox::Ok);
    m_window->uploadOutputReply();
    QCOMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(m_answerer->shown.first().text, u"No reply from Farbo server"_s);
}

void TestUpload::emptyWorkingDirectorySendsIdentityOnly()
{
    m_answerer->answer(QMessageBox::Ok);
    m_window->uploadOutput();
    QTRY_COMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(m_server->requests.size(), 1);
    QCOMPARE(m_server->requests.first().body, QByteArray("user_id=0&user_token=&job_id=0"));
}

void TestUpload::identityFollowsTheJobFileValueRules()
{
    const QString folder = importJob({ { u"job_id"_s, u"123"_s },
                                       { u"user_id"_s, 1.5 },
                                       { u"user_token"_s, u"\u00e9t\u00e9"_s } });
    QFile::remove(folder + u"/mgo.d12"_s);
    upload(1);
    QCOMPARE(m_server->requests.size(), 1);
    Items items;
    QVERIFY(decodeForm(m_server->requests.first().body, &items));
    QCOMPARE(items,
             Items({ { "user_id", "0" },
                     { "user_token", "\xc3\xa9t\xc3\xa9" },
                     { "job_id", "0" } }));
}

QTEST_MAIN(TestUpload)
#include "tst_upload.moc"
