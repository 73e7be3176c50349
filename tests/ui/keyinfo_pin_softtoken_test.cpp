// The key-information, label and PIN pages against the real soft token: tokens are made
// by the test with skftool and the SKF functions, and what the pages show and do is
// checked against the token itself. Each case runs in a process of its own with a fresh
// store.
#include "softtokenfixture.h"

#include "cdevmgr.h"
#include "cgmskfoperator.h"
#include "dialogsupport.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

const char* const kUserPin = "12345678";

} // namespace

class KeyInfoPinSoftTokenTest : public QObject
{
    Q_OBJECT

private:
    SoftTokenStore softToken;
    std::unique_ptr<RecordingWindow> window;

    bool skftool(const QStringList& arguments) { return softToken.skftool(arguments); }

    bool plugIn(const QStringList& createOptions, const QString& name)
    {
        return skftool(QStringList{"create"} + createOptions)
            && skftool({"insert", createOptions.value(createOptions.indexOf("--serial") + 1), "--name", name});
    }

    void openWindow(int devices)
    {
        openWindowOnTheDriver(window);
        QTRY_COMPARE_WITH_TIMEOUT(window->deviceNames().size(), devices, 10000);
    }

    QStandardItemModel* rows() const
    {
        auto* view = window->findChild<QTreeView*>(QStringLiteral("treeView_usbInfo"));
        return qobject_cast<QStandardItemModel*>(view->model());
    }
    QString value(int row) const { return rows()->item(row, 1)->text(); }
    QLineEdit* field(const char* name) const { return window->findChild<QLineEdit*>(QString::fromLatin1(name)); }
    QPushButton* button(const char* name) const { return window->findChild<QPushButton*>(QString::fromLatin1(name)); }

    // Verify-PIN OK with pin typed in; the one message it showed.
    ShownMessage verifyPin(const QString& pin, const std::function<void()>& onShown = {})
    {
        window->btn_verifyPin();
        QTest::keyClicks(field("VerifyPIN_Edit"), pin);
        const QList<ShownMessage> shown
            = answerMessages([this] { QTest::mouseClick(button("btn_VerifyPIN_OK"), Qt::LeftButton); }, onShown);
        [&] { QCOMPARE(shown.size(), 1); }();
        return shown.value(0);
    }

    ShownMessage changePin(const QString& oldPin, const QString& newPin, const QString& confirmPin)
    {
        window->btn_changePin();
        QTest::keyClicks(field("OldPIN_Edit"), oldPin);
        QTest::keyClicks(field("NewPIN_Edit"), newPin);
        QTest::keyClicks(field("ConfirmPIN_Edit"), confirmPin);
        const QList<ShownMessage> shown = answerMessages([this] { window->btn_changePIN_ok(); });
        [&] { QCOMPARE(shown.size(), 1); }();
        return shown.value(0);
    }

    // The window as a person sees it, into build/screenshots.
    void screenshot(int page, const char* file)
    {
        window->findChild<QTabWidget*>(QStringLiteral("tabWidget_2"))->setCurrentIndex(page);
        QVERIFY(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
        QVERIFY(window->grab().save(QStringLiteral(SCREENSHOT_DIR "/") + QString::fromLatin1(file)));
    }

    // Uses up the user PIN's tries with wrong PINs.
    void lockUserPin()
    {
        // The try that uses up the last one is answered as locked.
        ULONG result = SAR_PIN_INCORRECT;
        for (int attempt = 0; attempt < 20 && result == SAR_PIN_INCORRECT; ++attempt) {
            ULONG retries = 0;
            result = cDevMgr::getInst()->VerifyPIN(1, "wrong-pin", &retries);
        }
        QCOMPARE(result, ULONG(SAR_PIN_LOCKED));
    }

    // Fills the current application with one file until less than a kilobyte is free.
    void fillToken()
    {
        DEVINFO info;
        std::memset(&info, 0, sizeof info);
        CGMSKFOperator* skf = cDevMgr::getInst()->binding();
        QCOMPARE(skf->SKF_GetDevInfo(cDevMgr::getInst()->currentDevice(), &info), ULONG(SAR_OK));
        // A file costs its size and a small overhead; 200 bytes stay free.
        const ULONG size = info.FreeSpace - 64 - 200;
        char name[] = "FILLER";
        QCOMPARE(skf->SKF_CreateFile(cDevMgr::getInst()->currentApplication(), name, size, SECURE_ANYONE_ACCOUNT,
                                     SECURE_ANYONE_ACCOUNT),
                 ULONG(SAR_OK));
        QCOMPARE(skf->SKF_GetDevInfo(cDevMgr::getInst()->currentDevice(), &info), ULONG(SAR_OK));
        QVERIFY(info.FreeSpace < 1024);
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resource);
        QVERIFY(softToken.useInThisProcess());
    }

    void cleanup() { window.reset(); }

    void aFullTokenWithALockedUserPin_showsTwelveRows_andItsSerialBelow()
    {
        QVERIFY(plugIn({"--serial", "KI2026000001", "--label", "Info Token", "--capacity", "65536"}, "VK-INFO"));
        QVERIFY(skftool({"app-create", "VK-INFO", "INFO_APP", "--default-pins"}));
        openWindow(1);
        window->chooseDev(QStringLiteral("VK-INFO"));
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QStringLiteral("INFO_APP"));
        fillToken();
        lockUserPin();

        window->chooseDev(QStringLiteral("VK-INFO"));
        const QStringList expected = {"Info Token", "KI2026000001", "Velkora", "1.0", "64 KB",     "0 KB",
                                      "10",         "10",           "YES",     "10",  "0(Locked)", "YES"};
        QCOMPARE(rows()->rowCount(), 12);
        for (int row = 0; row < 12; ++row) {
            QCOMPARE(value(row), expected[row]);
        }
        QCOMPARE(rows()->item(10, 0)->text(), QStringLiteral("USERPIN RemainRetryCount"));
        QCOMPARE(window->findChild<QLabel*>(QStringLiteral("label_bottom"))->text(),
                 QStringLiteral("Velkora    当前设备SN：KI2026000001"));
        QVERIFY(button("btn_VerifyPIN")->isEnabled());
        QVERIFY(button("btn_ChangePIN")->isEnabled());
        screenshot(1, "keyinfo_page.png");

        // The locked PIN is named as such on both PIN pages, even for the right PIN.
        QCOMPARE(verifyPin(QString::fromLatin1(kUserPin)).text, QStringLiteral("DIV-Uvavoz password locked"));
        QCOMPARE(changePin(QString::fromLatin1(kUserPin), "abcdefgh", "abcdefgh").text,
                 QStringLiteral("DIV-Uvavoz password locked"));
        QVERIFY(!button("btn_ExpCert")->isEnabled());
    }

    void aSecondDevice_replacesEveryRowOfTheFirst()
    {
        QVERIFY(plugIn({"--serial", "FIRST00001", "--label", "First Label", "--capacity", "1048576"}, "VK-FIRST"));
        QVERIFY(skftool({"app-create", "VK-FIRST", "FIRST_APP", "--default-pins"}));
        QVERIFY(plugIn({"--serial", "SECOND0002", "--label", "Second", "--capacity", "4096"}, "VK-SECOND"));
        openWindow(2);

        window->chooseDev(QStringLiteral("VK-FIRST"));
        QCOMPARE(value(0), QStringLiteral("First Label"));
        QCOMPARE(value(7), QStringLiteral("10"));
        QVERIFY(button("btn_VerifyPIN")->isEnabled());

        // The second token has no application: PIN rows fall back to their placeholders.
        window->chooseDev(QStringLiteral("VK-SECOND"));
        const QStringList expected
            = {"Second", "SECOND0002", "Velkora", "1.0", "4 KB", "4 KB", "  ", "  ", "  ", "  ", "  ", "  "};
        for (int row = 0; row < 12; ++row) {
            QCOMPARE(value(row), expected[row]);
        }
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QString());
        QVERIFY(!button("btn_VerifyPIN")->isEnabled());
        QVERIFY(!button("btn_ChangePIN")->isEnabled());
        QVERIFY(button("btn_ChangeLabel")->isEnabled());
    }

    void verifyPin_countsDownTheTokensTries_andTheRightPinOpensTheCertificateButtons()
    {
        QVERIFY(plugIn({"--serial", "PIN0000001"}, "VK-PIN"));
        QVERIFY(skftool({"app-create", "VK-PIN", "PIN_APP", "--default-pins"}));
        openWindow(1);
        window->chooseDev(QStringLiteral("VK-PIN"));

        ShownMessage shown = verifyPin(QStringLiteral("87654321"));
        QCOMPARE(shown.title, QStringLiteral("Verify PIN"));
        QCOMPARE(shown.text, QStringLiteral("Failure in verifying DIV-Uvavoz password 9"));
        QVERIFY(field("VerifyPIN_Edit")->text().isEmpty());
        QCOMPARE(verifyPin(QStringLiteral("87654321")).text,
                 QStringLiteral("Failure in verifying DIV-Uvavoz password 8"));
        QVERIFY(!button("btn_ExpCert")->isEnabled());

        bool enabledWhileShown = false;
        shown = verifyPin(QString::fromLatin1(kUserPin), [&] {
            enabledWhileShown = button("btn_ExpCert")->isEnabled() && button("btn_DelCtn")->isEnabled();
        });
        QCOMPARE(shown.text, QStringLiteral("Successfully verify the DIV-Uvavoz password"));
        QVERIFY(enabledWhileShown);
        QVERIFY(field("VerifyPIN_Edit")->text().isEmpty());

        QTest::keyClicks(field("VerifyPIN_Edit"), QStringLiteral("12345"));
        screenshot(3, "verifypin_page.png");

        // A successful verification restores the tries the page shows.
        window->chooseDev(QStringLiteral("VK-PIN"));
        QCOMPARE(value(10), QStringLiteral("10"));
    }

    void changePin_refusesMismatchAndSamePin_thenChangesIt_andAWrongOldPinCostsATry()
    {
        QVERIFY(plugIn({"--serial", "CHG0000001"}, "VK-CHG"));
        QVERIFY(skftool({"app-create", "VK-CHG", "CHG_APP", "--default-pins"}));
        openWindow(1);
        window->chooseDev(QStringLiteral("VK-CHG"));
        QCOMPARE(verifyPin(QString::fromLatin1(kUserPin)).text,
                 QStringLiteral("Successfully verify the DIV-Uvavoz password"));

        ShownMessage shown = changePin(QString::fromLatin1(kUserPin), "abcdefgh", "abcdefgx");
        QCOMPARE(shown.title, QStringLiteral("Change PIN"));
        QCOMPARE(shown.text, QStringLiteral("Error in confirming the DIV-Uvavoz password entry"));
        QVERIFY(!button("btn_ExpCert")->isEnabled());
        QCOMPARE(
            changePin(QString::fromLatin1(kUserPin), QString::fromLatin1(kUserPin), QString::fromLatin1(kUserPin)).text,
            QStringLiteral("The old and new DIV-Uvavoz passwords are the same"));

        QCOMPARE(changePin("00000000", "abcdefgh", "abcdefgh").text,
                 QStringLiteral("Failure in verifying DIV-Uvavoz password 9"));

        QCOMPARE(verifyPin(QString::fromLatin1(kUserPin)).text,
                 QStringLiteral("Successfully verify the DIV-Uvavoz password"));
        QCOMPARE(changePin(QString::fromLatin1(kUserPin), "abcdefgh", "abcdefgh").text,
                 QStringLiteral("Successfully change the DIV-Uvavoz password"));
        QVERIFY(!button("btn_ExpCert")->isEnabled());
        QVERIFY(!button("btn_DelCtn")->isEnabled());
        QVERIFY(field("OldPIN_Edit")->text().isEmpty());
        QTest::keyClicks(field("OldPIN_Edit"), QStringLiteral("abcdefgh"));
        QTest::keyClicks(field("NewPIN_Edit"), QStringLiteral("1234567"));
        screenshot(4, "changepin_page.png");

        // The token now takes the new PIN, on this page and from outside.
        QCOMPARE(verifyPin(QStringLiteral("abcdefgh")).text,
                 QStringLiteral("Successfully verify the DIV-Uvavoz password"));
        QVERIFY(skftool({"pin-verify", "VK-CHG", "CHG_APP", "--pin", "abcdefgh"}));
    }

    void changeLabel_writesTheTokensLabel_andAPulledTokenFails()
    {
        QVERIFY(plugIn({"--serial", "LBL0000001", "--label", "Before"}, "VK-LBL"));
        openWindow(1);
        window->chooseDev(QStringLiteral("VK-LBL"));
        window->btn_changeLabel();
        QTest::keyClicks(field("NewLabelEdit"), QStringLiteral("After"));
        screenshot(2, "changelabel_page.png");
        QList<ShownMessage> shown
            = answerMessages([this] { QTest::mouseClick(button("btn_ChangeLab_OK"), Qt::LeftButton); });
        QCOMPARE(shown.value(0).title, QStringLiteral("Change Label"));
        QCOMPARE(shown.value(0).text, QStringLiteral("Device label changed successfully"));
        QVERIFY(field("NewLabelEdit")->text().isEmpty());
        // The page is not read again by itself; a new fill shows the token's new label.
        QCOMPARE(value(0), QStringLiteral("Before"));
        window->chooseDev(QStringLiteral("VK-LBL"));
        QCOMPARE(value(0), QStringLiteral("After"));

        QVERIFY(skftool({"remove", "VK-LBL"}));
        QTRY_COMPARE_WITH_TIMEOUT(window->deviceNames().size(), 0, 10000);
        field("NewLabelEdit")->setText(QStringLiteral("Gone"));
        shown = answerMessages([this] { window->btn_changelabe_ok(); });
        QCOMPARE(shown.value(0).text, QStringLiteral("Operation failed"));
        QVERIFY(field("NewLabelEdit")->text().isEmpty());
    }
};

QTEST_MAIN(KeyInfoPinSoftTokenTest)
#include "keyinfo_pin_softtoken_test.moc"
