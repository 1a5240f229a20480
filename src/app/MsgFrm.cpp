#include "MsgFrm.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPainter>

TMsg_Frm::TMsg_Frm(QWidget *anchor)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      m_anchor(anchor)
{
    setObjectName(QStringLiteral("Msg_Frm"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(338, 90);
    auto *raised = new QFrame(this);
    raised->setFrameStyle(QFrame::Panel | QFrame::Raised);
    raised->setLineWidth(2);
    raised->setGeometry(1, 1, 336, 88);
    m_panel = new QLabel(raised);
    m_panel->setObjectName(QStringLiteral("Panel1"));
    m_panel->setAlignment(Qt::AlignCenter);
    m_panel->setWordWrap(true);
    m_panel->setGeometry(28, 21, 280, 46);
}

QString TMsg_Frm::text() const
{
    return m_panel->text();
}

void TMsg_Frm::showMessage(const QString &text)
{
    m_panel->setText(text);
    centreOnAnchor();
    show();
    raise();
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TMsg_Frm::centreOnAnchor()
{
    if (!m_anchor)
        return;
    const QRect outer = m_anchor->frameGeometry();
    const QSize own = frameGeometry().size();
    // Integer division truncates toward zero, also for a box larger than the anchor.
    move(outer.left() + (outer.width() - own.width()) / 2,
         outer.top() + (outer.height() - own.height()) / 2);
}

void TMsg_Frm::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(Qt::gray);
    p.drawRect(0, 0, width() - 1, height() - 1);
    p.drawRect(1, 1, width() - 3, height() - 3);
}
