// The main window as its constructor leaves it: every widget in place, the hidden and
// disabled ones, the pages shown, the tray icon, the language box and the first texts.
#include "windowtestsupport.h"

#include "formwidgets.h"

#include "cdevmgr.h"
#include "fakeskf_control.h"
#include "stringcatalogue.h"
#include "version.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>

#include <memory>

namespace {

// QObject keeps isSignalConnected protected; naming it through a subclass lets a test ask.
struct ConnectionProbe : QObject
{
    static bool connected(const QObject* sender, const char* signal)
    {
        const int index = sender->metaObject()->indexOfSignal(signal);
        return index >= 0 && (sender->*(&ConnectionProbe::isSignalConnected))(sender->metaObject()->method(index));
    }
};

} // namespace

class MainWindowConstructionTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RecordingWindow> window;

    template <typename T> T* widget(const char* name) const
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) {
            qFatal("no widget %s", name);
        }
        return found;
    }

    std::unique_ptr<RecordingWindow> windowWithLang(const char* lang)
    {
        qputenv("LANG", lang);
        return std::make_unique<RecordingWindow>();
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resource);
        FakeSkf_Reset();
        cDevMgr::getInst()->resetForTests();
        cDevMgr::setDriverPath(FAKE_SCRIPTED_DRIVER);
        MainWindow::setLanguageDirectory(STAGED_LANG_DIR);
    }

    void init() { window = windowWithLang("en_US.UTF-8"); }
    void cleanup() { window.reset(); }

    void everyWidget_hasItsClassParentAndGeometry()
    {
        for (const FormWidget& place : kWidgets) {
            QWidget* found = window->findChild<QWidget*>(QString::fromLatin1(place.name));
            QVERIFY2(found != nullptr, place.name);
            QCOMPARE(QString::fromLatin1(found->metaObject()->className()), QString::fromLatin1(place.className));
            QVERIFY2(found->parentWidget() != nullptr, place.name);
            QCOMPARE(found->parentWidget()->objectName(), QString::fromLatin1(place.parent));
            QCOMPARE(found->geometry(), place.geometry);
        }
    }

    void theWindow_hasItsFixedSizeTitleAndNoParent()
    {
        QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window->size(), QSize(662, 460));
        QCOMPARE(window->minimumSize(), QSize(662, 460));
        QCOMPARE(window->maximumSize(), QSize(662, 460));
        QCOMPARE(window->windowTitle(), QString::fromUtf8(product::Title));
        QVERIFY(window->parentWidget() == nullptr);
        QVERIFY(!window->isVisible());
    }

    void theOperationButtons_startDisabled_andTheUnofferedOnesHidden()
    {
        for (const char* name :
             {"btn_ChangeLabel", "btn_VerifyPIN", "btn_ChangePIN", "btn_VerifyPIN_OK", "btn_ChangPIN_OK", "btn_ImpCert",
              "btn_ExpCert", "btn_DelCtn", "btn_ChangeLab_OK", "btn_ChangAuthKey_OK", "btn_UnblockPIN_OK",
              "btn_Initialize_OK", "btn_Keyinfo", "btn_ChangeAuthKey", "btn_UnblockPIN", "btn_Initialize"}) {
            QVERIFY2(!widget<QPushButton>(name)->isEnabled(), name);
        }
        for (const char* name :
             {"btn_Keyinfo", "btn_ImpCert", "btn_ChangeAuthKey", "btn_UnblockPIN", "btn_Initialize"}) {
            QVERIFY2(widget<QWidget>(name)->isHidden(), name);
        }
        QVERIFY(widget<QComboBox>("cbx_lang")->isHidden());
        QVERIFY(widget<QPushButton>("btn_ViewCert")->isEnabled());
        QVERIFY(!widget<QPushButton>("btn_ViewCert")->isHidden());
        QVERIFY(widget<QCheckBox>("chb_devAuthkey")->isChecked());
        QVERIFY(!widget<QLineEdit>("Init_DevAuthKey_Edit")->isEnabled());
    }

    void theTokenMainPage_isShown_withBothTabBarsHidden()
    {
        auto* outer = widget<QTabWidget>("tabWidget");
        auto* inner = widget<QTabWidget>("tabWidget_2");
        QCOMPARE(outer->currentWidget()->objectName(), QStringLiteral("ukey"));
        QCOMPARE(inner->currentWidget()->objectName(), QStringLiteral("tab_mainpage"));
        QVERIFY(outer->tabBar()->isHidden());
        QVERIFY(inner->tabBar()->isHidden());
        QVERIFY(inner->testAttribute(Qt::WA_TranslucentBackground));
    }

    void theTrayIcon_isCreatedWithItsTooltipAndMenu_butNotVisible()
    {
        QSystemTrayIcon* tray = window->trayIcon();
        QVERIFY(tray != nullptr);
        QVERIFY(!tray->isVisible());
        QCOMPARE(tray->toolTip(), QString::fromUtf8(product::Title));
        QVERIFY(tray->icon().availableSizes().contains(QSize(16, 16)));
        QVERIFY(tray->icon().availableSizes().contains(QSize(32, 32)));
        QMenu* menu = tray->contextMenu();
        QVERIFY(menu != nullptr);
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), 3);
        QVERIFY(actions[1]->isSeparator());
        // The menu speaks the window's language, and Qt's own buttons speak it too.
        struct Case
        {
            int index;
            const char* show;
            const char* exit;
            const char* ok;
        };
        for (const Case& language :
             {Case{2, "Show main window", "Exit", "OK"}, Case{0, "显示主界面", "退出", "确定"},
              Case{1, "顯示主視窗", "結束", "確定"}, Case{2, "Show main window", "Exit", "OK"}}) {
            window->chooseLangByIndex(language.index);
            QCOMPARE(actions[0]->text(), QString::fromUtf8(language.show));
            QCOMPARE(actions[2]->text(), QString::fromUtf8(language.exit));
            QMessageBox box;
            box.setStandardButtons(QMessageBox::Ok);
            QCOMPARE(box.button(QMessageBox::Ok)->text(), QString::fromUtf8(language.ok));
        }
    }

    void theShowAction_andADoubleClick_bringTheWindowBack_aSingleClickOnlyGivesANotice()
    {
        // Hidden or minimised, the window comes back restored.
        QMenu* menu = window->trayIcon()->contextMenu();
        for (const Qt::WindowState state : {Qt::WindowNoState, Qt::WindowMinimized}) {
            window->showMinimized();
            window->setWindowState(state);
            window->hide();
            menu->actions()[0]->trigger();
            QVERIFY(window->isVisible());
            QVERIFY(!window->isMinimized());
            window->showMinimized();
            emit window->trayIcon()->activated(QSystemTrayIcon::DoubleClick);
            QVERIFY(!window->isMinimized());
        }
        window->hide();

        emit window->trayIcon()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!window->isVisible());
        QCOMPARE(window->notices.size(), 1);
        QCOMPARE(window->notices[0].title, QString::fromUtf8(catalogue::TrayTitle.defaultText));
        QCOMPARE(window->notices[0].text, QString::fromUtf8(product::Title));
        QCOMPARE(window->notices[0].durationMs, 1000);

        emit window->trayIcon()->activated(QSystemTrayIcon::Context);
        QVERIFY(!window->isVisible());
        QCOMPARE(window->notices.size(), 1);

        emit window->trayIcon()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(window->isVisible());
    }

    void theLanguageBox_holdsTheThreeLanguageNames()
    {
        auto* box = widget<QComboBox>("cbx_lang");
        QCOMPARE(box->count(), 3);
        QCOMPARE(box->itemText(0), QStringLiteral("Chinese (Simplified)"));
        QCOMPARE(box->itemText(1), QStringLiteral("Chinese (Traditional)"));
        QCOMPARE(box->itemText(2), QStringLiteral("English"));
        QCOMPARE(box->currentIndex(), 2);
    }

    void theLanguageFromLang_selectsItsItem_withoutASwitch_data()
    {
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("header");
        QTest::newRow("simplified") << QByteArray("zh_CN.UTF-8") << 0 << 2052 << QStringLiteral("设备列表");
        QTest::newRow("traditional") << QByteArray("zh_TW.UTF-8") << 1 << 1028 << QStringLiteral("裝置清單");
        QTest::newRow("english") << QByteArray("en_GB.UTF-8") << 2 << 1033 << QStringLiteral("DevList");
        QTest::newRow("no dot") << QByteArray("zh_CN") << 2 << 1033 << QStringLiteral("DevList");
    }

    void theLanguageFromLang_selectsItsItem_withoutASwitch()
    {
        QFETCH(QByteArray, lang);
        QFETCH(int, item);
        QFETCH(int, language);
        QFETCH(QString, header);
        window.reset();
        window = windowWithLang(lang.constData());
        QCOMPARE(window->languageId(), language);
        QCOMPARE(widget<QComboBox>("cbx_lang")->currentIndex(), item);
        QCOMPARE(window->headerText(), header);
        // A switch would have rebuilt the tree and with it dropped the header: it did not.
        QCOMPARE(window->deviceModel()->rowCount(), 0);
        QVERIFY(window->notices.isEmpty());
    }

    void theAboutTexts_showTheVersionAndTheVendorLine()
    {
        char version[product::VersionSize] = {};
        char vendor[product::VendorLineSize] = {};
        getMgrVersion(version, vendor);
        QCOMPARE(widget<QLabel>("label_2")->text(), QString::fromUtf8(version));
        QCOMPARE(widget<QLabel>("label_version")->text(), QString::fromUtf8(version));
        QCOMPARE(widget<QLabel>("label_3")->text(), QString::fromUtf8(vendor));
        QCOMPARE(widget<QLabel>("label")->text(), QString::fromUtf8(product::Company));
        QCOMPARE(widget<QLabel>("label_about")->text(), QString::fromUtf8(product::Title));
        QVERIFY(widget<QLabel>("label_bottom")->text().isEmpty());
    }

    void theLogoButton_showsTheAboutPage()
    {
        QTest::mouseClick(widget<QPushButton>("btn_logo"), Qt::LeftButton);
        QCOMPARE(widget<QTabWidget>("tabWidget")->currentWidget()->objectName(), QStringLiteral("about"));
    }

    void everyWiredSender_isConnected()
    {
        const struct
        {
            const char* name;
            const char* signal;
        } wired[] = {
            {"btn_logo", "clicked(bool)"},
            {"treeView_Dev", "clicked(QModelIndex)"},
            {"treeView", "doubleClicked(QModelIndex)"},
            {"btn_DelCtn", "clicked(bool)"},
            {"btn_ImpCert", "clicked(bool)"},
            {"btn_ExpCert", "clicked(bool)"},
            {"btn_ViewCert", "clicked(bool)"},
            {"btn_Keyinfo", "clicked(bool)"},
            {"btn_ChangeLabel", "clicked(bool)"},
            {"btn_VerifyPIN", "clicked(bool)"},
            {"btn_ChangePIN", "clicked(bool)"},
            {"NewLabelEdit", "textChanged(QString)"},
            {"VerifyPIN_Edit", "textChanged(QString)"},
            {"NewPIN_Edit", "textChanged(QString)"},
            {"OldPIN_Edit", "textChanged(QString)"},
            {"ConfirmPIN_Edit", "textChanged(QString)"},
            {"btn_ChangeLab_OK", "clicked(bool)"},
            {"btn_VerifyPIN_OK", "clicked(bool)"},
            {"btn_ChangPIN_OK", "clicked(bool)"},
            {"SOPIN_Edit", "textChanged(QString)"},
            {"UserPIN_Edit", "textChanged(QString)"},
            {"ConfirmUserPIN_Edit", "textChanged(QString)"},
            {"OldAuthKey_Edit", "textChanged(QString)"},
            {"NewAuthKey_Edit", "textChanged(QString)"},
            {"ConfirmAuthKey_Edit", "textChanged(QString)"},
            {"Init_DevAuthKey_Edit", "textChanged(QString)"},
            {"Init_LabelName_Edit", "textChanged(QString)"},
            {"Init_NewSOPIN_Edit", "textChanged(QString)"},
            {"Init_NewUserPIN_Edit", "textChanged(QString)"},
            {"chb_devAuthkey", "clicked(bool)"},
            {"cbx_lang", "currentIndexChanged(int)"},
        };
        for (const auto& entry : wired) {
            QObject* sender = window->findChild<QObject*>(QString::fromLatin1(entry.name));
            QVERIFY2(sender != nullptr, entry.name);
            QVERIFY2(ConnectionProbe::connected(sender, entry.signal), entry.name);
        }
        // The never-offered pages' buttons have nothing behind them.
        for (const char* name : {"btn_ChangeAuthKey", "btn_UnblockPIN", "btn_Initialize", "btn_ChangAuthKey_OK",
                                 "btn_Initialize_OK", "btn_UnblockPIN_OK"}) {
            QObject* sender = window->findChild<QObject*>(QString::fromLatin1(name));
            QVERIFY2(!ConnectionProbe::connected(sender, "clicked(bool)"), name);
        }
    }

    void theSlots_areDeclaredInTheirOrder()
    {
        const char* expected[] = {"updateUIlang()",
                                  "updateUIlangFirst()",
                                  "chooseLangByIndex(int)",
                                  "slotEventChange()",
                                  "chooseDev(QString)",
                                  "chooseApp(QString)",
                                  "btn_Logo()",
                                  "Dev_App_selected_noindex()",
                                  "Dev_App_selected(QModelIndex)",
                                  "Ctn_selected(QModelIndex)",
                                  "btn_deleteCtn()",
                                  "btn_importCert()",
                                  "btn_exportCert()",
                                  "btn_viewCert()",
                                  "btn_keyinfo()",
                                  "btn_changeLabel()",
                                  "btn_verifyPin()",
                                  "btn_changePin()",
                                  "tab1_newName_Valuechange()",
                                  "tab1_PIN_Valuechange()",
                                  "tab1_OldPIN_Valuechange()",
                                  "tab1_NewPIN_Valuechange()",
                                  "tab1_ConfirmPIN_Valuechange()",
                                  "NewLabelEdit_Valuechange()",
                                  "UnBlockPIN_Valuechange()",
                                  "ChangeDevAuthKey_Valuechange()",
                                  "Initialize_Valuechange()",
                                  "btn_changelabe_ok()",
                                  "btn_verifyPIN_ok()",
                                  "btn_changePIN_ok()",
                                  "setLangID(int)",
                                  "on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason)",
                                  "on_showMainAction()",
                                  "on_exitAppAction()"};
        const QMetaObject& meta = MainWindow::staticMetaObject;
        int slot = 0;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            if (meta.method(i).methodType() != QMetaMethod::Slot) {
                continue;
            }
            QVERIFY(slot < int(sizeof expected / sizeof expected[0]));
            QCOMPARE(meta.method(i).methodSignature(), QByteArray(expected[slot]));
            ++slot;
        }
        QCOMPARE(slot, int(sizeof expected / sizeof expected[0]));
    }

    void setLangID_onlyStoresTheNumber_untilTheNextRefresh()
    {
        QMetaObject::invokeMethod(window.get(), "setLangID", Q_ARG(int, 2052));
        QCOMPARE(window->languageId(), 2052);
        QCOMPARE(window->headerText(), QStringLiteral("DevList"));
        window->updateUIlangFirst();
        QCOMPARE(window->headerText(), QStringLiteral("设备列表"));
    }

    void closingTheWindow_hidesIt_stopsTheMonitor_andEndsTheEventLoop()
    {
        window->show();
        QTimer::singleShot(0, window.get(), [this] { window->close(); });
        QTimer::singleShot(5000, qApp, [] { qApp->exit(7); });
        QCOMPARE(qApp->exec(), 0);
        QVERIFY(!window->isVisible());
    }
};

QTEST_MAIN(MainWindowConstructionTest)
#include "mainwindow_construction_test.moc"
