#pragma once

// The "Diagnostics" tab: network interface figures, process activity
// indicators with the G50 poll progress, and the bit switches. Filled by the
// status poll; parts are covered on units whose firmware lacks the data.

#include "PageKit.h"
#include "SessionPage.h"

#include <QImage>
#include <QPixmap>

#include <array>

struct StatusBlock;

class QFrame;
class QLabel;
class QProgressBar;
class QTabWidget;

class DiagnosticsPage : public SessionPage
{
    Q_OBJECT
public:
    static constexpr int IndicatorCount = 10;
    // The strip's drawing width; the cell width is worked out from it anew
    // for every count, so the strip never shrinks for good.
    static constexpr int TxStripWidth = 303;
    static constexpr int TxStripHeight = 40;

    DiagnosticsPage(PageHost &host, QWidget *parent);

    // Covers and the poll-progress controls by firmware version (hundredths).
    void applyFirmwareGates(int version) override;
    // Indicators empty, switch texts and the poll progress back to unknown.
    void resetDisplay() override;
    // Indicators empty, registration captions disabled.
    void resetProcessIndicators();
    // Switch texts "?" and "Refreshing.....", poll bar at its minimum, group "??".
    void resetSwitchesAndProgress();
    // Draws the ten indicators from the two flag words (bits 0 to 4 of each).
    void showProcessIndicators(quint16 g50Flags, quint16 bacnetFlags);
    // Every control from one good poll: usage is the receive buffer usage in
    // percent (its text may exceed 100; the bar stops at its end).
    void ShowStatus(const StatusBlock &status, int usage);

    // The page's inner tabs (network activity, process activity, bit
    // switches): how many, each one's title, and bringing one to the front.
    int sectionCount() const;
    QString sectionTitle(int index) const;
    void showSection(int index);

    // The indicator's tick for a screen with this device pixel ratio, drawn
    // at that resolution so it stays sharp when the display is scaled.
    static QPixmap tickPicture(qreal devicePixelRatio, const QColor &colour = PageKit::Green);
    // The transmit-buffer strip for count buffers (1 to 15): one cell per
    // buffer, green when its state is non-zero, maroon when zero, each with a
    // one-pixel white gap on its right.
    static QImage txStripPicture(int count, const std::array<quint16, 15> &states,
                                 qreal devicePixelRatio = 1.0);

    QTabWidget *inner = nullptr;
    QWidget *Activity_Tab = nullptr;
    QWidget *BitSwitch_Tab = nullptr;
    QLabel *activityCover = nullptr;
    QLabel *bitSwitchCover = nullptr;
    QLabel *txCover = nullptr;
    QLabel *nicRevisionValue = nullptr;
    QLabel *rxPendingValue = nullptr;
    QLabel *rxUsageValue = nullptr;
    QProgressBar *rxUsageBar = nullptr;
    QLabel *txCountValue = nullptr;
    QFrame *txFrame = nullptr;
    QLabel *txStrip = nullptr; // transmit-buffer strip, drawn by the status display
    QProgressBar *G50_Poll_State_ProgBar = nullptr;
    QLabel *G50_Group_Poll_Lab = nullptr;
    QLabel *sentRegistrationLabel = nullptr;
    QLabel *gotRegistrationLabel = nullptr;
    std::array<QLabel *, 2> switchStates{};
    std::array<QLabel *, 2> switchDescriptions{};
    std::array<QLabel *, IndicatorCount> indicators{};
    // The flags the indicators show, kept to draw them again in a new palette.
    quint16 shownG50Flags = 0;
    quint16 shownBACnetFlags = 0;

private:
    QWidget *buildNetworkActivity();
    QWidget *buildProcessActivity();
    QWidget *buildBitSwitches();
    QLabel *indicator(QWidget *parent, const QString &caption, int x, int y, int index);
    void showTransmitters(const StatusBlock &status);
    void showBitSwitches(quint16 switches);
};
