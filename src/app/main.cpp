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

int main(int argc, char *argv[])
{
    // Answered before the application object exists: a terminal without a
    // display can still ask which version is installed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("QuorixIPB_Cfg %s\n", RavelinVersion::VersionText);
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
