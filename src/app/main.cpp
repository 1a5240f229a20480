// Program entry: the application title, the windows in their creation order,
// then the message loop.

#include "Appearance.h"
#include "MainForm.h"
#include "RavelinVersion.h"
#include "ScreenshotRun.h"
#include "StartupProbe.h"
#include "UiSupport.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>

#include <cstdio>
#include <cstring>

namespace {

// What --help prints. The service code itself is never shown: it is given to
// service staff only.
constexpr const char HelpText[] =
    "Usage: QuorixIPB_Cfg [SERVICE-CODE]\n"
    "       QuorixIPB_Cfg --help | --version\n"
    "\n"
    "Configuration tool for the Quorix Ravelin gateway: connects to one unit over\n"
    "a COM port (Modbus RTU) or the network (Modbus TCP) and reads and changes its\n"
    "settings.\n"
    "\n"
    "  SERVICE-CODE  the 12-character service code as the first argument starts\n"
    "                the tool in service mode (MAC address programming)\n"
    "  --help        print this help and leave\n"
    "  --version     print the version and build and leave\n"
    "\n"
    "Environment:\n"
    "  RAVELIN_COMn=DEVICE     the device COM port n stands for, for example\n"
    "                          RAVELIN_COM3=/dev/ttyUSB0\n"
    "  RAVELIN_PALETTE=light|dark\n"
    "                          the colour scheme (unset: the desktop's)\n"
    "  RAVELIN_TCP_PORT=N      the Modbus TCP port instead of 502\n"
    "\n"
    "Settings are kept in QuorixIPB_Cfg.Ini in the folder the tool starts in\n"
    "when that folder has one or the tool runs from a build folder; otherwise\n"
    "an installed tool keeps it in $XDG_CONFIG_HOME/quorix-ravelin-config/\n"
    "(~/.config/quorix-ravelin-config/).\n";

} // namespace

int main(int argc, char *argv[])
{
    // Answered before the application object exists and before anything is
    // read or written: a terminal without a display can still ask.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("QuorixIPB_Cfg %s\n", RavelinVersion::VersionText);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(HelpText, stdout);
            return 0;
        }
    }
    QApplication app(argc, argv);
    // RAVELIN_PALETTE=light|dark chooses a scheme; unset, the desktop's is used.
    Appearance::applySchemeFromEnvironment(app);
    QApplication::setApplicationName(QStringLiteral("QuorixIP-B_Cfg"));
    QApplication::setApplicationVersion(QString::fromLatin1(RavelinVersion::ProjectVersion));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    TMainForm form(arguments);

    if (const QScreen *screen = form.screen()) {
        const QRect area = screen->availableGeometry();
        form.move(area.center() - form.rect().center());
    }
    if (!installStartupProbe(&form)) {
        // The About box, the MAC dialog, the busy window and the ping window
        // are needed only by a later action: they are made once the main
        // window shows, so its first picture comes sooner. The hooks use them.
        whenFirstShown(&form, [&form] {
            // Set once the window shows: finding it costs more than the
            // rest of the start-up's own work. The dialogs take it as well.
            QApplication::setWindowIcon(applicationIcon(QCoreApplication::applicationDirPath()));
            form.createCompanionWindows();
            // Test and demo hooks; both refuse anything but a loopback address.
            switch (startScreenshotRunIfRequested(form)) {
            case HookStart::Refused:
                // A screenshot run that cannot run must not leave a window behind.
                QCoreApplication::exit(1);
                break;
            case HookStart::NotRequested:
                startDemoConnectIfRequested(form); // refused: the window stays, unconnected
                break;
            case HookStart::Started:
                break;
            }
        });
    }
    form.show();
    return QApplication::exec();
}
