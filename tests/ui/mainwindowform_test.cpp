// Tests of the main window's form (Ui_MainWindow on a bare QMainWindow) and of the
// resource bundle it draws its pictures from.
#include "ui_mainwindow.h"

#include "formwidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeView>
#include <QtTest>

#include <map>
#include <memory>

namespace {

// The pages of a tab widget lie under its internal stack; their owner is the tab widget.
QString ownerName(const QWidget* widget)
{
    QWidget* parent = widget->parentWidget();
    if (parent && parent->objectName() == "qt_tabwidget_stackedwidget")
        parent = parent->parentWidget();
    return parent ? parent->objectName() : QString();
}

QPixmap pictureOf(const QLabel* label)
{
    return label->pixmap(Qt::ReturnByValue);
}

// A window with a slot that Qt's connect-by-name should find.
class FormHost : public QMainWindow
{
    Q_OBJECT
public:
    int logoClicks = 0;
public slots:
    void on_btn_logo_clicked() { ++logoClicks; }
};

} // namespace

class MainWindowFormTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FormHost> window;
    std::unique_ptr<Ui_MainWindow> ui;

    template <typename T> T* widget(const char* name) { return window->findChild<T*>(QString::fromLatin1(name)); }

private slots:
    void init()
    {
        window = std::make_unique<FormHost>();
        ui = std::make_unique<Ui_MainWindow>();
        ui->setupUi(window.get());
    }

    void cleanup()
    {
        ui.reset();
        window.reset();
    }

    void theWindow_hasItsFixedSizeFontIconAndTitle()
    {
        QCOMPARE(window->objectName(), QString("MainWindow"));
        QCOMPARE(window->size(), QSize(662, 460));
        QCOMPARE(window->minimumSize(), QSize(662, 460));
        QCOMPARE(window->maximumSize(), QSize(662, 460));
        QVERIFY(window->testAttribute(Qt::WA_SetFont));
        QVERIFY(!window->font().strikeOut());
        QCOMPARE(window->font().pointSize(), QApplication::font().pointSize());
        QVERIFY(!window->windowIcon().isNull());
        QVERIFY(window->windowIcon().availableSizes().contains(QSize(190, 190)));
        QCOMPARE(window->toolTipDuration(), 3);
        QCOMPARE(window->windowTitle(), QString("ROV_IzirozaZedu"));
        QCOMPARE(window->centralWidget(), ui->centralWidget);
        QCOMPARE(ui->centralWidget->metaObject()->className(), "QWidget");
    }

    void thePages_comeInTheirOrderWithTheirFixedTitles()
    {
        const QStringList outer = {"tab", "ukey", "cert", "about"};
        const QStringList outerTitles = {QString::fromUtf8("页"), "Z Idi", "cert", "about"};
        QCOMPARE(ui->tabWidget->count(), outer.size());
        for (int i = 0; i < outer.size(); ++i) {
            QCOMPARE(ui->tabWidget->widget(i)->objectName(), outer[i]);
            QCOMPARE(ui->tabWidget->tabText(i), outerTitles[i]);
        }
        const QStringList inner = {"tab_mainpage",  "tab_keyinfo",       "tab_changelab",  "tab_verifyPIN",
                                   "tab_changePIN", "tab_ChangeDevAuth", "tab_Initialize", "tab_UnblockPIN"};
        const QStringList innerTitles = {"main page",  "key info",         "change label", "verify PIN",
                                         "change PIN", "ChangeDevAuthKey", "Initialize",   "UnblockPIN"};
        QCOMPARE(ui->tabWidget_2->count(), inner.size());
        for (int i = 0; i < inner.size(); ++i) {
            QCOMPARE(ui->tabWidget_2->widget(i)->objectName(), inner[i]);
            QCOMPARE(ui->tabWidget_2->tabText(i), innerTitles[i]);
        }
        QCOMPARE(ui->ukey->font().pointSize(), 11);
        QCOMPARE(ui->cert->font().pointSize(), 11);
        QCOMPARE(ui->about->font().pointSize(), 14);
        QVERIFY(!ui->tab->testAttribute(Qt::WA_SetFont));
        QVERIFY(ui->tab_keyinfo->testAttribute(Qt::WA_SetFont));
        QCOMPARE(ui->tab_keyinfo->font().pointSize(), 11); // only strike-out is its own
        QVERIFY(!ui->tab_keyinfo->font().strikeOut());
    }

    void setupUi_endsOnTheTokenPagesWithNoLanguageSelectedAndSlotsConnectedByName()
    {
        QCOMPARE(ui->tabWidget->currentIndex(), 1);
        QCOMPARE(ui->tabWidget_2->currentIndex(), 4);
        QCOMPARE(ui->cbx_lang->currentIndex(), -1);
        QVERIFY(ui->cbx_lang->currentText().isEmpty());
        ui->btn_logo->click();
        QCOMPARE(window->logoClicks, 1);
    }

    void everyWidget_hasItsClassParentGeometryAndFont()
    {
        for (const FormWidget& row : kWidgets) {
            const QString where = QString::fromUtf8(row.name);
            QWidget* w = widget<QWidget>(row.name);
            QVERIFY2(w, qPrintable(where));
            QVERIFY2(QString(w->metaObject()->className()) == row.className, qPrintable(where));
            QVERIFY2(ownerName(w) == row.parent, qPrintable(where + " parent " + ownerName(w)));
            QVERIFY2(w->geometry() == row.geometry, qPrintable(where));
            if (row.pointSize == 0) {
                QVERIFY2(!w->testAttribute(Qt::WA_SetFont), qPrintable(where));
                continue;
            }
            QVERIFY2(w->font().pointSize() == row.pointSize, qPrintable(where));
            QVERIFY2(w->font().bold() == row.bold, qPrintable(where));
            if (row.bold)
                QVERIFY2(w->font().weight() == 75, qPrintable(where));
            if (row.preferDefault)
                QVERIFY2(w->font().styleStrategy() == QFont::PreferDefault, qPrintable(where));
        }
    }

    void everyParent_holdsItsWidgetsInTheirOrder()
    {
        std::map<QString, QStringList> expected;
        for (const FormWidget& row : kWidgets)
            expected[row.parent] << row.name;
        for (const auto& [parent, names] : expected) {
            QWidget* owner = widget<QWidget>(parent.toLatin1().constData());
            QVERIFY2(owner, qPrintable(parent));
            QStringList actual;
            for (QObject* child : owner->children())
                if (child->isWidgetType() && names.contains(child->objectName()))
                    actual << child->objectName();
            QCOMPARE(actual, names);
        }
    }

    void theLineEdits_takeTheirLengthsAndEchoModes()
    {
        int edits = 0;
        for (const FormWidget& row : kWidgets) {
            if (row.maxLength < 0)
                continue;
            ++edits;
            auto* edit = widget<QLineEdit>(row.name);
            QVERIFY2(edit->maxLength() == row.maxLength, row.name);
            const auto echo = QString(row.echo) == "Password" ? QLineEdit::Password : QLineEdit::Normal;
            QVERIFY2(edit->echoMode() == echo, row.name);
            QVERIFY2(edit->text().isEmpty(), row.name);
        }
        QCOMPARE(edits, 15);
        QCOMPARE(ui->VerifyPIN_Edit->contextMenuPolicy(), Qt::NoContextMenu);
        QCOMPARE(ui->NewLabelEdit->contextMenuPolicy(), Qt::DefaultContextMenu);
    }

    void theLabels_takeTheirAlignmentAndPictures()
    {
        for (const FormWidget& row : kWidgets) {
            if (QString(row.className) != "QLabel")
                continue;
            auto* label = widget<QLabel>(row.name);
            if (row.alignment != Qt::Alignment())
                QVERIFY2(label->alignment() == row.alignment, row.name);
            const QString picture = QString::fromLatin1(row.picture);
            if (picture.isEmpty())
                continue;
            QVERIFY2(!pictureOf(label).isNull(), row.name);
            QVERIFY2(pictureOf(label).toImage() == QPixmap(picture).toImage(), row.name);
        }
        QCOMPARE(pictureOf(ui->label_logo).size(), QSize(200, 55));
        QCOMPARE(ui->label_logo->textFormat(), Qt::PlainText);
        QCOMPARE(ui->label_about->textFormat(), Qt::AutoText);
    }

    void retranslateUi_putsTheFixedTextsAndKeepsThePictures()
    {
        ui->retranslateUi(window.get()); // a second run must not wipe the picture labels
        for (const FormWidget& row : kWidgets) {
            QString text;
            if (auto* label = qobject_cast<QLabel*>(widget<QWidget>(row.name)))
                text = label->text();
            else if (auto* button = qobject_cast<QAbstractButton*>(widget<QWidget>(row.name)))
                text = button->text();
            else
                continue;
            if (QString(row.name) == "label_3")
                continue; // the vendor line, checked below
            QVERIFY2(text == QString::fromUtf8(row.initialText), row.name);
            if (*row.picture)
                QVERIFY2(!pictureOf(widget<QLabel>(row.name)).isNull(), row.name);
        }
        QVERIFY(ui->label_3->text().contains("Velkora"));
        QVERIFY(ui->label_3->text().contains(QRegularExpression("20\\d\\d")));
        QCOMPARE(window->windowTitle(), QString("ROV_IzirozaZedu"));
        QVERIFY(!pictureOf(ui->label_logo).isNull());
    }

    void theSideBarsAndViews_haveTheirFixedProperties()
    {
        QCOMPARE(ui->tabWidget->styleSheet(), QString("QTabBar::tab{width:130px;}"));
        QCOMPARE(ui->tabWidget_2->maximumSize(), QSize(750, 450));
        QCOMPARE(ui->tabWidget_2->contextMenuPolicy(), Qt::NoContextMenu);
        QVERIFY(!ui->tabWidget_2->tabBarAutoHide());

        QCOMPARE(ui->treeView_Dev->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(ui->treeView_Dev->header()->stretchLastSection());
        QCOMPARE(ui->treeView_usbInfo->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(ui->treeView_usbInfo->header()->isSortIndicatorShown());
        QCOMPARE(ui->treeView_usbInfo->styleSheet(),
                 QString("QTreeView::item{margin:2px;}\nborder: 1px solid rgb(208, 208, 208);"));
        QCOMPARE(ui->treeView->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(ui->treeView->header()->isSortIndicatorShown());
        QCOMPARE(ui->treeView->styleSheet(), QString("QTreeView::item{margin:2px;}"));

        QCOMPARE(ui->btn_logo->focusPolicy(), Qt::NoFocus);
        QCOMPARE(ui->btn_logo->styleSheet(), QString("border-radius:0px;"));
        QCOMPARE(ui->btn_logo->iconSize(), QSize(200, 60));
        QVERIFY(ui->btn_logo->isFlat());

        QCOMPARE(ui->line_16->frameShape(), QFrame::HLine);
        QCOMPARE(ui->line_16->frameShadow(), QFrame::Sunken);
        QCOMPARE(ui->line_16->lineWidth(), 1);
        QCOMPARE(ui->line_16->midLineWidth(), 0);
        QCOMPARE(ui->line_16->styleSheet(), QString::fromUtf8("border:2px solid rgb(208, 208, 208);\u3000"));

        QVERIFY(!ui->cbx_lang->isEditable());
        QCOMPARE(ui->cbx_lang->maxCount(), 10);
        QCOMPARE(ui->cbx_lang->count(), 0);
        QCOMPARE(ui->cbx_lang->sizeAdjustPolicy(), QComboBox::AdjustToContentsOnFirstShow);
        QCOMPARE(ui->cbx_lang->minimumContentsLength(), 0);

        QVERIFY(ui->chb_devAuthkey->isChecked());
    }

    void theBundle_holdsExactlyItsEntries()
    {
        QStringList entries = QDir(":/").entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
        QStringList expected = {
            "cert3.png",   "cert72.png",  "China.png",  "edit.png",  "England.png", "VQlogo.png",   "VQlogo1.ico",
            "VQlogo1.png", "infousb.png", "keys.png",   "lock.png",  "pwd.png",     "resource.qrc", "softkeyboard.png",
            "test.ico",    "trash.png",   "unlock.png", "usbIn.png", "usbOut.png",  "folder.png",   "mgr_op.ico"};
        // Every picture has its twin of twice the size for screens with a pixel ratio of 2.
        for (const QString& name : QStringList(expected)) {
            if (name.endsWith(QLatin1String(".png"))) {
                expected << QString(name).replace(QLatin1String(".png"), QLatin1String("@2x.png"));
            }
        }
        std::sort(expected.begin(), expected.end(),
                  [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        QCOMPARE(entries, expected);
        QFile list(":/resource.qrc");
        QVERIFY(list.open(QIODevice::ReadOnly));
        QVERIFY(list.readAll().contains("<file>mgr_op.ico</file>"));
    }

    void theBundle_picturesHaveTheirFormatsAndSizes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QList<QSize>>("sizes");
        const auto png = [](const char* name, int w, int h) {
            QTest::newRow(name) << QString(name) << QByteArray("png") << QList<QSize>{QSize(w, h)};
            const QString twin = QString(name).replace(QLatin1String(".png"), QLatin1String("@2x.png"));
            QTest::newRow(qPrintable(twin)) << twin << QByteArray("png") << QList<QSize>{QSize(2 * w, 2 * h)};
        };
        png("cert3.png", 24, 24);
        png("cert72.png", 72, 72);
        png("China.png", 24, 24);
        png("edit.png", 25, 23);
        png("England.png", 24, 24);
        png("VQlogo.png", 340, 93);
        png("VQlogo1.png", 200, 55);
        png("infousb.png", 32, 32);
        png("keys.png", 30, 35);
        png("lock.png", 24, 24);
        png("pwd.png", 24, 31);
        png("softkeyboard.png", 29, 23);
        png("trash.png", 21, 23);
        png("unlock.png", 24, 24);
        png("usbIn.png", 24, 24);
        png("usbOut.png", 24, 24);
        png("folder.png", 24, 24);
        QTest::newRow("VQlogo1.ico") << QString("VQlogo1.ico") << QByteArray("ico") << QList<QSize>{QSize(190, 190)};
        QTest::newRow("test.ico") << QString("test.ico") << QByteArray("ico") << QList<QSize>{QSize(145, 40)};
        QTest::newRow("mgr_op.ico") << QString("mgr_op.ico") << QByteArray("ico")
                                    << QList<QSize>{QSize(16, 16), QSize(32, 32)};
    }

    void theBundle_picturesHaveTheirFormatsAndSizes()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, format);
        QFETCH(QList<QSize>, sizes);
        QImageReader reader(":/" + name);
        QCOMPARE(reader.format(), format);
        QCOMPARE(reader.imageCount(), sizes.size());
        QList<QSize> found;
        for (int i = 0; i < sizes.size(); ++i) {
            QVERIFY(i == 0 || reader.jumpToImage(i)); // PNG readers cannot jump, even to image 0
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            found << image.size();
            // A picture is drawn, not blank: a good share of it is opaque and it is not one colour.
            const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
            int opaque = 0;
            QSet<QRgb> colours;
            for (int y = 0; y < argb.height(); ++y)
                for (int x = 0; x < argb.width(); ++x) {
                    const QRgb pixel = argb.pixel(x, y);
                    if (qAlpha(pixel) > 200)
                        ++opaque;
                    colours.insert(pixel);
                }
            QVERIFY2(opaque * 8 > argb.width() * argb.height(), qPrintable(name));
            QVERIFY2(colours.size() > 8, qPrintable(name));
        }
        std::sort(found.begin(), found.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
        QCOMPARE(found, sizes);
    }
};

int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(resource);
    QApplication app(argc, argv);
    MainWindowFormTest test;
    const int result = QTest::qExec(&test, argc, argv);
    Q_CLEANUP_RESOURCE(resource);
    return result;
}

#include "mainwindowform_test.moc"
