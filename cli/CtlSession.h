#pragma once

// ravelinctl's connection to one unit and the commands it runs through the
// register access facade. Printing is done by the caller.

#include "Outcome.h"
#include "RegisterAccess.h"
#include "TcpClient.h"
#include "VeskComms.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

struct OpResult;

// Process exit statuses, documented in README.
enum CtlExit
{
    ExitOk = 0,
    ExitException = 2, // the unit answered with an exception
    ExitNoReply = 3,   // no reply in time
    ExitFailure = 4,   // no connection, connection closed, an invalid reply, or a refused request
    ExitUsage = 64,
};

// The serial receive buffer of the command line: the largest read reply with
// room to spare for stray bytes ahead of it.
constexpr std::uint16_t CtlRxBufferSize = 1024;

// One command's outcome: the exit status, the text lines for a person and
// the same content as JSON for scripts.
struct CtlOutput
{
    int exitCode = ExitOk;
    QStringList lines;
    QJsonObject json;
};

class CtlSession
{
public:
    CtlSession(const QString &host, std::uint16_t port, std::uint16_t timeoutTenths);
    // Modbus RTU at 9600 8N1 over COMn as the naming layer maps it, or over
    // `device` when that is not empty.
    CtlSession(int comPort, const QString &device, std::uint16_t timeoutTenths);

    bool connect(QString *error);
    // Every exchange from now on is reported to tap (null: none).
    void setFrameTap(FrameTap *tap) { m_access.setFrameTap(tap); }

    CtlOutput identify();
    CtlOutput read(int unit, int fn, int start, int count);
    CtlOutput write(int unit, int fn, int start, const std::vector<std::uint16_t> &values);
    CtlOutput writeOne(int unit, int fn, int reg, std::uint16_t value);
    CtlOutput restart();
    CtlOutput names();
    CtlOutput show();

    // A command that failed with "no reply" over a TCP connection the unit has
    // closed is a lost connection: exit status and message say so.
    void reportLostConnection(CtlOutput &out);
    // The facade over this session's transport, for commands kept in other files.
    RegisterAccess &access() { return m_access; }

private:
    // Reads one block; on failure fills `out` with the failure and returns false.
    bool readBlock(int unit, int fn, int start, int count, std::uint16_t *values, CtlOutput &out,
                   const QString &what);
    // True for a good chain of exchanges; otherwise fills `out` with the failure.
    static bool opSucceeded(const OpResult &op, CtlOutput &out, const QString &what);

    TTcpClient m_client;
    RegisterAccess m_access;
    // Declared last: closed before the facade that refers to it goes away.
    std::unique_ptr<TVeskComms> m_serial;
};

// Exit status for a register result other than good (its message comes from
// describeCause()).
int exitForResult(RegisterResult result);
