// Start-up: the single-instance guard, the main window centred on the desktop, the event
// loop. A second start shows a box and ends with -1.
#include "fonts.h"
#include "mainwindow.h"

#include "benchprobe.h"
#include "ovrinkey_paths.h"
#include "stringcatalogue.h"
#include "version.h"
#include "wxmultilang.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QMessageBox>
#include <QSharedMemory>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] ssize_t written = ::write(g_signalPipe[0], &byte, 1);
}

// SIGTERM and SIGINT close the window the way its close button does, so the monitor is
// stopped and the program ends with 0 instead of being cut off inside the driver.
void closeOnTerminationSignals(MainWindow& window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, notifier] {
        notifier->setEnabled(false);
        char byte = 0;
        [[maybe_unused]] ssize_t got = ::read(g_signalPipe[1], &byte, 1);
        window.close();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// True when another instance holds the marker. A marker left behind by an instance that
// ended without detaching has no users: the detach removes it and the second attach fails.
bool anotherInstanceRuns(QSharedMemory& marker)
{
    if (!marker.attach(QSharedMemory::ReadWrite)) {
        return false;
    }
    marker.detach();
    return marker.attach(QSharedMemory::ReadWrite);
}

void showAlreadyRunning()
{
    wx_ml_setPath(OVRINKEY_LANG_DIR);
    wx_ml_setPrefix(product::LanguagePrefix);
    wx_ml_setCodePage(static_cast<unsigned long>(wx_getSysLanguage()));
    QMessageBox::information(nullptr, QString::fromUtf8(catalogue::text(catalogue::AlreadyRunningTitle).c_str()),
                             QString::fromUtf8(catalogue::text(catalogue::AlreadyRunningMessage).c_str()),
                             QMessageBox::Ok, QMessageBox::NoButton);
}

// Integer halves, rounded toward zero: a window larger than the desktop gets negative
// coordinates.
void centreOnDesktop(QWidget& window)
{
    const QRect desktop = QApplication::desktop()->geometry();
    const QRect own = window.geometry();
    window.move((desktop.width() - own.width()) / 2, (desktop.height() - own.height()) / 2);
}

} // namespace

// The resource bundle lives in the static ui library. Its macros declare the bundle's
// functions where they are used, so they stay outside any namespace.
static void registerResources()
{
    Q_INIT_RESOURCE(resource);
}

static void unregisterResources()
{
    Q_CLEANUP_RESOURCE(resource);
}

namespace {

// Keeps the bundle registered while it lives; main() holds one between the application
// and the window.
class RegisteredResources
{
public:
    RegisteredResources() { registerResources(); }
    ~RegisteredResources() { unregisterResources(); }
    RegisteredResources(const RegisteredResources&) = delete;
    RegisteredResources& operator=(const RegisteredResources&) = delete;
};

} // namespace

int main(int argc, char* argv[])
{
    // HiDPI: on a 2x display the window keeps its logical size (662 x 460) and Qt draws it
    // at twice the pixels; pictures and icons are taken at the display's pixel ratio.
    // Both must be set before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Destroyed in reverse: the window first, then the marker, the resources and last the
    // application, on either way out.
    QApplication app(argc, argv);
    fonts::useFormFonts();
    const RegisteredResources resources;
    QSharedMemory marker;
    marker.setKey(QString::fromLatin1(product::InstanceKey));

    if (anotherInstanceRuns(marker)) {
        showAlreadyRunning();
        return -1;
    }
    // Without a marker the program still runs; a later start is then not refused.
    marker.create(1, QSharedMemory::ReadWrite);

    MainWindow window(nullptr);
    QObject::connect(&window, &MainWindow::deviceTreeRebuilt,
                     [](int devices) { benchprobe::mark("rebuild", devices); });
    window.setWindowTitle(QString::fromUtf8(product::Title));
    benchprobe::watchFirstFrame(&window);
    window.show();
    centreOnDesktop(window);
    closeOnTerminationSignals(window);

    return QApplication::exec();
}
