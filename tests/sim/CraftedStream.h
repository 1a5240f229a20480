#pragma once

// A hostile RTU byte stream for the simulator's frame reader: nothing but the
// unit's own unit ids, cut into chunks after each of which the CRC of
// everything sent so far is zero, so that at every chunk boundary the whole
// buffer looks like one frame. A reader that keeps such a buffer and checks
// all of it again per byte it drops needs time growing with the square of the
// stream's length.

#include <QByteArray>
#include <QList>

#include <array>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

namespace crafted {

inline const std::array<std::uint8_t, 5> UnitIds{19, 20, 21, 22, 26};

// One byte of the Modbus RTU CRC, written out bit by bit here so that the
// test does not lean on the simulator's own table.
inline std::uint16_t crcStep(std::uint16_t crc, std::uint8_t byte)
{
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    return crc;
}

// Chunks of about chunkSize unit-id bytes, totalSize bytes in all.
inline QList<QByteArray> chunks(int totalSize, int chunkSize)
{
    // For every CRC state, the unit id that starts a shortest way to state 0
    // (a search backwards from 0); -1 where there is none.
    std::vector<std::vector<std::uint16_t>> into(1 << 16);
    for (int s = 0; s < (1 << 16); ++s)
        for (std::uint8_t id : UnitIds)
            into[crcStep(std::uint16_t(s), id)].push_back(std::uint16_t(s));
    std::vector<int> towardZero(1 << 16, -1);
    std::vector<bool> seen(1 << 16, false);
    std::deque<std::uint16_t> queue{0};
    seen[0] = true;
    while (!queue.empty()) {
        const std::uint16_t s = queue.front();
        queue.pop_front();
        for (std::uint16_t before : into[s]) {
            if (seen[before])
                continue;
            seen[before] = true;
            for (std::uint8_t id : UnitIds)
                if (crcStep(before, id) == s)
                    towardZero[before] = id;
            queue.push_back(before);
        }
    }

    std::mt19937 random(5173);
    QList<QByteArray> result;
    std::uint16_t crc = 0xFFFF;
    int total = 0;
    while (total < totalSize) {
        QByteArray chunk;
        while (chunk.size() < chunkSize - 10 || towardZero[crc] < 0) {
            const std::uint8_t id = UnitIds[random() % UnitIds.size()];
            chunk.append(char(id));
            crc = crcStep(crc, id);
        }
        while (crc != 0) {
            const auto id = std::uint8_t(towardZero[crc]);
            chunk.append(char(id));
            crc = crcStep(crc, id);
        }
        total += int(chunk.size());
        result.append(chunk);
    }
    return result;
}

} // namespace crafted
