// The window on a screen with a pixel ratio of 2 (QT_SCALE_FACTOR=2, in the manager's
// fonts): the logo must show the detail of its @2x twin, not the 1x picture stretched. The
// measure is the energy at the finest scale a 2x screen has, the squared differences
// between neighbours inside each 2x2 block of device pixels: a stretched 1x picture has
// none (each block is one 1x pixel) or little (smoothed), a sharp one has its edges there.
// The 2x picture of the window is kept in the screenshot folder on every run.
#include "fakedriverfixture.h"

#include "fonts.h"
#include "hidpi.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

double grey(QRgb pixel)
{
    return 0.299 * qRed(pixel) + 0.587 * qGreen(pixel) + 0.114 * qBlue(pixel);
}

// Sum of squared grey differences between the two columns and the two rows of every
// aligned 2x2 block.
double finestScaleEnergy(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    double energy = 0;
    for (int y = 0; y + 1 < image.height(); y += 2) {
        for (int x = 0; x + 1 < image.width(); x += 2) {
            const double a = grey(image.pixel(x, y));
            const double b = grey(image.pixel(x + 1, y));
            const double c = grey(image.pixel(x, y + 1));
            const double d = grey(image.pixel(x + 1, y + 1));
            energy += (a - b) * (a - b) + (c - d) * (c - d) + (a - c) * (a - c) + (b - d) * (b - d);
        }
    }
    return energy;
}

} // namespace

class HiDpiTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir noLanguageFiles;
    std::unique_ptr<RecordingWindow> window;

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resource); }
    void init()
    {
        fakedriver::openFreshWindow(window, noLanguageFiles.path());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup() { window.reset(); }

    void theLogoAtRatioTwo_isSharperThanThe1xPictureScaledUp()
    {
        QCOMPARE(window->devicePixelRatioF(), 2.0);
        const QPixmap shot = window->grab();
        QCOMPARE(shot.size(), QSize(2 * window->width(), 2 * window->height()));
        QDir().mkpath(QStringLiteral(SCREENSHOT_DIR));
        QVERIFY(shot.save(QStringLiteral(SCREENSHOT_DIR "/mainwindow@2x.png")));

        // The logo as the 2x screen shows it, and as a 1x screen shows it, scaled up smoothly.
        auto* logo = window->findChild<QLabel*>(QStringLiteral("label_logo"));
        const QPixmap shown = logo->pixmap(Qt::ReturnByValue);
        QVERIFY(!shown.isNull());
        QCOMPARE(shown.size() / shown.devicePixelRatio(), QSize(200, 55));
        const QRect area(logo->mapTo(window.get(), QPoint(0, 0)) * 2, QSize(400, 110));
        const QImage sharp = shot.toImage().copy(area);

        QImage plain(200, 55, QImage::Format_RGB32);
        plain.fill(sharp.pixel(0, 0));
        QPainter painter(&plain);
        painter.drawPixmap(0, 0, QPixmap(QStringLiteral(":/VQlogo1.png")));
        painter.end();
        const QImage stretched = plain.scaled(400, 110, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

        const double sharpEnergy = finestScaleEnergy(sharp);
        const double stretchedEnergy = finestScaleEnergy(stretched);
        qInfo("finest-scale energy at the logo: 2x %.0f, 1x scaled up %.0f", sharpEnergy, stretchedEnergy);
        QVERIFY2(sharpEnergy > 2 * stretchedEnergy, qPrintable(QString::number(sharpEnergy / stretchedEnergy)));
    }

    void atRatioOne_theFormsOwnPictureIsKept()
    {
        const QPixmap plain = hidpi::picture(QStringLiteral(":/VQlogo1.png"), 1.0);
        QCOMPARE(plain.devicePixelRatio(), 1.0);
        QCOMPARE(plain.toImage(), QImage(QStringLiteral(":/VQlogo1.png")).convertToFormat(plain.toImage().format()));
        const QPixmap twin = hidpi::picture(QStringLiteral(":/VQlogo1.png"), 2.0);
        QCOMPARE(twin.devicePixelRatio(), 2.0);
        QCOMPARE(twin.size(), QSize(400, 110));
    }
};

int main(int argc, char** argv)
{
    // As the manager starts, on a screen Qt is told has twice the pixels.
    qputenv("QT_SCALE_FACTOR", "2");
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    fonts::useFormFonts();
    HiDpiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "hidpi_test.moc"
