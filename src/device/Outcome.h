#pragma once

// Register outcomes in words: the one place that says why an operation
// failed, for the configuration tool's messages, ravelinctl and the report.

#include "UnitOps.h"

#include <QString>

#include <cstdint>

// "<where>: <why>" in one line, such as "BACnet options: no reply within
// 7.0 s" or "Object name 7: the unit answered with an exception (code 2:
// illegal data address)". An object-name block is named with its number.
// A request refused before any block was tried has no where: the line is
// the reason alone ("nothing sent: the values are out of range").
QString describe(const OpResult &op);

// The reason alone, for callers that name the failed part themselves.
QString describeCause(const OpResult &op);

// The failed part of describe(): the block's name, an object name with its
// number; empty when no block failed.
QString describeBlock(const OpResult &op);

// The standard name of a Modbus exception code ("illegal data address");
// empty for a code without one.
QString exceptionName(std::uint8_t code);
