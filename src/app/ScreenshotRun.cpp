#include "ScreenshotRun.h"

#include "Codecs.h"
#include "ConnectionPage.h"
#include "DiagnosticsPage.h"
#include "MainForm.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <optional>

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

// The request of a page's "Get From Unit" button; nothing for pages without
// one.
std::optional<Request> getRequestOf(TMainForm::Tab tab)
{
    switch (tab) {
    case TMainForm::Tab::Network:
        return Request::GetNetwork;
    case TMainForm::Tab::G50:
        return Request::GetG50;
    case TMainForm::Tab::BACnet:
        return Request::GetBACnet;
    case TMainForm::Tab::Names:
        return Request::GetNames;
    default:
        return std::nullopt;
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
        if (const std::optional<Request> get = getRequestOf(TMainForm::Tab(i))) {
            form.raiseRequest(*get);
            form.DispatchRequest();
        }
        ok = grabTo(&form, folder, fileNameFor(pages->tabText(i))) && ok;
    }
    pages->setCurrentIndex(int(TMainForm::Tab::Diagnostics));
    // The live status as one poll reads it.
    form.scheduler().setPending(Request::StatusPoll, true);
    form.DispatchRequest();
    DiagnosticsPage &diagnostics = *form.diagnosticsPage();
    for (int i = 0; i < diagnostics.sectionCount(); ++i) {
        diagnostics.showSection(i);
        ok = grabTo(&form, folder,
                    QStringLiteral("diagnostics-") + fileNameFor(diagnostics.sectionTitle(i))) &&
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
        const QString text = form.connectionPage()->addressTexts()[size_t(i)];
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
