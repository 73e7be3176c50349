// The yardstick for start-up and memory: an empty 662 x 460 QMainWindow built with the
// manager's flags, marking its first frame through the same probe.
#include "benchprobe.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(662, 460);
    benchprobe::watchFirstFrame(&window);
    window.show();
    return QApplication::exec();
}
