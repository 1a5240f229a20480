#pragma once

// Modbus TCP client: the unit's register operations as single blocking
// request/reply exchanges over a connected stream, plus the dotted-quad parser.

#include "FrameTap.h"
#include "RegisterResult.h"
#include "TcpStream.h"

#include <QString>

#include <cstdint>

// The transaction counter is the stream's own (TcpStream::TransactionId).

// Requests and replies live in fixed buffers of this size, which bounds the
// counts a caller may ask for: 2n + 9 reply bytes for a read, 13 + 2n request
// bytes for a block write. Larger counts, and a count of 0, are refused with
// ResultFailure before anything is sent.
constexpr int TcpFrameBufferSize = 256;
constexpr std::uint16_t TcpMaxReadCount = 123;
constexpr std::uint16_t TcpMaxWriteCount = 121;

// timeout is in tenths of a second. The unit id is sent as its low byte and the
// reply must carry exactly unitId, so ids above 255 never match. A read is good
// only when its reply carries exactly the count asked for (byte count 2n); a
// write only when its reply echoes the register and value (or start and count)
// sent. On any result other than ResultGood a read leaves values untouched.
// A tap, when given, is told of the bytes discarded before the request and of
// the exchange with its verdict (a refused count sends nothing and tells it
// nothing). When detail is given it receives the exchange's verdict, the
// exception code of an exception reply, or why nothing was sent.
RegisterResult TcpReadRegisters(TcpStream &client, int unitId, std::uint8_t functionCode,
                                std::uint16_t start, std::uint16_t count, std::uint16_t timeout,
                                std::uint16_t *values, FrameTap *tap = nullptr,
                                ExchangeDetail *detail = nullptr);
RegisterResult TcpWriteRegister(TcpStream &client, int unitId, std::uint8_t functionCode,
                                std::uint16_t reg, std::uint16_t value, std::uint16_t timeout,
                                FrameTap *tap = nullptr, ExchangeDetail *detail = nullptr);
RegisterResult TcpWriteRegisters(TcpStream &client, int unitId, std::uint8_t functionCode,
                                 std::uint16_t start, std::uint16_t count,
                                 const std::uint16_t *values, std::uint16_t timeout,
                                 FrameTap *tap = nullptr, ExchangeDetail *detail = nullptr);

// Strict dotted-quad parser: true when text is four decimal parts from 0 to 255
// separated by three dots (leading spaces of the text and of each part are
// allowed). Entries before a failing part may already have been written.
bool ParseIPAddress(const QString &text, int octets[4]);
