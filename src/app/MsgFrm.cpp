#include "MsgFrm.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

TMsg_Frm::TMsg_Frm(QWidget *anchor)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      m_anchor(anchor)
{
    setObjectName(QStringLiteral("Msg_Frm"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto *raised = new QFrame(this);
    raised->setFrameStyle(QFrame::Panel | QFrame::Raised);
    raised->setLineWidth(2);
    m_raised = raised;
    m_panel = new QLabel(raised);
    m_panel->setObjectName(QStringLiteral("Panel1"));
    m_panel->setAlignment(Qt::AlignCenter);
    m_panel->setWordWrap(true);
    m_panel->setGeometry(28, 21, 280, 46);
    m_detail = new QLabel(raised);
    m_detail->setObjectName(QStringLiteral("DetailPanel"));
    m_detail->setAlignment(Qt::AlignCenter);
    m_detail->setGeometry(8, 64, 320, 20);
    m_detail->hide();
    // Never the default button and never focused: the window takes no
    // keyboard input, only this click.
    m_cancel = new QPushButton(QStringLiteral("Cancel"), raised);
    m_cancel->setObjectName(QStringLiteral("CancelButton"));
    m_cancel->setFocusPolicy(Qt::NoFocus);
    m_cancel->setAutoDefault(false);
    m_cancel->setGeometry(131, 88, 75, 26);
    m_cancel->hide();
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_cancelPressed)
            return;
        m_cancelPressed = true;
        // Shown at once: the block in flight may still take a while.
        m_cancel->setEnabled(false);
        emit cancelRequested();
    });
    fitExtras();
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

void TMsg_Frm::offerCancel()
{
    m_cancelPressed = false;
    m_cancel->setEnabled(true);
    m_cancel->show();
    fitExtras();
}

bool TMsg_Frm::cancelOffered() const
{
    return !m_cancel->isHidden();
}

void TMsg_Frm::setDetail(const QString &text)
{
    m_detail->setText(text);
    m_detail->setVisible(!text.isEmpty());
    fitExtras();
}

QString TMsg_Frm::detail() const
{
    return m_detail->isHidden() ? QString() : m_detail->text();
}

void TMsg_Frm::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_cancel->hide();
    m_detail->hide();
    m_detail->clear();
    fitExtras();
}

void TMsg_Frm::fitExtras()
{
    const bool extras = !m_cancel->isHidden() || !m_detail->isHidden();
    const int height = extras ? CancelHeight : PlainHeight;
    if (this->height() == height && m_raised->height() == height - 2)
        return;
    // Resized, not fixed: the frameless box offers nothing to resize it by,
    // and a fixed size would have to be handed to the window system anew
    // at every change.
    resize(338, height);
    m_raised->setGeometry(1, 1, 336, height - 2);
    if (isVisible()) {
        centreOnAnchor();
        repaint();
    }
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
