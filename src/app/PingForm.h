#pragma once

// The ping window: four ICMP echo requests to the address typed on the
// "Choose Connection" page, one after the other, each outcome listed. The
// requests run asynchronously, so the window stays live and can be closed at
// any time; closing it stops the run.

#include "IcmpEcho.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>

class CursorSlot;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

class TPingForm : public QDialog
{
    Q_OBJECT
public:
    static constexpr int Attempts = 4;
    static constexpr int EchoTimeoutMs = 3000;
    static constexpr int PauseMs = 500; // between an outcome and the next request

    // savedCursor: the main window's cursor slot, which the run's hourglass
    // uses; the window keeps its own when none is given.
    explicit TPingForm(CursorSlot *savedCursor = nullptr, QWidget *parent = nullptr);
    ~TPingForm() override;

    // The address of the next run, a dotted quad.
    void setPingHost(const QString &host) { m_nextHost = host; }
    // Replaces the echo backend (tests); the best one the system permits is
    // created for the first run otherwise.
    void setEchoClient(std::unique_ptr<EchoClient> client);
    EchoClient *echoClient() const { return m_echo.get(); }
    // Milliseconds on a monotonic clock, which the elapsed times are read
    // from; tests replace it.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // True from the window's showing until the last outcome or the close.
    bool running() const { return m_running; }

    QString PingHost;
    int PingCount = 0;

    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr; // the address being pinged
    QListWidget *ListBox1 = nullptr;
    QPushButton *Button1 = nullptr; // Close

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void startRun();
    void sendNext(int run);
    void echoFinished(const EchoOutcome &outcome);
    void endRun();
    void stopRun();
    CursorSlot &cursor();

    CursorSlot *m_savedCursor;
    std::unique_ptr<CursorSlot> m_ownCursor;
    std::unique_ptr<EchoClient> m_echo;
    QString m_nextHost;
    Clock m_clock;
    qint64 m_sentAt = 0;
    QTimer m_pause;
    bool m_running = false;
    int m_run = 0; // tells a stale queued step from the current run's
};
