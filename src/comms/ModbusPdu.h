#pragma once

// The Modbus protocol data unit shared by both framings: building the request
// PDU of a read, a single write and a block write, and judging a reply PDU
// against its request. Plain functions over byte buffers, no I/O; the TCP
// framing wraps a PDU in the MBAP header, the RTU framing in the unit id and
// the CRC.
//
// A PDU starts with the function code. Requests here are:
//   read        fn, start (2), count n (2)                       5 bytes
//   write one   fn, register (2), value (2)                      5 bytes
//   write many  fn, start (2), count n (2), byte count 2n, data  6 + 2n bytes
// and the replies they take:
//   read        fn, byte count 2n, data                          2 + 2n bytes
//   writes      fn, the request's bytes 1 to 4 echoed            5 bytes
//   exception   fn | 0x80, exception code                        2 bytes

#include "FrameTap.h"

#include <cstddef>
#include <cstdint>

namespace ModbusPdu {

constexpr std::uint8_t ExceptionBit = 0x80;
constexpr std::size_t RequestHeadLength = 5; // fn and two words
constexpr std::size_t WriteReplyLength = 5;
constexpr std::size_t ExceptionReplyLength = 2;

inline void putWord(std::uint8_t *at, std::uint16_t value)
{
    at[0] = std::uint8_t(value >> 8);
    at[1] = std::uint8_t(value & 0xFF);
}

inline std::uint16_t getWord(const std::uint8_t *at)
{
    return std::uint16_t((at[0] << 8) | at[1]);
}

// Each builder writes the request PDU at pdu and returns its length.
std::size_t buildRead(std::uint8_t *pdu, std::uint8_t functionCode, std::uint16_t start,
                      std::uint16_t count);
std::size_t buildWriteOne(std::uint8_t *pdu, std::uint8_t functionCode, std::uint16_t reg,
                          std::uint16_t value);
std::size_t buildWriteMany(std::uint8_t *pdu, std::uint8_t functionCode, std::uint16_t start,
                           std::uint16_t count, const std::uint16_t *values);

// A register count a request may carry: at least one register (no unit can
// answer a read of nothing sensibly, and a block write of nothing writes
// nothing), at most what the framing's buffers hold.
inline bool countFits(std::uint16_t count, std::uint16_t framingLimit)
{
    return count >= 1 && count <= framingLimit;
}

// How long the good reply to a request of this kind and count is.
inline std::size_t goodReplyLength(FrameKind kind, std::uint16_t count)
{
    return kind == FrameKind::Read ? 2 + 2 * std::size_t(count) : WriteReplyLength;
}

struct Verdict
{
    FrameOutcome outcome = FrameOutcome::Good;
    std::uint8_t exceptionCode = 0; // an exception reply's code; 0 if it stopped before it
};

// Judges the `length` bytes of a reply PDU against the request PDU it answers
// (built above; its kind says what the reply must be). In order: the
// exception form of the function code (recognised by that byte alone), a
// foreign function code, a reply shorter than its kind, a read's byte count
// other than twice the count asked for or a reply longer than its kind, a
// write whose echo differs from what was sent.
Verdict judgeReply(FrameKind kind, const std::uint8_t *request, const std::uint8_t *reply,
                   std::size_t length);

// Stores the registers of a reply PDU that judgeReply found good.
void storeReadValues(const std::uint8_t *reply, std::uint16_t count, std::uint16_t *values);

} // namespace ModbusPdu
