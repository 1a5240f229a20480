#include "ScreenshotRun.h"

#include "BACnetPage.h"
#include "DiagnosticsPage.h"
#include "G50Page.h"
#include "MainForm.h"
#include "NetworkPage.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

bool grabTo(QWidget *window, const QString &folder, const QString &name)
{
    QCoreApplication::processEvents();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    const bool saved = window->grab().save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

QString fileNameFor(const QString &tabText)
{
    QString name = tabText.toLower();
    name.replace(QLatin1Char(' '), QLatin1Char('-'));
    return name;
}

QPushButton *getButtonOf(TMainForm &form, TMainForm::Tab tab)
{
    switch (tab) {
    case TMainForm::Tab::Network:
        return form.networkPage()->Button1;
    case TMainForm::Tab::G50:
        return form.g50Page()->Button5;
    case TMainForm::Tab::BACnet:
        return form.bacnetPage()->Button3;
    default:
        return nullptr;
    }
}

void run(TMainForm &form, const QString &folder)
{
    bool ok = grabTo(&form, folder, QStringLiteral("choose-connection"));
    form.BitBtn2Click();
    if (!form.sessionOpen()) {
        std::fprintf(stderr, "no session: screenshots of the session pages skipped\n");
        QCoreApplication::exit(1);
        return;
    }
    QTabWidget *pages = form.pageControl();
    for (int i = 0; i < pages->count(); ++i) {
        if (!pages->isTabVisible(i) || i == int(TMainForm::Tab::Diagnostics))
            continue;
        pages->setCurrentIndex(i);
        // A page with "Get From Unit" is shown with the unit's values: the
        // button is pressed and its request served by the scheduler.
        if (QPushButton *get = getButtonOf(form, TMainForm::Tab(i))) {
            get->click();
            form.DispatchRequest();
        }
        ok = grabTo(&form, folder, fileNameFor(pages->tabText(i))) && ok;
    }
    pages->setCurrentIndex(int(TMainForm::Tab::Diagnostics));
    QTabWidget *inner = form.diagnosticsPage()->inner;
    for (int i = 0; i < inner->count(); ++i) {
        inner->setCurrentIndex(i);
        ok = grabTo(&form, folder,
                    QStringLiteral("diagnostics-") + fileNameFor(inner->tabText(i))) &&
             ok;
    }
    form.BeginClose();
    form.EndSession();
    QCoreApplication::exit(ok ? 0 : 1);
}

} // namespace

bool startScreenshotRunIfRequested(TMainForm &form)
{
    const QString folder = qEnvironmentVariable("RAVELIN_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return false;
    QDir().mkpath(folder);
    setMessageInterceptor([](const QString &text, MsgKind, MsgButtons buttons) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    });
    QTimer::singleShot(0, &form, [&form, folder] { run(form, folder); });
    return true;
}
