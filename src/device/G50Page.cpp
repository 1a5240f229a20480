#include "G50Page.h"

#include "MainForm.h"
#include "PageKit.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace PageKit;

G50Page::G50Page(TMainForm &form, QWidget *parent) : QWidget(parent), m_form(form)
{
    setObjectName(QStringLiteral("G50_Tab"));
    QGroupBox *group = pageGroup(this, QStringLiteral(" G50 Configuration "));
    boxes = octetRow(group, QStringLiteral("IP Address"), 13, 28);
    auto *status = new QGroupBox(QStringLiteral(" G50 Status "), group);
    status->setGeometry(16, 72, 337, 140);
    Label32 = boldLabel(status, QStringLiteral("G50 Comms Link"), QRect(16, 32, 305, 22), 10);
    Label32->setObjectName(QStringLiteral("Label32"));
    Label31 =
        boldLabel(status, QStringLiteral("Mnet Comms State Unknown"), QRect(16, 82, 305, 22), 10);
    Label31->setObjectName(QStringLiteral("Label31"));
    const GetSendPair pair = getSendButtons(group, 5, 6);
    Button5 = pair.get;
    Button6 = pair.send;

    connect(Button5, &QPushButton::clicked, this, &G50Page::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &G50Page::Button6Click);
    for (QLineEdit *box : boxes)
        connect(box, &QLineEdit::textChanged, this, &G50Page::G50Change);
}

void G50Page::Button5Click()
{
    m_form.raisePageRequest(Request::GetG50, QStringLiteral("Retrieving G50 Settings...."));
}

void G50Page::Button6Click()
{
    m_form.raisePageRequest(Request::SendG50, QStringLiteral("Transmitting New G50 Settings...."));
}

void G50Page::G50Change()
{
    if (m_form.Flags.PendingGetG50 || m_form.ResettingPages)
        return;
    Button6->setEnabled(true);
    m_form.setTabHighlighted(TMainForm::G50PageIndex, true);
}

void G50Page::GetG50Settings()
{
    m_form.commonTail();
}

void G50Page::SendG50Settings()
{
    m_form.commonTail();
}
