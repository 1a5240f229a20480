#pragma once

// COM-port naming: the tool speaks of ports as COMn (n >= 1), as the settings
// file stores them; this layer maps COMn to the platform's device.
//
// - Windows: \\.\COMn.
// - Linux: a fixed table. COM1-COM4 are /dev/ttyS0-3 (on-board UARTs),
//   COM5-COM20 are /dev/ttyUSB0-15 (USB serial adapters), COM21-COM32 are
//   /dev/ttyACM0-11 (USB CDC-ACM devices). No other number has a device.
// - macOS: the /dev/cu.* devices in sorted order; COM1 is the first.
// - Everywhere: the environment variable RAVELIN_COMn (for example
//   RAVELIN_COM3=/dev/pts/7) wins over the table, so tests, simulators and
//   unusual devices can stand behind any COM number.

#include <QString>
#include <QStringList>

namespace ComPortNames {

// The port search covers these numbers.
constexpr int FirstSearchedPort = 1;
constexpr int LastSearchedPort = 32;

// "COMn".
QString portName(int n);
// The device COMn means, or an empty text when it means none.
QString deviceForPort(int n);
// True when COMn maps to a serial device that exists and can be opened now.
bool portExists(int n);
// Names ("COMn") of the ports among FirstSearchedPort..LastSearchedPort that
// exist, in ascending order.
QStringList findInstalledPorts();
// For a tooltip or the status bar: "COM5 (/dev/ttyUSB0)", or "COM5" when the
// number maps to no device.
QString describePort(int n);

} // namespace ComPortNames
