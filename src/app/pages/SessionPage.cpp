#include "SessionPage.h"

#include "Codecs.h"
#include "PageHost.h"
#include "SentSettings.h"
#include "UiSupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

SessionPage::SessionPage(PageHost &host, QWidget *parent) : QWidget(parent), m_host(host) {}

void SessionPage::setRequestButtons(QList<QPushButton *> always, QPushButton *send)
{
    m_alwaysButtons = std::move(always);
    m_sendButton = send;
}

void SessionPage::disableRequestButtons()
{
    for (QPushButton *button : m_alwaysButtons)
        button->setEnabled(false);
    if (m_sendButton)
        m_sendButton->setEnabled(false);
}

void SessionPage::enableRequestButtons()
{
    for (QPushButton *button : m_alwaysButtons)
        button->setEnabled(true);
    // A "Send To Unit" button whose page holds nothing unsent keeps its state.
    if (m_sendButton && m_unsent)
        m_sendButton->setEnabled(true);
}

void SessionPage::markUnsent()
{
    if (m_loading || m_host.resettingPages())
        return;
    if (m_sendButton)
        m_sendButton->setEnabled(true);
    if (!m_unsent) {
        m_unsent = true;
        emit unsentChanged(true);
    }
}

void SessionPage::clearUnsent()
{
    if (m_sendButton)
        m_sendButton->setEnabled(false);
    if (m_unsent) {
        m_unsent = false;
        emit unsentChanged(false);
    }
}

void SessionPage::finishRequest(Finish kind, bool ok, const QString &successText,
                                const QString &errorText, const QString &reason)
{
    commonTail();
    if (!ok) {
        BeepMessageDlg(errorText, MsgKind::Error, MsgButtons::Ok, reason);
        return;
    }
    if (kind == Finish::Send)
        clearUnsent();
    if (!successText.isEmpty())
        BeepMessageDlg(successText, MsgKind::Information, MsgButtons::Ok);
}

void SessionPage::finishSendBeforeRestart(bool ok, const QString &successText,
                                          const QString &errorText, const QString &reason,
                                          const QList<SentSetting> &sent)
{
    commonTail();
    if (!ok) {
        BeepMessageDlg(errorText, MsgKind::Error, MsgButtons::Ok, reason);
        return;
    }
    clearUnsent();
    m_host.settingsSent(sent);
    if (BeepMessageDlg(successText, MsgKind::Information, MsgButtons::OkRestartNow) ==
        MsgAnswer::RestartNow)
        m_host.restartNow();
}

void SessionPage::commonTail()
{
    Delay(150);
    m_host.hideBusy();
    m_host.restoreCursor();
}

std::optional<std::vector<int>> SessionPage::takeNumbers(const QList<QLineEdit *> &boxes, int min,
                                                         int max, const QString &errorText)
{
    QStringList texts;
    for (const QLineEdit *box : boxes)
        texts << box->text();
    EntryCheck check = checkEntryNumbers(texts, min, max);
    if (!check.ok()) {
        refuseEntry(boxes[check.firstInvalid], errorText);
        return std::nullopt;
    }
    return std::move(check.values);
}

void SessionPage::refuseEntry(QLineEdit *box, const QString &errorText)
{
    m_host.restoreCursor();
    m_host.hideBusy();
    BeepMessageDlg(errorText, MsgKind::Error, MsgButtons::Ok);
    // A request runs with the window disabled, and a disabled box takes no
    // focus: it moves once the scheduler has enabled the controls again.
    QTimer::singleShot(0, box, [box] { box->setFocus(); });
}

void SessionPage::holdOnEdit(QLineEdit *box)
{
    connect(box, &QLineEdit::textChanged, this, [this, box] {
        if (!m_loading && !m_host.resettingPages())
            holdValue(box);
    });
}

void SessionPage::holdOnEdit(QCheckBox *box)
{
    connect(box, &QCheckBox::toggled, this, [this, box] {
        if (!m_loading && !m_host.resettingPages())
            holdValue(box);
    });
}

bool SessionPage::confirmUnit(const QString &errorText)
{
    switch (m_host.confirmSessionUnit()) {
    case PageHost::UnitCheck::Same:
        return true;
    case PageHost::UnitCheck::Unread:
        finishRequest(Finish::Send, false, QString(), errorText);
        return false;
    case PageHost::UnitCheck::Other:
        commonTail();
        m_host.leaveOtherUnit();
        return false;
    }
    return false;
}

void SessionPage::refuseUnheld()
{
    commonTail();
    BeepMessageDlg(QStringLiteral("Nothing was sent: the values on this page have not been read "
                                  "from this unit in this session.\rUse \"Get From Unit\" "
                                  "first, then make the changes and send them."),
                   MsgKind::Warning, MsgButtons::Ok);
}

QString SessionPage::leftOutLine(const QStringList &blocks)
{
    if (blocks.isEmpty())
        return QString();
    return QStringLiteral("Not sent: %1, not read from this unit in this session. Use \"Get From "
                          "Unit\" first to send it.")
        .arg(blocks.join(QStringLiteral(", ")));
}
