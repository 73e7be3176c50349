// The label, verify-PIN and change-PIN pages against the scriptable fake driver: the
// typing checks and their counts, what each OK button hands the driver, which message
// follows each answer, and what the buttons and fields look like afterwards.
#include "fakedriverfixture.h"

#include "cdevmgr.h"
#include "dialogsupport.h"
#include "fakeskf_control.h"

#include <QCheckBox>
#include <QInputMethodEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <string>

namespace {

const QString kThreeByteChar = QString::fromUtf8("\xE4\xB8\xAD"); // 中

// Types text as key presses carrying each character, as an input method would; QTest's
// own key clicks only know ASCII.
void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

QString count(int n)
{
    return QStringLiteral("Already input %1 character").arg(n);
}

} // namespace

class PinPagesTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir noLanguageFiles;
    std::unique_ptr<RecordingWindow> window;

    QLineEdit* field(const char* name) const { return window->findChild<QLineEdit*>(QString::fromLatin1(name)); }
    QLabel* label(const char* name) const { return window->findChild<QLabel*>(QString::fromLatin1(name)); }
    QPushButton* button(const char* name) const { return window->findChild<QPushButton*>(QString::fromLatin1(name)); }
    int page() const { return window->findChild<QTabWidget*>(QStringLiteral("tabWidget_2"))->currentIndex(); }

    bool certificateButtons(bool enabled) const
    {
        return button("btn_ImpCert")->isEnabled() == enabled && button("btn_ExpCert")->isEnabled() == enabled
            && button("btn_DelCtn")->isEnabled() == enabled;
    }

    // A device with an application, selected through the key-information page.
    void selectToken()
    {
        fakedriver::setDevices(std::string("VK-PIN\0\0", 8));
        fakedriver::setApplications(std::string("APP\0\0", 5));
        window->chooseDev(QStringLiteral("VK-PIN"));
        QVERIFY(button("btn_VerifyPIN")->isEnabled());
    }

    void fillChangePin(const QString& oldPin, const QString& newPin, const QString& confirmPin)
    {
        window->btn_changePin();
        field("OldPIN_Edit")->setText(oldPin);
        field("NewPIN_Edit")->setText(newPin);
        field("ConfirmPIN_Edit")->setText(confirmPin);
    }

    // Presses change-PIN OK and returns the one message it showed.
    ShownMessage changePin(const QString& oldPin, const QString& newPin, const QString& confirmPin)
    {
        fillChangePin(oldPin, newPin, confirmPin);
        const QList<ShownMessage> shown = answerMessages([this] { window->btn_changePIN_ok(); });
        [&] { QCOMPARE(shown.size(), 1); }();
        return shown.value(0);
    }

    ShownMessage verifyPin(const QString& pin)
    {
        window->btn_verifyPin();
        field("VerifyPIN_Edit")->setText(pin);
        const QList<ShownMessage> shown = answerMessages([this] { window->btn_verifyPIN_ok(); });
        [&] { QCOMPARE(shown.size(), 1); }();
        return shown.value(0);
    }

    void checkChangePinEmptied()
    {
        QVERIFY(field("OldPIN_Edit")->text().isEmpty());
        QVERIFY(field("NewPIN_Edit")->text().isEmpty());
        QVERIFY(field("ConfirmPIN_Edit")->text().isEmpty());
        QVERIFY(!button("btn_ChangPIN_OK")->isEnabled());
    }

private slots:
    void init() { fakedriver::openFreshWindow(window, noLanguageFiles.path()); }

    void cleanup() { window.reset(); }

    // Typing checks.

    void theLabelCheck_countsUtf8Bytes_andAllowsAtMost31()
    {
        window->btn_changeLabel();
        QCOMPARE(page(), 2);
        QLineEdit* edit = field("NewLabelEdit");
        QTest::keyClicks(edit, QStringLiteral("a"));
        QCOMPARE(label("lab_nameCheck_1")->text(), count(1));
        QVERIFY(button("btn_ChangeLab_OK")->isEnabled());
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(label("lab_nameCheck_1")->text(), QString());
        QVERIFY(!button("btn_ChangeLab_OK")->isEnabled());

        edit->setText(QString(31, QLatin1Char('x')));
        QCOMPARE(label("lab_nameCheck_1")->text(), count(31));
        QVERIFY(button("btn_ChangeLab_OK")->isEnabled());

        edit->setText(kThreeByteChar.repeated(10));
        QCOMPARE(label("lab_nameCheck_1")->text(), count(30));
        QVERIFY(button("btn_ChangeLab_OK")->isEnabled());
        edit->setText(kThreeByteChar.repeated(11));
        QCOMPARE(label("lab_nameCheck_1")->text(), count(33));
        QVERIFY(!button("btn_ChangeLab_OK")->isEnabled());
    }

    void theVerifyCheck_needsSixCharacters_andTakesAtMostSixteen()
    {
        window->btn_verifyPin();
        QCOMPARE(page(), 3);
        QLineEdit* edit = field("VerifyPIN_Edit");
        QTest::keyClicks(edit, QStringLiteral("12345"));
        QCOMPARE(label("lab_PINcheck")->text(), count(5));
        QVERIFY(!button("btn_VerifyPIN_OK")->isEnabled());
        QTest::keyClicks(edit, QStringLiteral("6"));
        QVERIFY(button("btn_VerifyPIN_OK")->isEnabled());
        QTest::keyClicks(edit, QStringLiteral("abcdefghijklmn"));
        QCOMPARE(edit->text().size(), 16);
        QCOMPARE(label("lab_PINcheck")->text(), count(16));
    }

    void theChangeCheck_showsEachFieldsCount_butNeedsAllThree()
    {
        window->btn_changePin();
        QCOMPARE(page(), 4);
        QTest::keyClicks(field("NewPIN_Edit"), QStringLiteral("abcdef"));
        QTest::keyClicks(field("ConfirmPIN_Edit"), QStringLiteral("abcdeg7"));
        QVERIFY(!button("btn_ChangPIN_OK")->isEnabled());
        QCOMPARE(label("lab_oldPINCheck")->text(), QString());

        // New and confirmation may differ: that is judged when OK is pressed.
        QTest::keyClicks(field("OldPIN_Edit"), QStringLiteral("123456"));
        QVERIFY(button("btn_ChangPIN_OK")->isEnabled());
        QCOMPARE(label("lab_oldPINCheck")->text(), count(6));
        QCOMPARE(label("lab_NewPINCheck")->text(), count(6));
        QCOMPARE(label("lab_ConfirmPINCheck")->text(), count(7));

        QTest::keyClick(field("NewPIN_Edit"), Qt::Key_Backspace);
        QVERIFY(!button("btn_ChangPIN_OK")->isEnabled());
        QCOMPARE(label("lab_NewPINCheck")->text(), count(5));
        field("NewPIN_Edit")->clear();
        QCOMPARE(label("lab_NewPINCheck")->text(), QString());
        QCOMPARE(field("OldPIN_Edit")->maxLength(), 15);
    }

    void pinFields_refuseCharactersOutsidePrintableAscii()
    {
        window->btn_verifyPin();
        window->btn_changePin();
        for (const char* name : {"VerifyPIN_Edit", "OldPIN_Edit", "NewPIN_Edit", "ConfirmPIN_Edit"}) {
            QLineEdit* edit = field(name);
            typeText(edit,
                     QString::fromUtf8("ab\xC3\xA9"
                                       "c d~"));
            QCOMPARE(edit->text(), QStringLiteral("abc d~"));
            edit->insert(QString::fromUtf8("\xE4\xB8\xAD"));
            QCOMPARE(edit->text(), QStringLiteral("abc d~"));
        }
        // The label is not a PIN: any script is welcome there.
        window->btn_changeLabel();
        typeText(field("NewLabelEdit"), QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
        QCOMPARE(field("NewLabelEdit")->text(), QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
    }

    // What the validator drops is explained in the field's count label, in the window's
    // language, until the next accepted change; the refused text still never arrives.
    void aRefusedPinKeystroke_isExplainedInTheCountLabel_untilTheNextChange()
    {
        const QString refused = QStringLiteral("A PIN takes only English letters, digits and symbols");
        window->btn_verifyPin();
        window->btn_changePin();
        const struct
        {
            const char* field;
            const char* countLabel;
        } fields[] = {{"VerifyPIN_Edit", "lab_PINcheck"},
                      {"OldPIN_Edit", "lab_oldPINCheck"},
                      {"NewPIN_Edit", "lab_NewPINCheck"},
                      {"ConfirmPIN_Edit", "lab_ConfirmPINCheck"}};
        for (const auto& pin : fields) {
            QLineEdit* edit = field(pin.field);
            typeText(edit, QStringLiteral("ab"));
            QCOMPARE(label(pin.countLabel)->text(), count(2));
            typeText(edit, kThreeByteChar);
            QCOMPARE(label(pin.countLabel)->text(), refused);
            typeText(edit, QStringLiteral("c"));
            QCOMPARE(label(pin.countLabel)->text(), count(3));

            QInputMethodEvent composed;
            composed.setCommitString(QString::fromUtf8("\xC3\xA9"));
            QApplication::sendEvent(edit, &composed);
            QCOMPARE(label(pin.countLabel)->text(), refused);
            QCOMPARE(edit->text(), QStringLiteral("abc"));
        }
        // Backspace and other control keys are no refusal.
        QTest::keyClick(field("VerifyPIN_Edit"), Qt::Key_Backspace);
        QCOMPARE(label("lab_PINcheck")->text(), count(2));
        QTest::keyClick(field("VerifyPIN_Edit"), Qt::Key_Tab);
        QCOMPARE(label("lab_PINcheck")->text(), count(2));

        // In Chinese the reason is the Chinese text.
        MainWindow::setLanguageDirectory(STAGED_LANG_DIR);
        window->chooseLangByIndex(0);
        typeText(field("VerifyPIN_Edit"), kThreeByteChar);
        QCOMPARE(label("lab_PINcheck")->text(),
                 QString::fromUtf8("\xE5\x8F\xA3\xE4\xBB\xA4\xE5\x8F\xAA\xE8\x83\xBD"
                                   "\xE5\x8C\x85\xE5\x90\xAB\xE8\x8B\xB1\xE6\x96\x87"
                                   "\xE5\xAD\x97\xE6\xAF\x8D\xE3\x80\x81\xE6\x95\xB0"
                                   "\xE5\xAD\x97\xE5\x92\x8C\xE7\xAC\xA6\xE5\x8F\xB7"));
        MainWindow::setLanguageDirectory(noLanguageFiles.path().toStdString());
    }

    void theChecksOfTheHiddenPages_enableOnlyTheirOwnOkButton()
    {
        field("SOPIN_Edit")->setText(QStringLiteral("123456"));
        field("UserPIN_Edit")->setText(QStringLiteral("123456"));
        QVERIFY(!button("btn_UnblockPIN_OK")->isEnabled());
        field("ConfirmUserPIN_Edit")->setText(QStringLiteral("654321"));
        QVERIFY(button("btn_UnblockPIN_OK")->isEnabled());

        field("OldAuthKey_Edit")->setText(QString(16, QLatin1Char('a')));
        field("NewAuthKey_Edit")->setText(QString(16, QLatin1Char('b')));
        field("ConfirmAuthKey_Edit")->setText(QString(15, QLatin1Char('b')));
        QVERIFY(!button("btn_ChangAuthKey_OK")->isEnabled());
        field("ConfirmAuthKey_Edit")->setText(QString(16, QLatin1Char('b')));
        QVERIFY(button("btn_ChangAuthKey_OK")->isEnabled());

        // With the default authentication key the key field is off and not needed.
        field("Init_NewSOPIN_Edit")->setText(QStringLiteral("123456"));
        field("Init_NewUserPIN_Edit")->setText(QStringLiteral("123456"));
        QVERIFY(!button("btn_Initialize_OK")->isEnabled());
        field("Init_LabelName_Edit")->setText(QStringLiteral("L"));
        QVERIFY(button("btn_Initialize_OK")->isEnabled());
        QVERIFY(!field("Init_DevAuthKey_Edit")->isEnabled());
        window->findChild<QCheckBox*>(QStringLiteral("chb_devAuthkey"))->click();
        QVERIFY(field("Init_DevAuthKey_Edit")->isEnabled());
        QVERIFY(!button("btn_Initialize_OK")->isEnabled());
        field("Init_DevAuthKey_Edit")->setText(QString(16, QLatin1Char('k')));
        QVERIFY(button("btn_Initialize_OK")->isEnabled());

        QVERIFY(label("lab_nameCheck_1")->text().isEmpty());
        QVERIFY(!button("btn_ChangeLab_OK")->isEnabled());
    }

    void theUnconnectedLabelCheck_followsTheLabelsLength_only()
    {
        field("NewLabelEdit")->blockSignals(true);
        field("NewLabelEdit")->setText(kThreeByteChar.repeated(20));
        window->NewLabelEdit_Valuechange();
        QVERIFY(button("btn_ChangeLab_OK")->isEnabled());
        QCOMPARE(label("lab_nameCheck_1")->text(), QString());
        field("NewLabelEdit")->setText(QString());
        window->NewLabelEdit_Valuechange();
        QVERIFY(!button("btn_ChangeLab_OK")->isEnabled());
    }

    void aTranslatedCountTextTooLong_isCutAtACharacter()
    {
        // 60 three-byte characters and the count: far more than the 127 bytes there are.
        QTemporaryDir languages;
        QFile english(QStringLiteral(STAGED_LANG_DIR "/vqcsp_1033.lng"));
        QVERIFY(english.open(QIODevice::ReadOnly));
        QByteArray text = english.readAll();
        const QByteArray longer = "30028=" + kThreeByteChar.repeated(60).toUtf8() + " %d";
        text.replace(QByteArray("30028=Already input %d character"), longer);
        QVERIFY(text.contains(longer));
        QFile file(languages.filePath(QStringLiteral("vqcsp_1033.lng")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        MainWindow::setLanguageDirectory(languages.path().toStdString());
        window->updateUIlangFirst();

        window->btn_verifyPin();
        field("VerifyPIN_Edit")->setText(QStringLiteral("1234567"));
        const QByteArray shown = label("lab_PINcheck")->text().toUtf8();
        QCOMPARE(shown, kThreeByteChar.repeated(42).toUtf8());
        MainWindow::setLanguageDirectory(noLanguageFiles.path().toStdString());
        window->updateUIlangFirst();
    }

    // Operations.

    void theKeyboard_typesIntoTheFirstField_entersTheLast_andComesBackAfterTheMessage()
    {
        selectToken();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        struct Case
        {
            const char* pageButton;
            QStringList typed; // one entry per field, each ended by Enter
            const char* call;
        };
        const Case cases[] = {
            {"btn_VerifyPIN", {"12345678"}, "SKF_VerifyPIN"},
            {"btn_ChangePIN", {"12345678", "87654321", "87654321"}, "SKF_ChangePIN"},
            {"btn_ChangeLabel", {"Desk"}, "SKF_SetLabel"},
        };
        for (const Case& page : cases) {
            // A closed message leaves no window active offscreen; a desktop gives it back.
            QApplication::setActiveWindow(window.get());
            QTest::mouseClick(button(page.pageButton), Qt::LeftButton);
            QWidget* last = nullptr;
            QList<ShownMessage> shown = answerMessages([&] {
                for (const QString& text : page.typed) {
                    last = QApplication::focusWidget();
                    if (text == page.typed.last() && page.call != QLatin1String("SKF_SetLabel")) {
                        // Enter with a PIN too short for OK presses nothing.
                        QTest::keyClicks(last, text.left(5));
                        QTest::keyClick(last, Qt::Key_Return);
                        QTest::keyClicks(last, text.mid(5));
                    } else {
                        QTest::keyClicks(last, text);
                    }
                    QTest::keyClick(last, Qt::Key_Return);
                }
            });
            QVERIFY2(qobject_cast<QLineEdit*>(last) != nullptr, page.pageButton);
            QCOMPARE(FakeSkf_CallCount(page.call), 1u);
            QCOMPARE(shown.size(), 1);
            QCOMPARE(window->focusWidget(), last);
            answerMessages([&] { QTest::keyClick(last, Qt::Key_Return); });
            QCOMPARE(FakeSkf_CallCount(page.call), 1u);
        }
    }

    void opening_aPage_emptiesItsFields()
    {
        field("VerifyPIN_Edit")->setText(QStringLiteral("1234567"));
        window->btn_verifyPin();
        QVERIFY(field("VerifyPIN_Edit")->text().isEmpty());
        QVERIFY(!button("btn_VerifyPIN_OK")->isEnabled());
        QCOMPARE(label("lab_PINcheck")->text(), QString());

        fillChangePin("123456", "234567", "234567");
        QVERIFY(button("btn_ChangPIN_OK")->isEnabled());
        window->btn_changePin();
        checkChangePinEmptied();

        field("NewLabelEdit")->setText(QStringLiteral("old"));
        window->btn_changeLabel();
        QVERIFY(field("NewLabelEdit")->text().isEmpty());
    }

    void aWrongPin_showsTheRemainingTries_andEmptiesTheField()
    {
        selectToken();
        FakeSkf_SetPinAnswer(SAR_PIN_INCORRECT, 4);
        const ShownMessage shown = verifyPin(QStringLiteral("1234567"));
        QCOMPARE(shown.title, QStringLiteral("Verify PIN"));
        QCOMPARE(shown.text, QStringLiteral("Failure in verifying DIV-Uvavoz password 4"));
        QCOMPARE(QString::fromLatin1(FakeSkf_LastArgument("SKF_VerifyPIN")), QStringLiteral("1234567"));
        QVERIFY(field("VerifyPIN_Edit")->text().isEmpty());
        QVERIFY(certificateButtons(false));
    }

    void theRightPin_enablesTheCertificateButtons_beforeTheMessage()
    {
        selectToken();
        FakeSkf_SetPinAnswer(SAR_OK, 0);
        window->btn_verifyPin();
        QTest::keyClicks(field("VerifyPIN_Edit"), QStringLiteral("12345678"));
        bool enabledWhileShown = false;
        const QList<ShownMessage> shown
            = answerMessages([this] { QTest::mouseClick(button("btn_VerifyPIN_OK"), Qt::LeftButton); },
                             [&] { enabledWhileShown = certificateButtons(true); });
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral("Successfully verify the DIV-Uvavoz password"));
        QVERIFY(enabledWhileShown);
        QVERIFY(certificateButtons(true));
        QVERIFY(field("VerifyPIN_Edit")->text().isEmpty());
    }

    void aLockedPin_andOtherFailures_areNamedAsSuch()
    {
        selectToken();
        FakeSkf_SetPinAnswer(SAR_PIN_LOCKED, 0);
        QCOMPARE(verifyPin(QStringLiteral("1234567")).text, QStringLiteral("DIV-Uvavoz password locked"));
        FakeSkf_SetPinAnswer(SAR_FAIL, 0);
        QCOMPARE(verifyPin(QStringLiteral("1234567")).text, QStringLiteral("Operation failed"));
        QVERIFY(certificateButtons(false));
    }

    void aShortPin_isRefusedWithoutAskingTheToken()
    {
        selectToken();
        const ShownMessage shown = verifyPin(QStringLiteral("12345"));
        QCOMPARE(shown.text, QStringLiteral("The password entered is not long enough"));
        QVERIFY(shown.twoButtons);
        QCOMPARE(FakeSkf_CallCount("SKF_VerifyPIN"), 0u);
        QVERIFY(field("VerifyPIN_Edit")->text().isEmpty());
    }

    void aPinOutsidePrintableAscii_neverReachesTheToken()
    {
        selectToken();
        // setText() is not checked by the field's validator; the OK button still refuses.
        ShownMessage shown = verifyPin(QString::fromUtf8("p\xC3\xA4sswort"));
        QCOMPARE(shown.text, QStringLiteral("Operation failed"));
        QCOMPARE(FakeSkf_CallCount("SKF_VerifyPIN"), 0u);
        QVERIFY(field("VerifyPIN_Edit")->text().isEmpty());

        shown = changePin(QStringLiteral("12345678"), QString::fromUtf8("n\xC3\xA4wpin1"),
                          QString::fromUtf8("n\xC3\xA4wpin1"));
        QCOMPARE(shown.text, QStringLiteral("Operation failed"));
        QCOMPARE(FakeSkf_CallCount("SKF_ChangePIN"), 0u);
        checkChangePinEmptied();
    }

    void changePin_withADifferentConfirmation_stopsBeforeTheToken()
    {
        selectToken();
        button("btn_ExpCert")->setEnabled(true);
        button("btn_DelCtn")->setEnabled(true);
        const ShownMessage shown = changePin("12345678", "abcdefgh", "abcdefgi");
        QCOMPARE(shown.title, QStringLiteral("Change PIN"));
        QCOMPARE(shown.text, QStringLiteral("Error in confirming the DIV-Uvavoz password entry"));
        QCOMPARE(FakeSkf_CallCount("SKF_ChangePIN"), 0u);
        QVERIFY(certificateButtons(false));
        checkChangePinEmptied();

        // A confirmation that only starts like the new PIN differs too.
        QCOMPARE(changePin("12345678", "abcdefgh", "abcdefghi").text,
                 QStringLiteral("Error in confirming the DIV-Uvavoz password entry"));
    }

    void changePin_toTheSamePin_orATooShortOne_stopsBeforeTheToken()
    {
        selectToken();
        QCOMPARE(changePin("12345678", "12345678", "12345678").text,
                 QStringLiteral("The old and new DIV-Uvavoz passwords are the same"));
        const ShownMessage shortPin = changePin("12345678", "abcde", "abcde");
        QCOMPARE(shortPin.text, QStringLiteral("The password entered is not long enough"));
        QVERIFY(shortPin.twoButtons);
        QCOMPARE(FakeSkf_CallCount("SKF_ChangePIN"), 0u);
    }

    void changePin_handsTheTokenBothPins_andMapsEachAnswer()
    {
        selectToken();
        FakeSkf_SetPinAnswer(SAR_OK, 0);
        button("btn_ExpCert")->setEnabled(true);
        ShownMessage shown = changePin("12345678", "abcdefgh", "abcdefgh");
        QCOMPARE(shown.text, QStringLiteral("Successfully change the DIV-Uvavoz password"));
        QCOMPARE(QString::fromLatin1(FakeSkf_LastArgument("SKF_ChangePIN")), QStringLiteral("12345678\nabcdefgh"));
        QVERIFY(certificateButtons(false));
        checkChangePinEmptied();

        FakeSkf_SetPinAnswer(SAR_PIN_INCORRECT, 2);
        QCOMPARE(changePin("12345678", "abcdefgh", "abcdefgh").text,
                 QStringLiteral("Failure in verifying DIV-Uvavoz password 2"));
        FakeSkf_SetPinAnswer(SAR_PIN_LOCKED, 0);
        QCOMPARE(changePin("12345678", "abcdefgh", "abcdefgh").text, QStringLiteral("DIV-Uvavoz password locked"));
        FakeSkf_SetPinAnswer(SAR_FAIL, 0);
        QCOMPARE(changePin("12345678", "abcdefgh", "abcdefgh").text, QStringLiteral("Operation failed"));
        QCOMPARE(FakeSkf_CallCount("SKF_ChangePIN"), 4u);
    }

    void changeLabel_reportsTheTokensAnswer_andDoesNotReadThePageAgain()
    {
        selectToken();
        const unsigned reads = FakeSkf_CallCount("SKF_GetDevInfo");
        window->btn_changeLabel();
        typeText(field("NewLabelEdit"), QString::fromUtf8("Z\xC3\xBCrich"));
        QList<ShownMessage> shown
            = answerMessages([this] { QTest::mouseClick(button("btn_ChangeLab_OK"), Qt::LeftButton); });
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("Change Label"));
        QCOMPARE(shown[0].text, QStringLiteral("Device label changed successfully"));
        QCOMPARE(QByteArray(FakeSkf_LastArgument("SKF_SetLabel")), QByteArray("Z\xC3\xBCrich"));
        QVERIFY(field("NewLabelEdit")->text().isEmpty());

        FakeSkf_SetResult("SKF_SetLabel", SAR_FAIL);
        field("NewLabelEdit")->setText(QStringLiteral("Other"));
        shown = answerMessages([this] { window->btn_changelabe_ok(); });
        QCOMPARE(shown.value(0).text, QStringLiteral("Operation failed"));
        QVERIFY(field("NewLabelEdit")->text().isEmpty());
        QCOMPARE(FakeSkf_CallCount("SKF_GetDevInfo"), reads);
    }

    void aLabelTooLongForTheToken_isRefusedWithoutAskingIt()
    {
        selectToken();
        // Eleven characters fit the field but take 33 bytes, more than the token's 31.
        field("NewLabelEdit")->setText(kThreeByteChar.repeated(11));
        const QList<ShownMessage> shown = answerMessages([this] { window->btn_changelabe_ok(); });
        QCOMPARE(shown.value(0).title, QStringLiteral("Change Label"));
        QVERIFY(shown.value(0).text.startsWith(QStringLiteral("Z Ovaduv name is too long")));
        QCOMPARE(FakeSkf_CallCount("SKF_SetLabel"), 0u);
        QVERIFY(field("NewLabelEdit")->text().isEmpty());
    }
};

QTEST_MAIN(PinPagesTest)
#include "pin_test.moc"
