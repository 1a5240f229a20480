// The reference for start-up time: a bare Qt main window of the tool's size,
// shown and measured the same way as the tool (RAVELIN_STARTUP_PROBE).

#include "StartupProbe.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setFixedSize(409, 400);
    installStartupProbe(&window);
    window.show();
    return QApplication::exec();
}
