// Widget tests of myMessageBox: every mode's title, text and buttons, the captions over
// the buttons, and what exec() returns for each way of ending the dialog.
#include "mymessagebox.h"

#include "multilang.h"
#include "stringcatalogue.h"
#include "wxmultilang.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

QPushButton* okButton(QWidget* box)
{
    return box->findChild<QPushButton*>("btn_msg_ok");
}

QPushButton* cancelButton(QWidget* box)
{
    return box->findChild<QPushButton*>("btn_msg_cancel");
}

QString okCaption(QWidget* box)
{
    return okButton(box)->findChild<QLabel*>("lab_box_ok")->text();
}

QString cancelCaption(QWidget* box)
{
    return cancelButton(box)->findChild<QLabel*>("lab_box_cancel")->text();
}

QString message(QWidget* box)
{
    return box->findChild<QLabel*>("lab_msg")->text();
}

// Runs box->exec() while `act` ends it from the event loop; returns exec()'s result.
int execWith(myMessageBox* box, const std::function<void(QWidget*)>& act)
{
    bool acted = false;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal == box);
        acted = true;
        act(modal);
    });
    // Should the dialog not end, a second timer closes it so the test fails instead of hanging.
    QTimer::singleShot(5000, box, [box] { box->done(99); });
    const int result = box->exec();
    [&] { QVERIFY(acted); }();
    return result;
}

void useDefaultTexts()
{
    wx_ml_setPath("/nonexistent-ovrinkey-lang");
    wx_ml_setPrefix("vqcsp");
    wx_ml_setCodePage(1033);
}

const char* kChineseSettings = "[settings]\nCodePage=2052\nLanguage=Chinese\nFontFace=Noto Sans CJK SC\nFontHeight=9\n";

} // namespace

class MyMessageBoxTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { useDefaultTexts(); }
    void cleanupTestCase() { useDefaultTexts(); }

    void aNewBox_isAFixedSizeDialogWithItsFormAndEmptyCaptions()
    {
        myMessageBox box;
        QCOMPARE(box.objectName(), QString("myMessageBox"));
        QCOMPARE(box.size(), QSize(380, 270));
        QCOMPARE(box.minimumSize(), QSize(380, 270));
        QCOMPARE(box.maximumSize(), QSize(380, 270));
        QCOMPARE(box.windowTitle(), QString("Dialog"));
        QVERIFY(!box.windowIcon().isNull());
        // Only a close button: Qt adds the title and system menu a top-level window needs.
        const Qt::WindowFlags flags = box.windowFlags();
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
        QVERIFY(box.parent() == nullptr);
        QVERIFY(!box.isVisible());

        QCOMPARE(cancelButton(&box)->geometry(), QRect(30, 220, 100, 30));
        QCOMPARE(okButton(&box)->geometry(), QRect(250, 220, 100, 30));
        QVERIFY(cancelButton(&box)->text().isEmpty());
        QVERIFY(okButton(&box)->text().isEmpty());
        auto* msg = box.findChild<QLabel*>("lab_msg");
        QCOMPARE(msg->geometry(), QRect(40, 80, 300, 75));
        QCOMPARE(msg->alignment(), Qt::AlignCenter);
        QVERIFY(msg->wordWrap());
        QCOMPARE(msg->text(), QString("warning"));

        for (QPushButton* button : {cancelButton(&box), okButton(&box)}) {
            const auto captions = button->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
            QCOMPARE(captions.size(), 1);
            QLabel* caption = captions.first();
            QCOMPARE(caption->geometry(), QRect(QPoint(0, 0), button->size()));
            QCOMPARE(caption->alignment(), Qt::AlignCenter);
            QVERIFY(caption->wordWrap());
            QCOMPARE(caption->font().pointSize(), 10);
            QVERIFY(caption->text().isEmpty());
        }
    }

    void everyMode_showsItsTextUnderItsTitleWithItsButtons_data()
    {
        QTest::addColumn<unsigned>("mode");
        QTest::addColumn<unsigned>("titleKind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("prompt");

        const auto row = [](unsigned mode, unsigned kind, const char* title, const char* text, bool prompt) {
            QTest::addRow("mode %u kind %u", mode, kind) << mode << kind << QString(title) << QString(text) << prompt;
        };
        row(2000, 9002, "Verify PIN", "Successfully verify the DIV-Uvavoz password", false);
        row(2001, 9003, "Change PIN", "Successfully change the DIV-Uvavoz password", false);
        row(2002, 9002, "Verify PIN", "The password entered is not long enough", true);
        row(2005, 9003, "Change PIN", "Error in confirming the DIV-Uvavoz password entry", false);
        row(2006, 9003, "Change PIN", "The old and new DIV-Uvavoz passwords are the same", false);
        row(2007, 9002, "Verify PIN", "DIV-Uvavoz password locked", false);
        row(2009, 9003, "Change PIN", "Failure in verifying DIV-Uvavoz password 7", false);
        row(3000, 9001, "Change Label",
            "Z Ovaduv name is too long, please re-enter within 30 characters in length Z Ovaduv new name", false);
        row(3001, 9001, "Change Label", "Device label changed successfully", false);
        row(7000, 9001, "Change Label", "Operation failed", false);
        row(8002, 9006, "Export Certificate", "export cert success.", false);
        row(8004, 9007, "View Certificate", "import cert failed.", false);
        row(8004, 9008, "Delete Container", "import cert failed.", false);
        row(8005, 9006, "Export Certificate", "export cert failed.", false);
        // The too-long label message keeps its own title whatever kind is passed.
        row(3000, 9006, "Change Label",
            "Z Ovaduv name is too long, please re-enter within 30 characters in length Z Ovaduv new name", false);
        // Unknown modes and kinds: an empty message with OK, the default title.
        row(1234, 9002, "Verify PIN", "", false);
        row(2000, 9004, "Z Idi", "Successfully verify the DIV-Uvavoz password", false);
        row(0, 0, "Z Idi", "", false);
    }

    void everyMode_showsItsTextUnderItsTitleWithItsButtons()
    {
        QFETCH(unsigned, mode);
        QFETCH(unsigned, titleKind);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(bool, prompt);

        myMessageBox box;
        box.setWarnMode(mode, titleKind, 7);
        QCOMPARE(box.windowTitle(), title);
        QCOMPARE(message(&box), text);
        QVERIFY(!box.isVisible()); // setWarnMode never shows the dialog itself
        QCOMPARE(cancelButton(&box)->isVisibleTo(&box), prompt);
        QVERIFY(okButton(&box)->isVisibleTo(&box));
        QCOMPARE(okCaption(&box), prompt ? QString("continue") : QString("OK"));
        if (prompt)
            QCOMPARE(cancelCaption(&box), QString("cancel"));
        QVERIFY(okButton(&box)->text().isEmpty());
    }

    void theRetryMessage_pressingOk_returnsZero()
    {
        myMessageBox box;
        box.setWarnMode(2009, 9002, 3);
        const int result = execWith(&box, [](QWidget* modal) {
            QVERIFY(modal->isVisible());
            QCOMPARE(modal->windowTitle(), QString("Verify PIN"));
            QCOMPARE(message(modal), QString("Failure in verifying DIV-Uvavoz password 3"));
            QVERIFY(!cancelButton(modal)->isVisible());
            QCOMPARE(okCaption(modal), QString("OK"));
            QTest::mouseClick(okButton(modal), Qt::LeftButton);
        });
        QCOMPARE(result, 0);
        QVERIFY(!box.isVisible());
    }

    void thePrompt_returnsZeroForContinueAndOneForCancelCloseOrEscape()
    {
        myMessageBox box;
        box.setWarnMode(2002, 9003, 0);
        QCOMPARE(execWith(&box, [](QWidget* m) { QTest::mouseClick(okButton(m), Qt::LeftButton); }), 0);
        QCOMPARE(execWith(&box, [](QWidget* m) { QTest::mouseClick(cancelButton(m), Qt::LeftButton); }), 1);
        QCOMPARE(execWith(&box, [](QWidget* m) { m->close(); }), 1);
        QCOMPARE(execWith(&box, [](QWidget* m) { QTest::keyClick(m, Qt::Key_Escape); }), 1);
        // The dialog is reused: its configuration survives each run.
        QCOMPARE(okCaption(&box), QString("continue"));
        QVERIFY(cancelButton(&box)->isVisibleTo(&box));
    }

    void closingASingleButtonMessage_returnsOne()
    {
        myMessageBox box;
        box.setWarnMode(7000, 9002, 0);
        QCOMPARE(execWith(&box, [](QWidget* m) { m->close(); }), 1);
    }

    void aMessageAfterAPrompt_hidesCancelAndRestoresOk()
    {
        myMessageBox box;
        box.setWarnMode(2002, 9002, 0);
        box.setWarnMode(2000, 9002, 0);
        QVERIFY(!cancelButton(&box)->isVisibleTo(&box));
        QCOMPARE(okCaption(&box), QString("OK"));
        QCOMPARE(message(&box), QString("Successfully verify the DIV-Uvavoz password"));
        QCOMPARE(execWith(&box, [](QWidget* m) { QTest::mouseClick(okButton(m), Qt::LeftButton); }), 0);
    }

    void anUnknownModeAfterAMessage_leavesNothingOfItBehind()
    {
        myMessageBox box;
        box.setWarnMode(2002, 9003, 0);
        box.setWarnMode(4242, 9003, 0);
        QVERIFY(message(&box).isEmpty());
        QVERIFY(!cancelButton(&box)->isVisibleTo(&box));
        QCOMPARE(okCaption(&box), QString("OK"));
    }

    void theLanguageInForce_givesTitleMessageAndCaptions()
    {
        wx_ml_setPath(OVRINKEY_SOURCE_LANG_DIR);
        wx_ml_setPrefix("vqcsp");
        QVERIFY(wx_ml_setCodePage(2052));
        myMessageBox box;
        box.setWarnMode(2009, 9002, 2);
        QCOMPARE(box.windowTitle(), QString::fromStdString(__(32032, "Verify PIN")));
        QVERIFY(box.windowTitle() != QString("Verify PIN"));
        const QString expected
            = QString::fromStdString(__(30040, "Failure in verifying DIV-Uvavoz password %d")).replace("%d", "2");
        QCOMPARE(message(&box), expected);
        QVERIFY(!expected.contains("Failure"));
        box.setWarnMode(2002, 9002, 0);
        QCOMPARE(okCaption(&box), QString::fromStdString(__(30080, "continue")));
        QCOMPARE(cancelCaption(&box), QString::fromStdString(__(30081, "cancel")));
    }

    void aTranslatedRetryMessageWithOtherConversions_fallsBackToTheDefault()
    {
        const std::string file = std::string(kChineseSettings) + "[strings]\n30040=%s 次 %s\n";
        QVERIFY(ovrin::ml_loadData(file.c_str()));
        myMessageBox box;
        box.setWarnMode(2009, 9002, 5);
        QCOMPARE(message(&box), QString("Failure in verifying DIV-Uvavoz password 5"));
    }

    void aTranslatedRetryMessageWithoutConversion_isShownAsItIs()
    {
        const std::string file = std::string(kChineseSettings) + "[strings]\n30040=口令错误 100%%\n";
        QVERIFY(ovrin::ml_loadData(file.c_str()));
        myMessageBox box;
        box.setWarnMode(2009, 9002, 5);
        QCOMPARE(message(&box), QString::fromUtf8("口令错误 100%"));
    }

    void aMessageLongerThanTheOldBuffer_isShownWhole()
    {
        const std::string longText(3000, 'x');
        const std::string file
            = std::string(kChineseSettings) + "[strings]\n30043=" + longText + "\n30040=" + longText + "%d\n";
        QVERIFY(ovrin::ml_loadData(file.c_str()));
        myMessageBox box;
        box.setWarnMode(7000, 9001, 0);
        QCOMPARE(message(&box), QString::fromStdString(longText));
        box.setWarnMode(2009, 9002, 12);
        QCOMPARE(message(&box), QString::fromStdString(longText + "12"));
    }

    void aTranslationWithMarkup_isShownAsPlainText()
    {
        const std::string file = std::string(kChineseSettings) + "[strings]\n30043=<b>failed</b> <img src=x>\n";
        QVERIFY(ovrin::ml_loadData(file.c_str()));
        myMessageBox box;
        box.setWarnMode(7000, 9001, 0);
        auto* msg = box.findChild<QLabel*>("lab_msg");
        QCOMPARE(msg->textFormat(), Qt::PlainText);
        QCOMPARE(msg->text(), QString("<b>failed</b> <img src=x>"));
    }

    void aLongTranslatedCaption_wrapsInsideItsButton()
    {
        const std::string file = std::string(kChineseSettings) + "[strings]\n30080=continue with the operation now\n";
        QVERIFY(ovrin::ml_loadData(file.c_str()));
        myMessageBox box;
        box.setWarnMode(2002, 9002, 0);
        auto* caption = okButton(&box)->findChild<QLabel*>("lab_box_ok");
        QCOMPARE(caption->text(), QString("continue with the operation now"));
        QVERIFY(caption->wordWrap());
        QCOMPARE(caption->geometry(), QRect(0, 0, 100, 30));
    }

    void destroyingOneBox_leavesAnotherOneWorking()
    {
        auto* first = new myMessageBox;
        myMessageBox second;
        delete first;
        second.setWarnMode(2002, 9003, 0);
        QCOMPARE(okCaption(&second), QString("continue"));
        QCOMPARE(cancelCaption(&second), QString("cancel"));
        QCOMPARE(execWith(&second, [](QWidget* m) { QTest::mouseClick(cancelButton(m), Qt::LeftButton); }), 1);
    }
};

int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(resource);
    QApplication app(argc, argv);
    MyMessageBoxTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "mymessagebox_test.moc"
