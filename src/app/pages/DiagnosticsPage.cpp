#include "DiagnosticsPage.h"

#include "Appearance.h"
#include "PageKit.h"
#include "StatusBlock.h"
#include "StatusTexts.h"

#include <algorithm>

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QTabWidget>

using namespace PageKit;

namespace {

QLabel *coverPanel(QWidget *page, const QString &name, const QString &text, const QRect &geometry)
{
    auto *cover = new QLabel(text, page);
    cover->setObjectName(name);
    cover->setGeometry(geometry);
    cover->setAlignment(Qt::AlignCenter);
    cover->setWordWrap(true);
    cover->setAutoFillBackground(true);
    QFont f = cover->font();
    f.setBold(true);
    cover->setFont(f);
    cover->hide();
    return cover;
}

constexpr quint16 RegistrationEnabledBit = 0x02; // BACnet flags bit 1

} // namespace

// The indicator glyph: a tick (green unless told) on a transparent
// background, drawn in 16 x 16 logical pixels at the screen's own resolution.
QPixmap DiagnosticsPage::tickPicture(qreal devicePixelRatio, const QColor &colour)
{
    const int side = qRound(16 * devicePixelRatio);
    QPixmap pixmap(side, side);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(7, 12), QPointF(13, 3)}));
    return pixmap;
}

QImage DiagnosticsPage::txStripPicture(int count, const std::array<quint16, 15> &states,
                                       qreal devicePixelRatio)
{
    count = std::clamp(count, 1, int(states.size()));
    const int w = TxStripWidth / count;
    QImage image(qRound(count * w * devicePixelRatio), qRound(TxStripHeight * devicePixelRatio),
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::white);
    QPainter p(&image);
    for (int i = 0; i < count; ++i)
        p.fillRect(QRect(i * w, 0, w - 1, TxStripHeight), states[size_t(i)] ? Green : Maroon);
    return image;
}

DiagnosticsPage::DiagnosticsPage(PageHost &host, QWidget *parent) : SessionPage(host, parent)
{
    setObjectName(QStringLiteral("Diag_Tab"));
    inner = new QTabWidget(this);
    inner->setObjectName(QStringLiteral("Diag_PageControl"));
    inner->setGeometry(4, 4, 377, 297);
    inner->addTab(buildNetworkActivity(), QStringLiteral("Network Activity"));
    inner->addTab(buildProcessActivity(), QStringLiteral("Process Activity"));
    inner->addTab(buildBitSwitches(), QStringLiteral("BitSwitches"));
    inner->setCurrentWidget(Activity_Tab);
    connect(Appearance::PaletteWatch::instance(), &Appearance::PaletteWatch::paletteChanged, this,
            [this] { showProcessIndicators(shownG50Flags, shownBACnetFlags); });
}

QWidget *DiagnosticsPage::buildNetworkActivity()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("Network_Activity_Tab"));
    auto value = [](QWidget *parent, const char *name, const QRect &geometry) {
        QLabel *v = boldLabel(parent, QStringLiteral("0"), geometry);
        v->setObjectName(QString::fromLatin1(name));
        setTextColour(v, Navy);
        return v;
    };
    label(page, QStringLiteral("NIC Revision ID"), QRect(12, 10, 200, 17));
    nicRevisionValue = value(page, "NicRevision_Lab", QRect(240, 10, 100, 17));
    auto *rx = new QGroupBox(QStringLiteral(" Receiver Information "), page);
    rx->setGeometry(8, 32, 355, 92);
    label(rx, QStringLiteral("Received Packets Pending"), QRect(12, 22, 220, 17));
    rxPendingValue = value(rx, "RxPending_Lab", QRect(240, 22, 100, 17));
    label(rx, QStringLiteral("Current Receive Buffer Usage"), QRect(12, 42, 220, 17));
    rxUsageValue = value(rx, "RxUsage_Lab", QRect(240, 42, 100, 17));
    rxUsageValue->setText(QStringLiteral("0%"));
    rxUsageBar = new QProgressBar(rx);
    rxUsageBar->setObjectName(QStringLiteral("RxUsage_ProgBar"));
    rxUsageBar->setRange(0, 100);
    setBarValue(rxUsageBar, 0);
    rxUsageBar->setGeometry(12, 64, 331, 16);
    rxUsageBar->setTextVisible(false);
    auto *tx = new QGroupBox(QStringLiteral(" Transmitter Information "), page);
    tx->setGeometry(8, 130, 355, 120);
    label(tx, QStringLiteral("No. of Tx Buffers"), QRect(12, 22, 220, 17));
    txCountValue = value(tx, "TxCount_Lab", QRect(240, 22, 100, 17));
    txFrame = new QFrame(tx);
    txFrame->setObjectName(QStringLiteral("TxStrip_Frame"));
    txFrame->setFrameStyle(QFrame::Box | QFrame::Plain);
    txFrame->setGeometry(12, 48, 305, 42);
    txStrip = new QLabel(txFrame);
    txStrip->setObjectName(QStringLiteral("TxStrip_Image"));
    txStrip->setGeometry(1, 1, TxStripWidth, TxStripHeight);
    txStrip->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    txCover = coverPanel(tx, QStringLiteral("TxCover_Panel"),
                         QStringLiteral(" Information Not Available"), QRect(2, 18, 351, 98));
    return page;
}

QLabel *DiagnosticsPage::indicator(QWidget *parent, const QString &caption, int x, int y, int index)
{
    QLabel *text = label(parent, caption, QRect(x, y, 230, 17));
    auto *frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setGeometry(x + 240, y + 4, 8, 8);
    auto *picture = new QLabel(parent);
    picture->setObjectName(QStringLiteral("Indicator%1").arg(index + 1));
    picture->setGeometry(x + 236, y, 16, 16);
    indicators[size_t(index)] = picture;
    return text;
}

QWidget *DiagnosticsPage::buildProcessActivity()
{
    Activity_Tab = new QWidget;
    Activity_Tab->setObjectName(QStringLiteral("Activity_Tab"));
    auto caption = [](const char *text) {
        return QString::fromLatin1(text);
    };
    indicator(Activity_Tab, caption(G50ProcessCaptions[4]), 16, 6, 4);
    auto *g50 = new QGroupBox(QStringLiteral(" G50 "), Activity_Tab);
    g50->setGeometry(8, 26, 355, 112);
    for (int i = 0; i < 4; ++i)
        indicator(g50, caption(G50ProcessCaptions[size_t(i)]), 8, 18 + 18 * i, i);
    G50_Poll_State_ProgBar = new QProgressBar(g50);
    G50_Poll_State_ProgBar->setObjectName(QStringLiteral("G50_Poll_State_ProgBar"));
    G50_Poll_State_ProgBar->setRange(2, 10);
    G50_Poll_State_ProgBar->setTextVisible(false);
    G50_Poll_State_ProgBar->setGeometry(8, 92, 270, 14);
    G50_Group_Poll_Lab = label(g50, QStringLiteral("??"), QRect(290, 90, 50, 17));
    G50_Group_Poll_Lab->setObjectName(QStringLiteral("G50_Group_Poll_Lab"));
    auto *bacnet = new QGroupBox(QStringLiteral(" BACnet "), Activity_Tab);
    bacnet->setGeometry(8, 142, 355, 116);
    indicator(bacnet, caption(BACnetProcessCaptions[0]), 8, 18, 5);
    indicator(bacnet, caption(BACnetProcessCaptions[1]), 8, 36, 6);
    sentRegistrationLabel = indicator(bacnet, caption(BACnetProcessCaptions[2]), 24, 54, 7);
    sentRegistrationLabel->setObjectName(QStringLiteral("SentRegistration_Lab"));
    gotRegistrationLabel = indicator(bacnet, caption(BACnetProcessCaptions[3]), 24, 72, 8);
    gotRegistrationLabel->setObjectName(QStringLiteral("GotRegistration_Lab"));
    indicator(bacnet, caption(BACnetProcessCaptions[4]), 8, 90, 9);
    activityCover = coverPanel(Activity_Tab, QStringLiteral("ActivityCover_Panel"),
                               QStringLiteral("Information Not Available"), QRect(0, 0, 371, 270));
    return Activity_Tab;
}

QWidget *DiagnosticsPage::buildBitSwitches()
{
    BitSwitch_Tab = new QWidget;
    BitSwitch_Tab->setObjectName(QStringLiteral("BitSwitch_Tab"));
    auto *bank = new QGroupBox(QStringLiteral(" Bank A "), BitSwitch_Tab);
    bank->setGeometry(8, 8, 355, 200);
    const int tops[2] = {22, 72};
    const int heights[2] = {40, 110}; // two and four lines of description, with room to wrap
    for (int i = 0; i < 2; ++i) {
        label(bank, QStringLiteral("Sw-%1").arg(i + 1), QRect(12, tops[i], 40, 17));
        switchStates[size_t(i)] = boldLabel(bank, QStringLiteral("?"), QRect(56, tops[i], 40, 17));
        switchStates[size_t(i)]->setObjectName(QStringLiteral("SwitchState%1").arg(i + 1));
        switchDescriptions[size_t(i)] =
            label(bank, QStringLiteral("Refreshing....."), QRect(100, tops[i], 245, heights[i]));
        switchDescriptions[size_t(i)]->setObjectName(QStringLiteral("SwitchText%1").arg(i + 1));
        switchDescriptions[size_t(i)]->setWordWrap(true);
        switchDescriptions[size_t(i)]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    bitSwitchCover = coverPanel(
        BitSwitch_Tab, QStringLiteral("BitSwitchCover_Panel"),
        QStringLiteral(
            "This information is only available on Quorix Ravelin units with firmware v1.30 "
            "and above."),
        QRect(0, 0, 371, 270));
    return BitSwitch_Tab;
}

void DiagnosticsPage::applyFirmwareGates(int version)
{
    activityCover->setVisible(version <= 120);
    bitSwitchCover->setVisible(version < 130);
    G50_Poll_State_ProgBar->setVisible(version >= 130);
    G50_Group_Poll_Lab->setVisible(version >= 130);
}

void DiagnosticsPage::showProcessIndicators(quint16 g50Flags, quint16 bacnetFlags)
{
    shownG50Flags = g50Flags;
    shownBACnetFlags = bacnetFlags;
    // Green, or a lighter green on a dark page.
    const QPixmap tick =
        tickPicture(devicePixelRatioF(),
                    Appearance::readableOn(Green, Appearance::surfaceBehindText(palette())));
    for (int i = 0; i < IndicatorCount; ++i) {
        const quint16 word = i < 5 ? g50Flags : bacnetFlags;
        const bool set = (word >> (i % 5)) & 1u;
        indicators[size_t(i)]->clear();
        if (set)
            indicators[size_t(i)]->setPixmap(tick);
    }
}

int DiagnosticsPage::sectionCount() const
{
    return inner->count();
}

QString DiagnosticsPage::sectionTitle(int index) const
{
    return inner->tabText(index);
}

void DiagnosticsPage::showSection(int index)
{
    inner->setCurrentIndex(index);
}

void DiagnosticsPage::ShowStatus(const StatusBlock &status, int usage)
{
    showProcessIndicators(status.G50ProcessFlags, status.BACnetProcessFlags);
    const bool registration = status.BACnetProcessFlags & RegistrationEnabledBit;
    sentRegistrationLabel->setEnabled(registration);
    gotRegistrationLabel->setEnabled(registration);
    rxPendingValue->setText(QString::number(status.RxPacketsPending));
    rxUsageValue->setText(QStringLiteral("%1%").arg(usage));
    setBarValue(rxUsageBar, usage);
    nicRevisionValue->setText(QString::number(status.NicRevision));
    showTransmitters(status);
    showBitSwitches(status.BitSwitches);
    setBarValue(G50_Poll_State_ProgBar, status.G50PollProgress >> 8);
    G50_Group_Poll_Lab->setText(QString::number(status.G50PollProgress & 0xFF));
}

void DiagnosticsPage::showTransmitters(const StatusBlock &status)
{
    if (status.TxBufferCount == 0) {
        // No transmitter information: the strip keeps its last drawing behind
        // the cover.
        txCover->show();
        txCover->raise();
        return;
    }
    txCover->hide();
    // The block has room for 15 buffer states; a larger count is shown as
    // the 15 the block describes.
    const int count = std::min<int>(status.TxBufferCount, MaxTxBuffers);
    txCountValue->setText(QString::number(count));
    const int w = TxStripWidth / count;
    txStrip->resize(count * w, TxStripHeight);
    txFrame->resize(count * w + 1, txFrame->height());
    txStrip->setPixmap(QPixmap::fromImage(
        txStripPicture(count, status.TxBufferState, txStrip->devicePixelRatioF())));
}

void DiagnosticsPage::showBitSwitches(quint16 switches)
{
    StatusBlock status;
    status.BitSwitches = switches;
    for (int i = 0; i < 2; ++i) {
        const QString state = switchStateText(status, i + 1);
        switchStates[size_t(i)]->setText(state);
        setTextColour(switchStates[size_t(i)], state == QLatin1String("OFF") ? Red : Green);
        switchDescriptions[size_t(i)]->setText(switchMeaning(status, i + 1));
    }
}

void DiagnosticsPage::resetDisplay()
{
    resetProcessIndicators();
    resetSwitchesAndProgress();
}

void DiagnosticsPage::resetProcessIndicators()
{
    sentRegistrationLabel->setEnabled(false);
    gotRegistrationLabel->setEnabled(false);
    showProcessIndicators(0, 0);
}

void DiagnosticsPage::resetSwitchesAndProgress()
{
    for (int i = 0; i < 2; ++i) {
        switchStates[size_t(i)]->setText(QStringLiteral("?"));
        clearTextColour(switchStates[size_t(i)]);
        switchDescriptions[size_t(i)]->setText(QStringLiteral("Refreshing....."));
    }
    setBarValue(G50_Poll_State_ProgBar, G50_Poll_State_ProgBar->minimum());
    G50_Group_Poll_Lab->setText(QStringLiteral("??"));
}
