// The device tree against a scripted driver: how each device event rebuilds it, what the
// tray says, how odd lists from the driver are walked, and what a language switch does.
#include "fakedriverfixture.h"

#include "cdevmgr.h"
#include "fakeskf_control.h"
#include "fonts.h"
#include "stringcatalogue.h"
#include "version.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>
#include <string>

namespace {

const QString kTitle = QString::fromUtf8(product::Title);
const QString kInserted = QStringLiteral("DIV-Uvavoz inserted");
const QString kRemoved = QStringLiteral("DIV-Uvavoz removed");

using fakedriver::setApplications;
using fakedriver::setDevices;

} // namespace

class DeviceTreeFakeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir noLanguageFiles;
    std::unique_ptr<RecordingWindow> window;

    // Hands an event to the driver and waits until the window has shown its notice.
    void deviceEvent(const char* name, ULONG event)
    {
        const int before = window->notices.size();
        FakeSkf_PushEvent(name, event);
        QTRY_COMPARE_WITH_TIMEOUT(window->notices.size(), before + 1, 5000);
    }

    QTabWidget* tabs(const char* name) const { return window->findChild<QTabWidget*>(QString::fromLatin1(name)); }
    QPushButton* button(const char* name) const { return window->findChild<QPushButton*>(QString::fromLatin1(name)); }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resource);
        // As the manager starts: its fonts before any window exists.
        fonts::useFormFonts();
    }

    void init() { fakedriver::openFreshWindow(window, noLanguageFiles.path()); }

    void cleanup() { window.reset(); }

    void twoDevicesWithNamesOfDifferentLengths_areEachListedUnderTheirOwnName()
    {
        setDevices(std::string("VK-1\0VK-A-MUCH-LONGER-NAME-2\0\0", 31));
        setApplications(std::string("OVRIN_APP\0\0", 11));
        deviceEvent("VK-1", 1);

        QCOMPARE(window->deviceNames(), QStringList({"VK-1", "VK-A-MUCH-LONGER-NAME-2"}));
        QCOMPARE(window->childrenOf("VK-1"), QStringList({"Data Manger"}));
        QCOMPARE(window->childrenOf("VK-A-MUCH-LONGER-NAME-2"), QStringList({"Data Manger"}));
        QCOMPARE(window->headerText(), QStringLiteral("DevList"));
        // Each device was connected in turn, then the inserted one by its expiry check, which
        // runs once the tree is whole.
        QVERIFY(FakeSkf_CallCount("SKF_ConnectDev") >= 3u);
        QCOMPARE(QString::fromLatin1(FakeSkf_LastArgument("SKF_ConnectDev")), QStringLiteral("VK-1"));
    }

    void anInsertion_showsTheTrayIcon_andTheInsertedNoticeForThreeSeconds()
    {
        setDevices(std::string("VK-1\0\0", 6));
        QVERIFY(!window->trayIcon()->isVisible());
        deviceEvent("VK-1", 1);
        QVERIFY(window->trayIcon()->isVisible());
        QCOMPARE(window->notices.size(), 1);
        QCOMPARE(window->notices[0].title, kTitle);
        QCOMPARE(window->notices[0].text, kInserted);
        QCOMPARE(window->notices[0].durationMs, 3000);
    }

    void aListWithoutItsClosingEmptyName_endsAtTheEndOfTheBuffer()
    {
        setDevices(std::string("DEV-A\0DEV-B", 11));
        deviceEvent("DEV-A", 1);
        QCOMPARE(window->deviceNames(), QStringList({"DEV-A", "DEV-B"}));
    }

    void aDriverThatOverstatesTheListSize_givesAnEmptyTree_notACrash()
    {
        setDevices(std::string("DEV-A\0\0", 7), 0x7FFFFFFF);
        deviceEvent("DEV-A", 1);
        QCOMPARE(window->deviceModel()->rowCount(), 0);
        QCOMPARE(window->headerText(), QStringLiteral("DevList"));
    }

    void aFailedListRead_countsAsAnEmptyList()
    {
        setDevices(std::string("DEV-A\0\0", 7));
        FakeSkf_FailAfter("SKF_EnumDev", 1, SAR_FAIL);
        deviceEvent("DEV-A", 1);
        QCOMPARE(window->deviceModel()->rowCount(), 0);
    }

    void aDeviceWithTwoApplications_showsOneDataNode_andTheFirstApplicationIsCurrent()
    {
        setDevices(std::string("VK-1\0\0", 6));
        setApplications(std::string("FIRST_APP\0SECOND_APP\0\0", 22));
        deviceEvent("VK-1", 1);
        QCOMPARE(window->childrenOf("VK-1"), QStringList({"Data Manger"}));
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QStringLiteral("FIRST_APP"));
    }

    void anEmptyApplicationList_showsEmptyDevice_andClearsTheCurrentApplication()
    {
        setDevices(std::string("VK-1\0\0", 6));
        setApplications(std::string("APP\0\0", 5));
        deviceEvent("VK-1", 1);
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QStringLiteral("APP"));

        setApplications(std::string("\0", 1));
        deviceEvent("VK-1", 1);
        QCOMPARE(window->childrenOf("VK-1"), QStringList({"Empty Device"}));
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QString());
    }

    void anApplicationListThatStartsWithAnEmptyName_showsEmptyDevice()
    {
        setDevices(std::string("VK-1\0\0", 6));
        setApplications(std::string("\0\0\0\0", 4));
        deviceEvent("VK-1", 1);
        QCOMPARE(window->childrenOf("VK-1"), QStringList({"Empty Device"}));
    }

    void anUnreadableApplicationList_leavesTheDeviceWithoutChild_andTheNameAsItWas()
    {
        setDevices(std::string("VK-1\0\0", 6));
        setApplications(std::string("KEPT\0\0", 6));
        deviceEvent("VK-1", 1);
        FakeSkf_SetResult("SKF_EnumApplication", SAR_FAIL);
        deviceEvent("VK-1", 1);
        QCOMPARE(window->deviceNames(), QStringList({"VK-1"}));
        QCOMPARE(window->childrenOf("VK-1"), QStringList());
        QCOMPARE(QString::fromLatin1(window->currentAppName()), QStringLiteral("KEPT"));
    }

    void anApplicationNameTooLongForItsBuffer_isCutAndKeepsItsTerminator()
    {
        setDevices(std::string("VK-1\0\0", 6));
        const std::string longName(300, 'N');
        setApplications(longName + std::string("\0\0", 2));
        deviceEvent("VK-1", 1);
        QCOMPARE(std::string(window->currentAppName()), std::string(MainWindow::AppNameSize - 1, 'N'));
    }

    void removingTheLastDevice_noticesIt_emptiesTheTree_andHidesTheTrayIcon()
    {
        setDevices(std::string("VK-1\0\0", 6));
        deviceEvent("VK-1", 1);
        QVERIFY(window->trayIcon()->isVisible());

        setDevices(std::string());
        deviceEvent("VK-1", 2);
        QCOMPARE(window->notices.last().title, kTitle);
        QCOMPARE(window->notices.last().text, kRemoved);
        QCOMPARE(window->notices.last().durationMs, 3000);
        QCOMPARE(window->deviceModel()->rowCount(), 0);
        QVERIFY(!window->trayIcon()->isVisible());
    }

    void aListHoldingOnlyItsTerminator_alsoHidesTheTrayIcon()
    {
        setDevices(std::string("VK-1\0\0", 6));
        deviceEvent("VK-1", 1);
        setDevices(std::string("\0", 1));
        deviceEvent("VK-1", 2);
        QCOMPARE(window->deviceModel()->rowCount(), 0);
        QVERIFY(!window->trayIcon()->isVisible());
        QCOMPARE(window->headerText(), QStringLiteral("DevList"));
    }

    // Each rebuild is announced with the devices it shows (the benchmark probe listens).
    void removingOneOfTwoDevices_keepsTheTrayIconAndListsTheOther()
    {
        QSignalSpy rebuilt(window.get(), &MainWindow::deviceTreeRebuilt);
        setDevices(std::string("VK-1\0VK-2\0\0", 11));
        deviceEvent("VK-1", 1);
        setDevices(std::string("VK-2\0\0", 6));
        deviceEvent("VK-1", 2);
        QCOMPARE(window->deviceNames(), QStringList({"VK-2"}));
        QVERIFY(window->trayIcon()->isVisible());
        QCOMPARE(rebuilt.size(), 2);
        QCOMPARE(rebuilt.at(0).at(0).toInt(), 2);
        QCOMPARE(rebuilt.at(1).at(0).toInt(), 1);
    }

    void anEvent_returnsToTheMainPage_andDisablesTheOperationButtons()
    {
        setDevices(std::string("VK-1\0\0", 6));
        tabs("tabWidget")->setCurrentIndex(3);
        tabs("tabWidget_2")->setCurrentIndex(3);
        // The label page's OK button is enabled by its typing check, as a person does it.
        window->findChild<QLineEdit*>(QStringLiteral("NewLabelEdit"))->setText(QStringLiteral("Label"));
        QVERIFY(button("btn_ChangeLab_OK")->isEnabled());
        for (const char* name :
             {"btn_ChangeLabel", "btn_VerifyPIN", "btn_ChangePIN", "btn_VerifyPIN_OK", "btn_ExpCert", "btn_DelCtn"}) {
            button(name)->setEnabled(true);
        }
        deviceEvent("VK-1", 1);
        QCOMPARE(tabs("tabWidget")->currentIndex(), 1);
        QCOMPARE(tabs("tabWidget_2")->currentIndex(), 0);
        for (const char* name :
             {"btn_ChangeLabel", "btn_VerifyPIN", "btn_ChangePIN", "btn_VerifyPIN_OK", "btn_ExpCert", "btn_DelCtn"}) {
            QVERIFY2(!button(name)->isEnabled(), name);
        }
        // The label page's OK button keeps what its typing check gave it.
        QVERIFY(button("btn_ChangeLab_OK")->isEnabled());
    }

    void clickingADevice_opensTheKeyInformationPage_butClickingItsChildDoesNot()
    {
        setDevices(std::string("VK-1\0\0", 6));
        setApplications(std::string("APP\0\0", 5));
        deviceEvent("VK-1", 1);
        const QModelIndex device = window->deviceModel()->index(0, 0);
        window->Dev_App_selected(device.model()->index(0, 0, device));
        QCOMPARE(tabs("tabWidget_2")->currentIndex(), 0);
        window->Dev_App_selected(device);
        QCOMPARE(tabs("tabWidget")->currentIndex(), 1);
        QCOMPARE(tabs("tabWidget_2")->currentIndex(), 1);

        tabs("tabWidget_2")->setCurrentIndex(0);
        window->deviceTree()->setCurrentIndex(device);
        window->Dev_App_selected_noindex();
        QCOMPARE(tabs("tabWidget_2")->currentIndex(), 1);
    }

    void aLanguageSwitchBeforeAnyEvent_rebuildsTheTreeWithoutANotice()
    {
        MainWindow::setLanguageDirectory(STAGED_LANG_DIR);
        setDevices(std::string("VK-1\0\0", 6));
        setApplications(std::string("APP\0\0", 5));
        window->findChild<QComboBox*>(QStringLiteral("cbx_lang"))->setCurrentIndex(0);
        QCOMPARE(window->languageId(), 2052);
        QCOMPARE(window->deviceNames(), QStringList({"VK-1"}));
        QCOMPARE(window->childrenOf("VK-1"), QStringList({QStringLiteral("数据管理")}));
        QCOMPARE(window->headerText(), QStringLiteral("设备列表"));
        QVERIFY(window->notices.isEmpty());
    }

    void aLanguageSwitchAfterAnInsertion_repeatsTheNoticeInTheNewLanguage()
    {
        MainWindow::setLanguageDirectory(STAGED_LANG_DIR);
        setDevices(std::string("VK-1\0\0", 6));
        deviceEvent("VK-1", 1);
        window->chooseLangByIndex(1);
        QCOMPARE(window->notices.size(), 2);
        QCOMPARE(window->notices[1].text, QStringLiteral("DIV-Uvavoz 已插入"));
        window->chooseLangByIndex(2);
        QCOMPARE(window->notices.size(), 3);
        QCOMPARE(window->notices[2].text, kInserted);
    }

    void anIndexOutsideTheThreeLanguages_keepsTheLanguage_andStillRefreshes()
    {
        MainWindow::setLanguageDirectory(STAGED_LANG_DIR);
        window->chooseLangByIndex(1);
        QCOMPARE(window->languageId(), 1028);
        window->findChild<QLabel*>(QStringLiteral("lab_cert_2"))->clear();
        window->chooseLangByIndex(7);
        QCOMPARE(window->languageId(), 1028);
        QCOMPARE(window->findChild<QLabel*>(QStringLiteral("lab_cert_2"))->text(), QStringLiteral("資料管理"));
    }

    void withoutADriver_anEventLeavesTheTreeEmpty()
    {
        window.reset();
        cDevMgr::getInst()->resetForTests();
        cDevMgr::setDriverPath("/nonexistent/libnone.so");
        window = std::make_unique<RecordingWindow>();
        // No wait for the monitor: the driver cannot load, whether or not it has tried yet.
        window->slotEventChange();
        QCOMPARE(window->deviceModel()->rowCount(), 0);
        QVERIFY(window->notices.isEmpty());
    }

    // Pictures of the window and of a token's key information in the three languages, in
    // the manager's fonts, for a person to look at.
    void screenshots_ofTheWindowInTheThreeLanguages()
    {
        MainWindow::setLanguageDirectory(STAGED_LANG_DIR);
        DEVINFO info{};
        std::memcpy(info.Label, "Velkora Token", 13);
        std::memcpy(info.SerialNumber, "VK2026000001", 12);
        std::memcpy(info.Manufacturer, "Velkora Soft", 12);
        info.HWVersion.major = 1;
        info.TotalSpace = 65536;
        info.FreeSpace = 40960;
        FakeSkf_SetDevInfo(&info);
        FakeSkf_SetPinInfo(0, 10, 10, TRUE);
        FakeSkf_SetPinInfo(1, 10, 9, FALSE);
        setDevices(std::string("VK-VK2026000001\0VK-VK2026000002\0\0", 33));
        setApplications(std::string("OVRIN_APP\0\0", 11));
        deviceEvent("VK-VK2026000001", 1);
        QVERIFY(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
        const struct
        {
            int index;
            const char* file;
        } languages[] = {{0, "mainwindow_2052.png"}, {1, "mainwindow_1028.png"}, {2, "mainwindow_1033.png"}};
        for (const auto& language : languages) {
            window->chooseLangByIndex(language.index);
            window->deviceTree()->expandAll();
            const QPixmap picture = window->grab();
            QCOMPARE(picture.size(), QSize(662, 460));
            QVERIFY(picture.save(QStringLiteral(SCREENSHOT_DIR "/") + QString::fromLatin1(language.file)));

            const QModelIndex device = window->deviceModel()->item(0)->index();
            window->deviceTree()->setCurrentIndex(device);
            emit window->deviceTree()->clicked(device);
            const QString keyInfo
                = QString::fromLatin1(language.file).replace(QStringLiteral("mainwindow"), QStringLiteral("keyinfo"));
            QVERIFY(window->grab().save(QStringLiteral(SCREENSHOT_DIR "/") + keyInfo));
        }
    }
};

QTEST_MAIN(DeviceTreeFakeTest)
#include "devicetree_fake_test.moc"
