// The window as a person reaches it: a click goes to the top-level window at a point, and
// Qt decides which widget gets it. Every clickable widget of every page that can be shown
// must be the one a click at its centre reaches; nothing lying over it may swallow it.
#include "fakedriverfixture.h"

#include "mymessagebox.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <memory>

namespace {

// Records which widget a mouse press went to; swallows presses and releases when asked,
// so a routing check does not also run what the widget does.
class PressRecorder : public QObject
{
public:
    bool swallow = true;
    QWidget* pressed = nullptr;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const bool mouse = event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease
            || event->type() == QEvent::MouseButtonDblClick;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!mouse || widget == nullptr) {
            return false;
        }
        if (event->type() == QEvent::MouseButtonPress && pressed == nullptr) {
            pressed = widget;
        }
        return swallow;
    }
};

bool isClickable(const QWidget* widget)
{
    return qobject_cast<const QAbstractButton*>(widget) != nullptr || qobject_cast<const QLineEdit*>(widget) != nullptr
        || qobject_cast<const QComboBox*>(widget) != nullptr
        || qobject_cast<const QAbstractItemView*>(widget) != nullptr;
}

bool reaches(const QWidget* target, const QWidget* clicked)
{
    return clicked != nullptr && (clicked == target || target->isAncestorOf(clicked));
}

} // namespace

class ThroughWindowTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir noLanguageFiles;
    std::unique_ptr<RecordingWindow> window;

    QTabWidget* tabs(const char* name) const { return window->findChild<QTabWidget*>(QString::fromLatin1(name)); }

    // Every shown clickable widget of the top-level window's current page, hit-tested and
    // clicked through the window at its centre.
    static void checkShownPage(QWidget* top, const QString& page, PressRecorder& recorder, int& checked)
    {
        for (QWidget* widget : top->findChildren<QWidget*>()) {
            // Unnamed widgets are Qt's own parts of a named one (a tree's header, a scroll bar).
            if (!isClickable(widget) || !widget->isVisible() || widget->objectName().isEmpty()) {
                continue;
            }
            const QString what = page + QLatin1Char('/') + widget->objectName();
            const QPoint centre = widget->mapTo(top, widget->rect().center());
            QVERIFY2(reaches(widget, top->childAt(centre)),
                     qPrintable(what + " is covered by " + top->childAt(centre)->objectName()));
            recorder.pressed = nullptr;
            QTest::mouseClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier, centre);
            QWidget* pressed = recorder.pressed;
            QVERIFY2(reaches(widget, pressed),
                     qPrintable(what + " lost its click to " + (pressed ? pressed->objectName() : QString("nothing"))));
            ++checked;
        }
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resource); }
    void init()
    {
        fakedriver::openFreshWindow(window, noLanguageFiles.path());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup() { window.reset(); }

    void clickingTheLogoInTheWindow_showsTheAboutPage()
    {
        QTabWidget* main = tabs("tabWidget");
        QVERIFY(main->currentWidget()->objectName() != QStringLiteral("about"));
        auto* logo = window->findChild<QPushButton*>(QStringLiteral("btn_logo"));
        const QPoint centre = logo->mapTo(window.get(), logo->rect().center());
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier, centre);
        QCOMPARE(main->currentWidget()->objectName(), QStringLiteral("about"));
        // A keyboard user reaches it too.
        QVERIFY(logo->focusPolicy() & Qt::TabFocus);
    }

    void everyClickableWidgetOfEveryPage_getsAClickAtItsCentre()
    {
        PressRecorder recorder;
        qApp->installEventFilter(&recorder);
        QTabWidget* main = tabs("tabWidget");
        QTabWidget* inner = tabs("tabWidget_2");
        int checked = 0;
        for (int page = 0; page < main->count(); ++page) {
            main->setCurrentIndex(page);
            const bool hasInner = main->currentWidget()->isAncestorOf(inner);
            for (int innerPage = 0; innerPage < (hasInner ? inner->count() : 1); ++innerPage) {
                if (hasInner) {
                    inner->setCurrentIndex(innerPage);
                }
                const QString name = main->currentWidget()->objectName()
                    + (hasInner ? QLatin1Char('.') + inner->currentWidget()->objectName() : QString());
                checkShownPage(window.get(), name, recorder, checked);
                if (QTest::currentTestFailed()) {
                    qApp->removeEventFilter(&recorder);
                    return;
                }
            }
        }
        // The message dialog's buttons lie under their caption labels.
        myMessageBox dialog(nullptr);
        dialog.setWarnMode(2002, 9003, 0);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        checkShownPage(&dialog, QStringLiteral("message"), recorder, checked);
        qApp->removeEventFilter(&recorder);
        // The form has the logo, the device tree and the buttons and fields of six pages.
        QVERIFY2(checked >= 20, qPrintable(QString::number(checked)));
    }
};

QTEST_MAIN(ThroughWindowTest)
#include "throughwindow_test.moc"
