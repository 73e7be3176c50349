// Every caption of the window and the message dialog, in all three languages, measured with
// the fonts the manager asks for at start-up against the room its widget gives it: a text
// wider than its room is clipped on the screen, and the test names it with the overflow.
#include "windowtestsupport.h"

#include "fonts.h"
#include "mymessagebox.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QtTest>

#include <memory>

namespace {

QStyleOptionButton buttonOption(const QAbstractButton* button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    return option;
}

// The part of a widget the screen can show, in its own coordinates: what lies inside each
// of its parents, up to the window.
QRect visiblePart(const QWidget* widget)
{
    QRect visible = widget->rect();
    QPoint offset(0, 0);
    for (const QWidget* child = widget; !child->isWindow(); child = child->parentWidget()) {
        offset += child->pos();
        visible &= child->parentWidget()->rect().translated(-offset);
    }
    return visible;
}

// How many pixels of the label's text lie outside its visible part.
int cutOff(const QLabel* label, const QRect& room, const QSize& text)
{
    const QRect placed = QStyle::alignedRect(label->layoutDirection(), label->alignment(), text, room);
    return placed.width() - placed.intersected(visiblePart(label)).width();
}

// How many pixels the widget's text lacks, or 0 when it fits; -1 for a widget without a caption.
int overflow(const QWidget* widget)
{
    const QFontMetrics metrics(widget->font());
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        if (label->text().isEmpty()) {
            return -1;
        }
        QRect room
            = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(), -label->margin());
        if (label->wordWrap()) {
            const QRect needed = metrics.boundingRect(room, int(label->alignment()) | Qt::TextWordWrap, label->text());
            return std::max(0, needed.height() - room.height());
        }
        if (label->indent() > 0) {
            room.setLeft(room.left() + label->indent());
        }
        const QSize text = metrics.size(0, label->text());
        return std::max({0, text.width() - room.width(), cutOff(label, room, text)});
    }
    const auto* button = qobject_cast<const QAbstractButton*>(widget);
    if (button == nullptr || button->text().isEmpty()) {
        return -1;
    }
    const QStyleOptionButton option = buttonOption(button);
    const bool checkBox = qobject_cast<const QCheckBox*>(button) != nullptr;
    const QRect room = button->style()->subElementRect(
        checkBox ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, button);
    int needed = metrics.size(Qt::TextShowMnemonic, button->text()).width();
    if (!checkBox && !button->icon().isNull()) {
        needed += button->iconSize().width() + 4;
    }
    return std::max(0, needed - room.width());
}

QStringList overflowsIn(const QWidget* top)
{
    QStringList clipped;
    for (const QWidget* widget : top->findChildren<QWidget*>()) {
        const int lacking = overflow(widget);
        // A widget the window hides for good shows no caption.
        if (lacking > 0 && !widget->isHidden()) {
            clipped << QStringLiteral("%1 \"%2\" by %3 px")
                           .arg(widget->objectName(),
                                qobject_cast<const QLabel*>(widget)
                                    ? qobject_cast<const QLabel*>(widget)->text()
                                    : qobject_cast<const QAbstractButton*>(widget)->text())
                           .arg(lacking);
        }
    }
    return clipped;
}

} // namespace

class CaptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resource);
        fonts::useFormFonts();
        // The families the package depends on must be what is drawn with.
        const QString family = QFontInfo(QGuiApplication::font()).family();
        QVERIFY2(family == QLatin1String(fonts::FormFamily) || family == QLatin1String(fonts::FallbackFamily),
                 qPrintable(family));
        MainWindow::setLanguageDirectory(STAGED_LANG_DIR);
    }

    void everyCaption_fitsItsWidget_inEveryLanguage_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("Simplified Chinese") << 0;
        QTest::newRow("Traditional Chinese") << 1;
        QTest::newRow("English") << 2;
    }

    void everyCaption_fitsItsWidget_inEveryLanguage()
    {
        QFETCH(int, index);
        RecordingWindow window;
        window.chooseLangByIndex(index);
        // Every page is laid out once, so each caption's parent has its size on the screen.
        window.show();
        for (const char* name : {"tabWidget_2", "tabWidget"}) {
            auto* tabs = window.findChild<QTabWidget*>(QString::fromLatin1(name));
            for (int page = 0; page < tabs->count(); ++page) {
                tabs->setCurrentIndex(page);
                QCoreApplication::processEvents();
            }
        }
        QStringList clipped = overflowsIn(&window);

        // The message dialog in every mode the window uses.
        myMessageBox dialog(nullptr);
        for (const unsigned mode :
             {2000u, 2001u, 2002u, 2005u, 2006u, 2007u, 2009u, 3000u, 3001u, 7000u, 8002u, 8004u, 8005u}) {
            dialog.setWarnMode(mode, 9002, 3);
            clipped << overflowsIn(&dialog);
        }
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral("; "))));
    }
};

QTEST_MAIN(CaptionsTest)
#include "captions_test.moc"
