#pragma once

// The serial port component: owns one serial port and turns it into a
// request/reply channel. A receive thread (TRxThread) only reads the port and
// posts every block it reads to the component; storing, condition matching
// and the reply timeout all run on the thread that owns the component (the
// user-interface thread).
//
// One exchange: SetRxCondition, ResetRxCondition, SendData, WaitReply,
// optionally GetRxData, ClearRxCondition.
//
// Events are plain std::function members (no sender argument); assign them
// before use. A handler may close the port.

#include "SerialDevice.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class TRxCondition;
class TRxThread;

// Raised only by OpenPort.
class ECommsError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The silence the line must keep between two frames: 3.5 character times
// (start bit, data bits, parity bit if any, stop bits) up to 19200 baud, a
// fixed 1.75 ms above, so that a unit need not time ever shorter characters.
std::chrono::nanoseconds InterFrameSilence(const SerialLineSettings &settings);

class TVeskComms : public QObject
{
    Q_OBJECT

public:
    explicit TVeskComms(QObject *owner = nullptr);
    ~TVeskComms() override;

    // Properties: plain stored values that OpenPort reads.
    int CommPort = 0; // zero-based: 0 is COM1, n - 1 is COMn (any n >= 1)
    // When not empty, opened instead of the device that COM(CommPort + 1) maps to.
    QString DevicePath;
    std::uint32_t BaudRate = 9600;
    std::uint8_t DataBits = 8;
    TStopBits StopBits = TStopBits::sb1;
    TParity Parity = TParity::None;
    std::uint16_t RxBufferSize = 256;

    // Every received block, after it has been matched: the bytes (followed by
    // a 0 byte) and their number.
    std::function<void(const std::uint8_t *buffer, std::uint16_t length)> OnReceiveData;
    // A rule of the installed set completed (condnum from 1); the matching
    // state and the receive buffer are reset after the call.
    std::function<void(int condnum)> OnReceiveMsg;
    // A reply wait ran out.
    std::function<void()> OnTimeOut;

    // False when the device cannot be opened (nothing changes). Throws
    // ECommsError "Already have a Comm File Open", "File Handle is not a Comm
    // Handle." or "Unable To Create Rx Thread".
    bool OpenPort();
    void ClosePort();
    bool IsOpen() const;
    // The device OpenPort opens: DevicePath, or what COM(CommPort + 1) maps to.
    QString DeviceName() const;

    // Waits until the line has been silent for InterFrameSilence since the
    // last byte received or sent (a unit would otherwise take the request for
    // the tail of the frame before it), then empties the receive buffer, arms
    // the timeout (in 100 ms ticks; 65535 never runs out) and writes. Returns
    // whether every byte was written at once; false without doing anything
    // after ClosePort of a closed port.
    bool SendData(const std::uint8_t *data, std::uint16_t length, std::uint16_t timeout);
    // Processes events until the exchange ends: k >= 1 rule k completed, 0 the
    // timeout ran out, otherwise RxStatus (-1 when not open or closed during
    // the wait, -2 after closing a closed port).
    int WaitReply();

    // The set stays owned by the caller and must outlive its installation.
    void SetRxCondition(TRxCondition *condition) { m_condition = condition; }
    void ClearRxCondition() { m_condition = nullptr; }
    void ResetRxCondition();
    void ClearRxBuffer() { m_rxHead = 0; }
    // Number (from 1) of the first complete rule of the installed set, or -1.
    int FindComplete() const;
    // Copies receive-buffer bytes around the match of rule itemNo into dest,
    // which must hold maxLen + 1 bytes (a 0 byte follows the copy). before,
    // between, after: > 0 that many bytes, < 0 all of that part, 0 none.
    // Returns the number of bytes copied.
    std::uint16_t GetRxData(std::uint16_t itemNo, std::uint8_t *dest, std::uint16_t maxLen,
                            int before, int between, int after) const;

    // Stores and matches one received block, as the receive thread's blocks
    // are on arrival. Public so that tests and fuzzers can drive the matching
    // without a port.
    void ProcessRxData(const std::uint8_t *block, std::size_t length);
    // Allocates a zero-filled receive buffer of RxBufferSize bytes and empties
    // it, as OpenPort does. For driving ProcessRxData without a port.
    void PrepareRxBuffer();

    int RxStatus() const { return m_rxStatus; }
    int MatchedItem() const { return m_matchedItem; }
    std::uint16_t RxHead() const { return m_rxHead; }
    std::uint16_t TimeoutTicks() const { return m_timeoutTicks; }
    const std::vector<std::uint8_t> &RxBuffer() const { return m_rxBuffer; }

protected:
    void customEvent(QEvent *event) override;

private:
    void TimerTick();
    void storeByte(std::uint8_t b);
    void matchByte(std::uint8_t b);
    void stopRxThread();
    void waitForSilence() const;

    std::unique_ptr<SerialDevice> m_device;
    std::unique_ptr<TRxThread> m_thread;
    QTimer m_timer;
    std::vector<std::uint8_t> m_rxBuffer;
    std::uint16_t m_rxHead = 0;
    // The line settings of the open port and when the last byte written is
    // due to have left it.
    SerialLineSettings m_line;
    std::chrono::steady_clock::time_point m_sentEnd;
    TRxCondition *m_condition = nullptr;
    int m_matchedItem = -1;
    int m_rxStatus = 0;
    std::uint16_t m_timeoutTicks = 0;
    bool m_pastFirstTick = false;
    // The wait flags of one exchange; valid only while the port is open.
    bool m_flagsValid = false;
    bool m_matchFlag = false;
    bool m_timeoutFlag = false;
    // Advanced by every close, so a block being processed notices one.
    unsigned m_closeCount = 0;
};
