// Accessible names of the main window: every interactive widget has one in each of the
// three languages, it follows a language switch, and it agrees with what is on screen
// (a button's name holds its caption, a field's name is the text of a label beside it).
#include "fakedriverfixture.h"

#include "cdevmgr.h"
#include "fakeskf_control.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QtTest>

#include <memory>

namespace {

// Parts of a compound widget (a combo box's list, a tree's header, a tab bar's scroll
// buttons) are named by the widget they belong to.
bool isPartOfAnotherControl(const QWidget* widget)
{
    for (const QWidget* up = widget->parentWidget(); up != nullptr; up = up->parentWidget()) {
        if (qobject_cast<const QComboBox*>(up) || qobject_cast<const QAbstractItemView*>(up)
            || qobject_cast<const QTabBar*>(up) || qobject_cast<const QAbstractSpinBox*>(up)) {
            return true;
        }
    }
    return false;
}

bool isInteractive(const QWidget* widget)
{
    if (qobject_cast<const QTabBar*>(widget)) {
        return !widget->isHidden(); // the window's tab bars are hidden; pages switch by buttons
    }
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLineEdit*>(widget)
        || qobject_cast<const QComboBox*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget)
        || (qobject_cast<const QAbstractItemView*>(widget) && !qobject_cast<const QHeaderView*>(widget));
}

QList<QWidget*> interactiveWidgets(QWidget* window)
{
    QList<QWidget*> found;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (isInteractive(widget) && !isPartOfAnotherControl(widget)) {
            found << widget;
        }
    }
    return found;
}

QString describe(const QWidget* widget)
{
    return QStringLiteral("%1 (%2)").arg(widget->objectName(), QString::fromLatin1(widget->metaObject()->className()));
}

} // namespace

class AccessibilityTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RecordingWindow> window;

    QString nameOf(const char* objectName) const
    {
        auto* widget = window->findChild<QWidget*>(QString::fromLatin1(objectName));
        return widget ? widget->accessibleName() : QStringLiteral("<no widget %1>").arg(QLatin1String(objectName));
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resource); }

    void init() { fakedriver::openFreshWindow(window, QStringLiteral(STAGED_LANG_DIR)); }

    void cleanup() { window.reset(); }

    void everyInteractiveWidget_hasAName_inEachLanguage_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("languageId");
        QTest::newRow("Simplified Chinese") << 0 << 2052;
        QTest::newRow("Traditional Chinese") << 1 << 1028;
        QTest::newRow("English") << 2 << 1033;
    }

    void everyInteractiveWidget_hasAName_inEachLanguage()
    {
        QFETCH(int, index);
        QFETCH(int, languageId);
        window->chooseLangByIndex(index);
        QCOMPARE(window->languageId(), languageId);

        const QList<QWidget*> widgets = interactiveWidgets(window.get());
        QVERIFY2(widgets.size() >= 38, qPrintable(QString::number(widgets.size())));
        QStringList unnamed;
        for (const QWidget* widget : widgets) {
            if (widget->accessibleName().trimmed().isEmpty()) {
                unnamed << describe(widget);
            }
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
    }

    void namesAgreeWithTheScreen_captionsInButtons_andFieldLabelsBesideThem_data()
    {
        everyInteractiveWidget_hasAName_inEachLanguage_data();
    }

    void namesAgreeWithTheScreen_captionsInButtons_andFieldLabelsBesideThem()
    {
        QFETCH(int, index);
        window->chooseLangByIndex(index);
        QStringList disagreeing;
        for (const QWidget* widget : interactiveWidgets(window.get())) {
            if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
                if (!button->text().isEmpty() && !button->accessibleName().contains(button->text())) {
                    disagreeing << describe(widget)
                            + QStringLiteral(": '%1' lacks '%2'").arg(button->accessibleName(), button->text());
                }
            } else if (qobject_cast<const QLineEdit*>(widget)) {
                bool labelled = false;
                for (const QLabel* label :
                     widget->parentWidget()->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
                    labelled |= label->text() == widget->accessibleName();
                }
                if (!labelled) {
                    disagreeing << describe(widget)
                            + QStringLiteral(": no label reads '%1'").arg(widget->accessibleName());
                }
            }
        }
        QVERIFY2(disagreeing.isEmpty(), qPrintable(disagreeing.join(QStringLiteral("; "))));
    }

    void aLanguageSwitch_renamesTheWidgets()
    {
        window->chooseLangByIndex(0);
        QCOMPARE(nameOf("treeView_Dev"), QStringLiteral("设备列表"));
        const QString verifyInChinese = nameOf("btn_VerifyPIN_OK");
        const QString fieldInChinese = nameOf("VerifyPIN_Edit");

        window->chooseLangByIndex(1);
        QCOMPARE(nameOf("treeView"), QStringLiteral("資料管理"));

        window->chooseLangByIndex(2);
        QCOMPARE(nameOf("treeView_Dev"), QStringLiteral("DevList"));
        QCOMPARE(nameOf("treeView"), QStringLiteral("Data Manager"));
        QCOMPARE(nameOf("btn_VerifyPIN_OK"), QStringLiteral("Verify PIN: OK"));
        QCOMPARE(nameOf("VerifyPIN_Edit"), QStringLiteral("User PIN"));
        QCOMPARE(nameOf("chb_devAuthkey"), QStringLiteral("default"));
        QVERIFY(nameOf("btn_VerifyPIN_OK") != verifyInChinese);
        QVERIFY(nameOf("VerifyPIN_Edit") != fieldInChinese);
    }
};

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
