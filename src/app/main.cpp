// Program entry: the application title, the windows in their creation order,
// then the message loop.

#include "MainForm.h"
#include "ScreenshotRun.h"
#include "StartupProbe.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

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
    if (!startScreenshotRunIfRequested(form) && qEnvironmentVariableIsSet("RAVELIN_DEMO_CONNECT")) {
        // Demo hook: connect to the stored address once the window is up, as
        // if "Via Network" had been pressed.
        QTimer::singleShot(300, &form, [&form] { form.BitBtn2Click(); });
    }
    return QApplication::exec();
}
