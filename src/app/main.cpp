// Program entry: the application title, the windows in their creation order,
// then the message loop.

#include "MainForm.h"
#include "ScreenshotRun.h"

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
    form.show();
    startScreenshotRunIfRequested(form);
    return QApplication::exec();
}
