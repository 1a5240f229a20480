// The request scheduler of the main window: one request per Timer2 tick, in a
// fixed priority order, with the controls disabled around it.

#include "MainForm.h"

#include "BACnetPage.h"
#include "G50Page.h"
#include "MacDialog.h"
#include "NamesPage.h"
#include "NetworkPage.h"
#include "StatusPoll.h"

#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <exception>

void TMainForm::Timer1Timer()
{
    if (!Timer1->isActive())
        return;
    Timer1->stop();
    Flags.PendingStatusPoll = true;
}

void TMainForm::Timer2Timer()
{
    if (Timer2->isActive())
        DispatchRequest();
}

void TMainForm::setRequestObserver(std::function<void(Request)> observer)
{
    m_requestObserver = std::move(observer);
}

void TMainForm::DispatchRequest()
{
    Timer2->stop();
    if (Flags.CloseRequested) {
        EndSession();
        return;
    }
    if (const auto rule = Flags.firstRaised()) {
        try {
            serveRequest(*rule);
        } catch (const std::exception &error) {
            recoverFromRequestError(*rule, QString::fromLocal8Bit(error.what()));
        } catch (...) {
            recoverFromRequestError(*rule, QStringLiteral("unknown error"));
        }
    }
    Timer2->start();
}

void TMainForm::serveRequest(const RequestRule &rule)
{
    if (rule.clearBefore)
        Flags.flag(rule.request) = false;
    performRequest(rule.request);
    if (!rule.clearBefore)
        Flags.flag(rule.request) = false;
    if (rule.enableAfter)
        EnableControls();
    // The next poll is requested two seconds after this one, unless the poll
    // itself has started closing the session.
    if (rule.request == Request::StatusPoll && !Flags.CloseRequested)
        Timer1->start();
}

void TMainForm::performRequest(Request request)
{
    if (m_requestObserver)
        m_requestObserver(request);
    switch (request) {
    case Request::GetNetwork:
        return m_network->GetNetworkSettings();
    case Request::SendNetwork:
        return m_network->SendNetworkSettings();
    case Request::GetG50:
        return m_g50->GetG50Settings();
    case Request::SendG50:
        return m_g50->SendG50Settings();
    case Request::GetBACnet:
        return m_bacnet->GetBACnetSettings();
    case Request::SendBACnet:
        return m_bacnet->SendBACnetSettings();
    case Request::GetNames:
        return m_names->ReadObjectNames();
    case Request::SendNames:
        return m_names->SendObjectNames();
    case Request::Restart:
        return m_network->SendRestartCommand();
    case Request::MACDialog:
        if (m_macFrm)
            m_macFrm->exec();
        return;
    case Request::StatusPoll:
        return m_statusPoll->RunStatusPoll();
    }
}

// An error escaping a request would otherwise leave the window disabled, the
// busy box up and the scheduler stopped. The request is dropped (a retry
// would fail the same way every second), the window comes back and the
// engineer is told what failed.
void TMainForm::recoverFromRequestError(const RequestRule &rule, const QString &what)
{
    Flags.flag(rule.request) = false;
    hideBusy();
    restoreCursor();
    EnableControls();
    if (rule.request == Request::StatusPoll && !Flags.CloseRequested && sessionOpen())
        Timer1->start();
    BeepMessageDlg(QStringLiteral("The request could not be completed:\r%1").arg(what),
                   MsgKind::Error, MsgButtons::Ok);
}

void TMainForm::DisableControls()
{
    for (QPushButton *b :
         {m_network->Button1, m_network->Button2, m_bacnet->Button3, m_bacnet->Button4,
          m_g50->Button5, m_g50->Button6, m_names->Button9, m_names->Button10, m_names->BitBtn3})
        b->setEnabled(false);
    m_pages->setEnabled(false);
    setEnabled(false);
}

void TMainForm::EnableControls()
{
    // A "Send To Unit" button comes back only while its page holds unsent changes.
    m_network->Button1->setEnabled(true);
    if (isTabHighlighted(NetPage))
        m_network->Button2->setEnabled(true);
    m_bacnet->Button3->setEnabled(true);
    if (isTabHighlighted(BACPage))
        m_bacnet->Button4->setEnabled(true);
    m_g50->Button5->setEnabled(true);
    if (isTabHighlighted(G50PageIndex))
        m_g50->Button6->setEnabled(true);
    m_names->Button9->setEnabled(true);
    if (isTabHighlighted(NamePage))
        m_names->Button10->setEnabled(true);
    m_names->BitBtn3->setEnabled(true);
    m_pages->setEnabled(true);
    setEnabled(true);
}
