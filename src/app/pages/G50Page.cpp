#include "G50Page.h"

#include "Codecs.h"
#include "Outcome.h"
#include "PageHost.h"
#include "PageKit.h"
#include "PageRules.h"
#include "SentSettings.h"
#include "StatusBlock.h"
#include "StatusTexts.h"
#include "UnitOps.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

using namespace PageKit;

G50Page::G50Page(PageHost &host, QWidget *parent) : SessionPage(host, parent)
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
    setRequestButtons({Button5}, Button6);

    connect(Button5, &QPushButton::clicked, this, &G50Page::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &G50Page::Button6Click);
    for (QLineEdit *box : boxes) {
        holdOnEdit(box);
        connect(box, &QLineEdit::textChanged, this, &G50Page::G50Change);
        box->setToolTip(QStringLiteral("0 to %1").arg(OctetMax));
    }

    host.scheduler().setHandler(Request::GetG50, [this] { GetG50Settings(); });
    host.scheduler().setHandler(Request::SendG50, [this] { SendG50Settings(); });
}

void G50Page::resetDisplay()
{
    for (QLineEdit *box : boxes)
        box->clear();
    setTextColour(Label31, Navy);
    setTextColour(Label32, Navy);
    Label31->setText(QStringLiteral("Mnet..."));
    Label32->setText(QStringLiteral("G50..."));
}

void G50Page::Button5Click()
{
    m_host.raiseRequest(Request::GetG50);
}

void G50Page::Button6Click()
{
    m_host.raiseRequest(Request::SendG50);
}

void G50Page::G50Change()
{
    markUnsent();
}

void G50Page::show(const Octets4 &address, Hold hold)
{
    const Loading loading(*this);
    for (std::size_t i = 0; i < boxes.size(); ++i)
        boxes[i]->setText(octetText(address[i]));
    if (hold == Hold::Shown)
        holdValues(boxes);
}

std::array<QString, 4> G50Page::entries() const
{
    std::array<QString, 4> texts;
    for (std::size_t i = 0; i < boxes.size(); ++i)
        texts[i] = boxes[i]->text();
    return texts;
}

bool G50Page::holdsAllEntries() const
{
    return holdsAll(boxes);
}

bool G50Page::editTo(const Octets4 &address)
{
    const std::array<QString, 4> before = entries();
    show(address, Hold::Shown);
    if (entries() == before)
        return false;
    markUnsent();
    return true;
}

void G50Page::showLinkState(const StatusBlock &status)
{
    Label32->setText(g50LinkText(status));
    Label31->setText(mnetText(status));
    // Without the G50 link the Mnet state read from the unit means nothing:
    // both lines maroon.
    setTextColour(Label32, status.G50LinkState ? Green : Maroon);
    setTextColour(Label31, !status.G50LinkState ? Maroon : status.MnetState ? Green : Navy);
}

void G50Page::GetG50Settings()
{
    const Loading loading(*this);
    std::optional<Octets4> address;
    const OpResult op = readG50Address(m_host.access(), address);
    if (address)
        show(*address, Hold::Shown);
    finishRequest(Finish::Get, op.ok(), QString(), QStringLiteral("Error Retrieving G50 Settings."),
                  describe(op));
}

void G50Page::SendG50Settings()
{
    const QString errorText = QStringLiteral("Error Transmitting G50 Settings.");
    if (!holdsAny(boxes))
        return refuseUnheld();
    const auto numbers =
        takeNumbers(QList<QLineEdit *>(boxes.begin(), boxes.end()), 0, OctetMax,
                    QStringLiteral("Unable To Send New G50 Settings Due To Invalid Data."));
    if (!numbers)
        return;
    Octets4 address{};
    std::copy(numbers->begin(), numbers->end(), address.begin());
    if (!confirmUnit(errorText))
        return;
    const OpResult op = writeG50Address(m_host.access(), address);
    finishSendBeforeRestart(op.ok(),
                            QStringLiteral("G50 Settings Transmitted OK.\rPlease restart the unit "
                                           "for these changes to take effect."),
                            errorText, describe(op), sentG50Settings(address));
}
