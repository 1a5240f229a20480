#pragma once

// The serial session's transport as the main window sees it: open a COM port
// with the unit's line settings, close it, and the naming layer that maps a
// COM number to a device.

#include <QString>

#include <memory>

class TVeskComms;

class SerialLink
{
public:
    virtual ~SerialLink() = default;
    // Opens COM<comPort> at 9600 baud, 8 data bits, no parity, one stop bit,
    // and starts receiving. False when the device cannot be opened.
    virtual bool OpenPort(int comPort) = 0;
    virtual void ClosePort() = 0;
    // The component the register access facade talks through while open.
    virtual TVeskComms *comms() = 0;
};

std::unique_ptr<SerialLink> createSerialLink();

// Naming layer: the device a COM number stands for (empty when none), and
// whether that device exists and can be opened (the port search).
QString comPortDevice(int comNumber);
bool comPortInstalled(int comNumber);
