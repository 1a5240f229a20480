#include "ScreenshotRun.h"

#include "BACnetPage.h"
#include "Codecs.h"
#include "ConnectionPage.h"
#include "DiagnosticsPage.h"
#include "G50Page.h"
#include "MainForm.h"
#include "NamesPage.h"
#include "NetworkPage.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
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
    case TMainForm::Tab::Names:
        return form.namesPage()->Button9;
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
    // The live status as one poll reads it.
    form.scheduler().setPending(Request::StatusPoll, true);
    form.DispatchRequest();
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

// Whether the hook may press "Via Network": only when the connect boxes hold
// a loopback address. Anything else, the default unit address included, is
// refused with a warning naming the hook and the address.
bool loopbackTarget(const TMainForm &form, const char *hook)
{
    QStringList octets;
    bool loopback = true;
    for (int i = 0; i < 4; ++i) {
        const QString text = form.connectionPage()->addressBoxes[size_t(i)]->text();
        const int octet = parseEntryNumber(text);
        loopback = loopback && octet >= 0 && octet <= 255 && (i > 0 || octet == 127);
        octets << (octet >= 0 ? QString::number(octet) : text);
    }
    if (!loopback)
        qWarning().noquote() << QStringLiteral(
                                    "%1: refusing to connect to %2: this hook connects only to "
                                    "loopback addresses (127.0.0.0/8)")
                                    .arg(QLatin1String(hook), octets.join(QLatin1Char('.')));
    return loopback;
}

} // namespace

HookStart startScreenshotRunIfRequested(TMainForm &form)
{
    const QString folder = qEnvironmentVariable("RAVELIN_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return HookStart::NotRequested;
    if (!loopbackTarget(form, "RAVELIN_SCREENSHOT_DIR"))
        return HookStart::Refused;
    QDir().mkpath(folder);
    setMessageInterceptor([](const QString &text, MsgKind, MsgButtons buttons) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    });
    QTimer::singleShot(0, &form, [&form, folder] { run(form, folder); });
    return HookStart::Started;
}

HookStart startDemoConnectIfRequested(TMainForm &form)
{
    if (!qEnvironmentVariableIsSet("RAVELIN_DEMO_CONNECT"))
        return HookStart::NotRequested;
    if (!loopbackTarget(form, "RAVELIN_DEMO_CONNECT"))
        return HookStart::Refused;
    QTimer::singleShot(300, &form, [&form] { form.BitBtn2Click(); });
    return HookStart::Started;
}
