// The key-information page against the scriptable fake driver: how each field of the
// device record and the PIN information becomes a row, what the bottom line says, which
// PIN buttons are usable, and what a failing driver leaves on the page.
#include "fakedriverfixture.h"

#include "cdevmgr.h"
#include "fakeskf_control.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>
#include <string>

namespace {

const QString kPlaceholder = QStringLiteral("  ");

using fakedriver::setApplications;
using fakedriver::setDevices;

DEVINFO deviceRecord(const char* label, const char* serial, BYTE major, BYTE minor, ULONG total, ULONG free)
{
    DEVINFO info;
    std::memset(&info, 0, sizeof info);
    std::memcpy(info.Manufacturer, "Velkora Soft", 12);
    // Fields are filled to their full size when the text is that long: no terminator.
    std::memcpy(info.Label, label, std::min(std::strlen(label), sizeof info.Label));
    std::memcpy(info.SerialNumber, serial, std::min(std::strlen(serial), sizeof info.SerialNumber));
    info.HWVersion.major = major;
    info.HWVersion.minor = minor;
    info.TotalSpace = total;
    info.FreeSpace = free;
    return info;
}

} // namespace

class KeyInfoTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir noLanguageFiles;
    std::unique_ptr<RecordingWindow> window;

    QStandardItemModel* rows() const
    {
        auto* view = window->findChild<QTreeView*>(QStringLiteral("treeView_usbInfo"));
        return qobject_cast<QStandardItemModel*>(view->model());
    }
    QString caption(int row) const { return rows()->item(row, 0)->text(); }
    QString value(int row) const { return rows()->item(row, 1)->text(); }
    QPushButton* button(const char* name) const { return window->findChild<QPushButton*>(QString::fromLatin1(name)); }
    QString bottomLine() const { return window->findChild<QLabel*>(QStringLiteral("label_bottom"))->text(); }

    // One device with one application and both PINs readable.
    void scriptToken(const DEVINFO& info)
    {
        setDevices(std::string("VK-ONE\0\0", 8));
        setApplications(std::string("APP_ONE\0APP_TWO\0\0", 17));
        FakeSkf_SetDevInfo(&info);
        FakeSkf_SetPinInfo(0, 10, 7, TRUE);
        FakeSkf_SetPinInfo(1, 6, 0, FALSE);
    }

private slots:
    void init() { fakedriver::openFreshWindow(window, noLanguageFiles.path()); }

    void cleanup() { window.reset(); }

    void aReadableToken_fillsTheRows_theBottomLine_andEnablesThePinButtons()
    {
        const char label32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
        scriptToken(deviceRecord(label32, "SN-0001", 1, 0, 65536, 1023));
        window->chooseDev(QStringLiteral("VK-ONE"));

        QCOMPARE(rows()->rowCount(), 12);
        QCOMPARE(rows()->columnCount(), 2);
        // A label of the field's full 32 bytes is shown whole, without the serial behind it;
        // every row is as fills_test has it, from what the driver said.
        QCOMPARE(value(0), QString::fromLatin1(label32));
        QCOMPARE(value(1), QStringLiteral("SN-0001"));
        QCOMPARE(value(7), QStringLiteral("7"));
        QCOMPARE(value(10), QStringLiteral("0(Locked)"));
        QCOMPARE(value(11), QStringLiteral("NO"));

        QCOMPARE(bottomLine(), QStringLiteral("Velkora    当前设备SN：SN-0001"));
        QVERIFY(button("btn_ChangeLabel")->isEnabled());
        QVERIFY(button("btn_VerifyPIN")->isEnabled());
        QVERIFY(button("btn_ChangePIN")->isEnabled());
        QVERIFY(button("btn_UnblockPIN")->isHidden());
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QStringLiteral("APP_ONE"));
        QCOMPARE(QString::fromLatin1(FakeSkf_LastArgument("SKF_OpenApplication")), QStringLiteral("APP_ONE"));

        auto* view = window->findChild<QTreeView*>(QStringLiteral("treeView_usbInfo"));
        QVERIFY(view->isHeaderHidden());
        QVERIFY(!view->header()->stretchLastSection());
        QCOMPARE(view->header()->sectionResizeMode(0), QHeaderView::ResizeToContents);
    }

    void aSerialOfFullLength_endsTheBottomLineAtItsField()
    {
        DEVINFO info = deviceRecord("L", "0123456789ABCDEF0123456789ABCDEF", 2, 13, 0, 0);
        // The byte after the serial is the first of HWVersion: it must not show.
        scriptToken(info);
        window->chooseDev(QStringLiteral("VK-ONE"));
        QCOMPARE(value(1), QStringLiteral("0123456789ABCDEF0123456789ABCDEF"));
        QCOMPARE(value(3), QStringLiteral("2.13"));
        QVERIFY(bottomLine().endsWith(QStringLiteral("SN：0123456789ABCDEF0123456789ABCDEF")));
    }

    // A token pulled between the tree rebuild and the click, or a name too long to look up:
    // nothing of the device shown before stays, and no button can act on it.
    void aDeviceThatCannotBeRead_showsPlaceholders_andDisablesTheThreeButtons()
    {
        scriptToken(deviceRecord("FIRST", "SN-FIRST", 1, 0, 4096, 2048));
        window->chooseDev(QStringLiteral("VK-ONE"));
        QCOMPARE(value(0), QStringLiteral("FIRST"));

        const std::string longName(64, 'N');
        for (const QString& name : {QStringLiteral("VK-ONE"), QString::fromStdString(longName)}) {
            window->chooseDev(QStringLiteral("VK-ONE"));
            FakeSkf_SetResult("SKF_GetDevInfo", SAR_FAIL);
            window->chooseDev(name);
            FakeSkf_SetResult("SKF_GetDevInfo", SAR_OK);
            QCOMPARE(rows()->rowCount(), 12);
            QCOMPARE(caption(0), QStringLiteral("Label"));
            for (int row = 0; row < 12; ++row) {
                QCOMPARE(value(row), kPlaceholder);
            }
            QCOMPARE(bottomLine(), QString());
            QCOMPARE(QString::fromLatin1(window->currentAppName()), QString());
            QVERIFY(!button("btn_ChangeLabel")->isEnabled());
            QVERIFY(!button("btn_VerifyPIN")->isEnabled());
            QVERIFY(!button("btn_ChangePIN")->isEnabled());
        }
    }

    void oneUnreadablePinKind_keepsItsPlaceholders_andStillShowsTheOther()
    {
        scriptToken(deviceRecord("L", "S", 1, 0, 0, 0));
        // The administrator PIN is read first, the user PIN second.
        FakeSkf_FailAfter("SKF_GetPINInfo", 1, SAR_FAIL);
        window->chooseDev(QStringLiteral("VK-ONE"));
        QCOMPARE(value(6), QStringLiteral("10"));
        QCOMPARE(value(9), kPlaceholder);
        QCOMPARE(value(10), kPlaceholder);
        QCOMPARE(value(11), kPlaceholder);
        QVERIFY(button("btn_VerifyPIN")->isEnabled());
    }

    void anApplicationThatCannotBeOpened_showsPlaceholders_andDisablesThePinButtons()
    {
        scriptToken(deviceRecord("L", "S", 1, 0, 0, 0));
        window->chooseDev(QStringLiteral("VK-ONE"));
        QVERIFY(button("btn_VerifyPIN")->isEnabled());

        FakeSkf_SetResult("SKF_OpenApplication", SAR_FAIL);
        window->chooseDev(QStringLiteral("VK-ONE"));
        for (int row = 6; row < 12; ++row) {
            QCOMPARE(value(row), kPlaceholder);
        }
        QVERIFY(!button("btn_VerifyPIN")->isEnabled());
        QVERIFY(!button("btn_ChangePIN")->isEnabled());
        QVERIFY(button("btn_ChangeLabel")->isEnabled());
    }

    void anApplicationListThatCannotBeRead_keepsTheEarlierApplicationName()
    {
        scriptToken(deviceRecord("L", "S", 1, 0, 0, 0));
        window->chooseDev(QStringLiteral("VK-ONE"));
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QStringLiteral("APP_ONE"));

        FakeSkf_FailAfter("SKF_EnumApplication", 1, SAR_FAIL);
        window->chooseDev(QStringLiteral("VK-ONE"));
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QStringLiteral("APP_ONE"));

        // An empty list, on the other hand, forgets it.
        FakeSkf_SetResult("SKF_EnumApplication", SAR_OK);
        setApplications(std::string("\0", 1));
        window->chooseDev(QStringLiteral("VK-ONE"));
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QString());
        QVERIFY(!button("btn_VerifyPIN")->isEnabled());
    }

    void anApplicationNameTooLongForItsBuffer_isCutAtACharacter()
    {
        scriptToken(deviceRecord("L", "S", 1, 0, 0, 0));
        // 100 two-byte characters: 200 bytes for a buffer of 127 and its terminator.
        std::string longName;
        for (int i = 0; i < 100; ++i) {
            longName += "\xC3\xA9";
        }
        setApplications(longName + std::string("\0\0", 2));
        window->chooseDev(QStringLiteral("VK-ONE"));
        QCOMPARE(QByteArray(window->currentAppName()), QByteArray::fromStdString(longName.substr(0, 126)));
        QCOMPARE(QByteArray(FakeSkf_LastArgument("SKF_OpenApplication")),
                 QByteArray::fromStdString(longName.substr(0, 126)));
    }

    void theKeyInfoButton_onlyShowsThePage()
    {
        auto* pages = window->findChild<QTabWidget*>(QStringLiteral("tabWidget_2"));
        window->btn_keyinfo();
        QCOMPARE(pages->currentIndex(), 1);
        QCOMPARE(FakeSkf_CallCount("SKF_GetDevInfo"), 0u);
    }
};

QTEST_MAIN(KeyInfoTest)
#include "keyinfo_test.moc"
