// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/dialogsettings.h"
#include "settings/settingskeys.h"
#include "windowsupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTextDocumentFragment>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void discoveryAndConfirming_data();
    void discoveryAndConfirming();
    void clusterProfilesKept_data();
    void clusterProfilesKept();

private:
    IsolatedEnvironment m_env;
};

void TestSettings::discoveryAndConfirming_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("launcher");
    QTest::addColumn<QString>("moltraName");
    // What the labels say, as the user reads them.
    QTest::addColumn<QString>("expected");
    const QString builds = u"moltra: Not found! evalix: Found! Pmoltra: Found! Pevalix: Not found! "
                           "zetrel: Not available on this platform MPPmoltra: Not found! "_s;
    QTest::newRow("two builds installed")
            << u""_s << u"sh"_s << QString() << builds + u"sh: Found!"_s;
    QTest::newRow("trailing slash") << u"/"_s << u"sh"_s << QString() << builds + u"sh: Found!"_s;
    QTest::newRow("launcher missing") << u""_s << u"no-such-mpirun"_s << QString()
                                      << builds + u"no-such-mpirun: Not found!"_s;
    QTest::newRow("renamed executable")
            << u""_s << u"sh"_s << u"moltra-7.1"_s
            << QString(builds).replace(u"moltra: Not found! evalix"_s, u"moltra: Found! evalix"_s)
                    + u"sh: Found!"_s;
}

void TestSettings::discoveryAndConfirming()
{
    QFETCH(QString, typed);
    QFETCH(QString, launcher);
    QFETCH(QString, moltraName);
    QFETCH(QString, expected);
    const QString package = m_env.path() + u"/"_s + QTest::currentDataTag();
    for (const QString &name : { u"evalix"_s, u"Pmoltra"_s, u"moltra-7.1"_s })
        writeScript(package + u'/' + name, "exit 0\n");
    QSettings settings = launcherSettings();
    settings.clear();
    if (!moltraName.isEmpty())
        settings.setValue(SettingsKeys::binaryKey(u"moltra"_s), moltraName);
    SettingsKeys::seedExecutableNames(settings);

    DialogSettings dialog(nullptr, &settings);
    dialog.setDirectory(package + typed);
    dialog.findChild<QLineEdit *>(u"editMpiLauncher"_s)->setText(launcher);
    QStringList said;
    for (const char *name : { "labelMoltra", "labelEvalix", "labelPmoltra", "labelPevalix",
                              "labelZetrel", "labelMPPmoltra", "labelMpiLauncher" })
        said << QTextDocumentFragment::fromHtml(
                        dialog.findChild<QLabel *>(QLatin1String(name))->text())
                        .toPlainText();
    QCOMPARE(said.join(u' '), expected);

    // Enter on "Change...", focused as after choosing a folder, confirms the dialog.
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *change = dialog.findChild<QPushButton *>(u"buttonChangeMoltraDir"_s);
    change->setFocus();
    QTest::keyClick(change, Qt::Key_Return);
    QCOMPARE(QDialog::DialogCode(dialog.result()), QDialog::Accepted);
    dialog.storeLauncherSettings();
    QCOMPARE(SettingsKeys::packageConfig(settings).mpiLauncher, launcher);
}

void TestSettings::clusterProfilesKept_data()
{
    QTest::addColumn<int>("picked");
    QTest::addColumn<QString>("added");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("pollSeconds");
    // A shorter interval than the page offers, stored by hand, is used as it stands.
    QTest::newRow("short interval kept") << 0 << QString() << true << 2;
    QTest::newRow("interval picked") << 30 << QString() << true << 30;
    QTest::newRow("another of the name") << 0 << u"big"_s << false << 2;
    QTest::newRow("another without a name") << 0 << u" "_s << false << 2;
}

void TestSettings::clusterProfilesKept()
{
    QFETCH(int, picked);
    QFETCH(QString, added);
    QFETCH(bool, accepted);
    QFETCH(int, pollSeconds);
    QSettings settings = launcherSettings();
    settings.clear();
    ClusterProfile big;
    big.name = u"big"_s;
    big.host = u"me@big.example.org"_s;
    big.sshOptions = u"-p 2222"_s;
    big.pollSeconds = 2;
    SettingsKeys::storeClusterProfiles(settings, { big });

    DialogSettings dialog(nullptr, &settings);
    if (picked)
        dialog.findChild<QSpinBox *>(u"spinBoxPollSeconds"_s)->setValue(picked);
    if (!added.isEmpty()) {
        dialog.findChild<QPushButton *>(u"buttonAddCluster"_s)->click();
        dialog.findChild<QLineEdit *>(u"editName"_s)->setText(added);
    }
    ModalAnswerer answerer;
    answerer.answer(u"OK"_s);
    dialog.accept();
    QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
    QCOMPARE(answerer.shown.size(), accepted ? 0 : 1);
    if (accepted)
        dialog.storeClusters();
    const QList<ClusterProfile> stored = SettingsKeys::clusterProfiles(settings);
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().host, big.host);
    QCOMPARE(stored.first().sshOptions, big.sshOptions);
    QCOMPARE(stored.first().remoteDir, u"moltra-jobs"_s);
    QCOMPARE(stored.first().pollSeconds, pollSeconds);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
