// The device tree against the real soft token: tokens are made, plugged in and pulled out
// with skftool, and the window sees them through the driver's events. Each case runs in a
// process of its own with a fresh store.
#include "softtokenfixture.h"

#include "cdevmgr.h"
#include "version.h"

#include <QtTest>

#include <memory>
#include <vector>

class DeviceTreeSoftTokenTest : public QObject
{
    Q_OBJECT

private:
    SoftTokenStore softToken;
    std::unique_ptr<RecordingWindow> window;

    bool skftool(const QStringList& arguments) { return softToken.skftool(arguments); }

    bool plugIn(const QString& serial, const QString& name)
    {
        return skftool({"create", "--serial", serial}) && skftool({"insert", serial, "--name", name});
    }

    void openWindow() { openWindowOnTheDriver(window); }

    void waitForNotices(int count) { QTRY_COMPARE_WITH_TIMEOUT(window->notices.size(), count, 10000); }

private slots:
    void initTestCase() { QVERIFY(softToken.useInThisProcess()); }

    void cleanup() { window.reset(); }

    void twoTokens_eachAppearUnderItsOwnName()
    {
        QVERIFY(plugIn("S1", "VK-S"));
        QVERIFY(plugIn("S2", "VK-A-RATHER-LONGER-TOKEN-NAME"));
        openWindow();
        QTRY_COMPARE_WITH_TIMEOUT(window->deviceNames().size(), 2, 10000);
        QStringList names = window->deviceNames();
        names.sort();
        QCOMPARE(names, QStringList({"VK-A-RATHER-LONGER-TOKEN-NAME", "VK-S"}));
        QCOMPARE(window->childrenOf("VK-S"), QStringList({"Empty Device"}));
        QCOMPARE(window->childrenOf("VK-A-RATHER-LONGER-TOKEN-NAME"), QStringList({"Empty Device"}));
        QCOMPARE(window->notices.first().text, QStringLiteral("DIV-Uvavoz inserted"));
    }

    void aTokenWithTwoApplications_showsOneDataNode_andMakesTheFirstCurrent()
    {
        QVERIFY(plugIn("S3", "VK-APPS"));
        QVERIFY(skftool({"app-create", "VK-APPS", "FIRST_APP", "--default-pins"}));
        QVERIFY(skftool({"app-create", "VK-APPS", "SECOND_APP", "--default-pins"}));
        openWindow();
        waitForNotices(1);
        QCOMPARE(window->deviceNames(), QStringList({"VK-APPS"}));
        QCOMPARE(window->childrenOf("VK-APPS"), QStringList({"Data Manger"}));

        // The current application is the first one of the token's own list.
        ULONG size = 0;
        QCOMPARE(cDevMgr::getInst()->EnumApplication(nullptr, &size), ULONG(SAR_OK));
        std::vector<char> list(size + 2, '\0');
        QCOMPARE(cDevMgr::getInst()->EnumApplication(list.data(), &size), ULONG(SAR_OK));
        QVERIFY(QStringList({"FIRST_APP", "SECOND_APP"}).contains(QString::fromLatin1(list.data())));
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QString::fromLatin1(list.data()));
    }

    void anEmptyToken_showsEmptyDevice()
    {
        QVERIFY(plugIn("S4", "VK-EMPTY"));
        openWindow();
        waitForNotices(1);
        QCOMPARE(window->childrenOf("VK-EMPTY"), QStringList({"Empty Device"}));
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QString());
    }

    void removingTheLastToken_noticesIt_emptiesTheTree_andHidesTheTray()
    {
        QVERIFY(plugIn("S5", "VK-GONE"));
        openWindow();
        waitForNotices(1);
        QVERIFY(window->trayIcon()->isVisible());
        QVERIFY(skftool({"remove", "VK-GONE"}));
        waitForNotices(2);
        QCOMPARE(window->notices[1].title, QString::fromUtf8(product::Title));
        QCOMPARE(window->notices[1].text, QStringLiteral("DIV-Uvavoz removed"));
        QCOMPARE(window->notices[1].durationMs, 3000);
        QCOMPARE(window->deviceModel()->rowCount(), 0);
        QVERIFY(!window->trayIcon()->isVisible());
    }

    void aLanguageSwitchBeforeAnyEvent_rebuildsWithoutANotice()
    {
        MainWindow::setLanguageDirectory(STAGED_LANG_DIR);
        openWindow();
        // The monitor has loaded the driver and waits on an empty store: no event is coming.
        QTRY_VERIFY_WITH_TIMEOUT(cDevMgr::getInst()->binding() != nullptr, 10000);
        window->chooseLangByIndex(0);
        QCOMPARE(window->languageId(), 2052);
        QCOMPARE(window->deviceModel()->rowCount(), 0);
        QVERIFY(window->notices.isEmpty());
        QVERIFY(!window->trayIcon()->isVisible());
    }

    void aLanguageSwitchAfterAnInsertion_repeatsTheNotice()
    {
        MainWindow::setLanguageDirectory(STAGED_LANG_DIR);
        QVERIFY(plugIn("S6", "VK-LANG"));
        openWindow();
        waitForNotices(1);
        window->chooseLangByIndex(0);
        QCOMPARE(window->notices.size(), 2);
        QCOMPARE(window->notices[1].text, QStringLiteral("DIV-Uvavoz 已插入"));
        QCOMPARE(window->deviceNames(), QStringList({"VK-LANG"}));
        QCOMPARE(window->childrenOf("VK-LANG"), QStringList({QStringLiteral("空设备")}));
    }
};

QTEST_MAIN(DeviceTreeSoftTokenTest)
#include "devicetree_softtoken_test.moc"
