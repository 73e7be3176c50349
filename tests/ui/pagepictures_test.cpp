// Pictures of the seven pages in the three languages, in the manager's fonts, with the
// buttons in the states a person meets them in: the start page, a token's key information,
// the label, verify-PIN and change-PIN pages with something typed, the container view with
// a certificate chosen after the PIN was verified, and the about page. They land in
// build/screenshots/pages (at the ratio QT_SCALE_FACTOR gives, named for it), so two builds
// can be compared picture by picture (built with the same SOURCE_DATE_EPOCH: the version
// under the window carries the build's date and time). Each picture is checked to show the page it names.
#include "fakepagesfixture.h"

#include "fonts.h"
#include "pagecontext.h"
#include "stringcatalogue.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

using namespace fakepages;
using namespace pages;

class PagePicturesTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RecordingWindow> window;
    QString folder;

    template <typename Widget> Widget* child(const char* name) const
    {
        return window->findChild<Widget*>(QString::fromLatin1(name));
    }
    void click(const char* button) { child<QPushButton>(button)->click(); }
    void type(const char* field, const char* text) { child<QLineEdit>(field)->setText(QString::fromLatin1(text)); }

    // Saves the window as name_language@ratiox.png once it shows the expected pages.
    void picture(const char* name, int outer, int inner = -1)
    {
        QCOMPARE(child<QTabWidget>("tabWidget")->currentIndex(), outer);
        if (inner >= 0) {
            QCOMPARE(child<QTabWidget>("tabWidget_2")->currentIndex(), inner);
        }
        QCoreApplication::processEvents();
        const QPixmap shot = window->grab();
        QCOMPARE(shot.size(), window->size() * window->devicePixelRatioF());
        const QString file = QStringLiteral("%1/%2_%3@%4x.png")
                                 .arg(folder, QString::fromLatin1(name))
                                 .arg(window->languageId())
                                 .arg(window->devicePixelRatioF());
        QVERIFY(shot.save(file));
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resource);
        folder = QStringLiteral(SCREENSHOT_DIR "/pages");
        QVERIFY(QDir().mkpath(folder));
    }
    void cleanup() { window.reset(); }

    void everyPage_inTheThreeLanguages()
    {
        resetToOneToken(QStringLiteral(STAGED_LANG_DIR));
        setContainers({"RSA_CTN", "SM2_CTN"});
        FakeSkf_SetContainerType("RSA_CTN", 1, SAR_OK);
        FakeSkf_SetContainerType("SM2_CTN", 2, SAR_OK);
        setCertificate("RSA_CTN", TRUE, makeCertificate("Alice Signer", farFuture()));
        setPublicKey("RSA_CTN", TRUE, rsaPublicKeyBlob(2048));
        setPublicKey("RSA_CTN", FALSE, rsaPublicKeyBlob(2048));
        setCertificate("SM2_CTN", FALSE, makeCertificate("Bob Encrypter", farFuture()));
        setPublicKey("SM2_CTN", TRUE, eccPublicKeyBlob(256));
        setPublicKey("SM2_CTN", FALSE, eccPublicKeyBlob(256));
        window = openWindow();
        QVERIFY(window != nullptr);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        DialogWatcher dialogs;

        for (int language = 0; language < 3; ++language) {
            // A language switch reads the tree again and goes back to the start page.
            window->chooseLangByIndex(language);
            window->deviceTree()->expandAll();
            picture("1_start", 1, 0);

            const QModelIndex device = window->deviceModel()->item(0)->index();
            window->deviceTree()->setCurrentIndex(device);
            window->Dev_App_selected(device);
            picture("2_keyinfo", 1, 1);

            click("btn_ChangeLabel");
            type("NewLabelEdit", "Velkora");
            picture("3_label", 1, 2);

            click("btn_VerifyPIN");
            type("VerifyPIN_Edit", "12345");
            picture("4_verify_short", 1, 3);
            type("VerifyPIN_Edit", "123456");
            picture("4_verify", 1, 3);
            click("btn_VerifyPIN_OK");
            QTRY_VERIFY(dialogs.messages().size() == language + 1);
            QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
            picture("4_verified", 1, 3);

            click("btn_ChangePIN");
            type("OldPIN_Edit", "123456");
            type("NewPIN_Edit", "654321");
            picture("5_changepin", 1, 4);

            clickApplicationNode(*window);
            containerTree(*window)->expandAll();
            picture("6_containers", 2);
            QVERIFY(selectNode(*window,
                               {"RSA_CTN" + catalogueText(catalogue::ContainerSuffix),
                                containerModel(*window)->item(0)->child(0)->text(), "Alice Signer"}));
            picture("6_certificate", 2);

            click("btn_logo");
            picture("7_about", 3);
        }
    }
};

int main(int argc, char** argv)
{
    // As the manager starts; QT_SCALE_FACTOR from the environment sets the ratio.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    fonts::useFormFonts();
    // A steady cursor, so a picture does not depend on when in the blink it was taken.
    QApplication::setCursorFlashTime(0);
    PagePicturesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "pagepictures_test.moc"
