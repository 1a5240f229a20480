// Program entry: the application title, the windows in their creation order,
// then the message loop.

#include "MainForm.h"
#include "ScreenshotRun.h"
#include "StartupProbe.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QuorixIP-B_Cfg"));
    QApplication::setApplicationVersion(QStringLiteral(RAVELIN_VERSION));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    TMainForm form(arguments);
    form.createCompanionWindows();

    if (const QScreen *screen = form.screen()) {
        const QRect area = screen->availableGeometry();
        form.move(area.center() - form.rect().center());
    }
    installStartupProbe(&form);
    form.show();
    // Test and demo hooks; both refuse anything but a loopback address.
    switch (startScreenshotRunIfRequested(form)) {
    case HookStart::Refused:
        return 1; // a screenshot run that cannot run must not leave a window behind
    case HookStart::NotRequested:
        startDemoConnectIfRequested(form); // refused: the window stays, unconnected
        break;
    case HookStart::Started:
        break;
    }
    return QApplication::exec();
}
