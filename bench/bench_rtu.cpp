// Time of the object-names transfer over Modbus RTU: 100 reads of 10
// registers through the serial component and RtuReadRegisters, against
// ravelin-sim pacing a socat pty pair like a 9600 8N1 line, beside the line's
// own bound (33 characters and two 3.5-character gaps per exchange).
// Usage: bench_rtu SIMULATOR [EXCHANGES]

#include "BenchSupport.h"
#include "ModBusPro.h"
#include "VeskComms.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr std::uint8_t NamesUnit = 26;
constexpr std::uint8_t ReadBlock = 107;
constexpr std::uint16_t NameRegisters = 10;
constexpr std::uint16_t RtuTimeoutTenths = 50;
constexpr double CharacterMs = 10.0 * 1000.0 / 9600.0;
constexpr double ExchangeBoundMs = (8 + 25 + 2 * 3.5) * CharacterMs; // about 41.7 ms

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_rtu SIMULATOR [EXCHANGES]\n");
        return 64;
    }
    const int exchanges = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    QTemporaryDir dir;
    if (socat.isEmpty() || !dir.isValid()) {
        std::fprintf(stderr, "bench_rtu: socat is needed (Debian package socat)\n");
        return 1;
    }
    const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
    QProcess pair, sim;
    pair.start(socat, {QStringLiteral("pty,raw,echo=0,link=") + a,
                       QStringLiteral("pty,raw,echo=0,link=") + b});
    int status = 1;
    if (!Bench::waitForLinks(a, b)) {
        std::fprintf(stderr, "bench_rtu: the pty pair did not appear\n");
    } else {
        sim.setProcessChannelMode(QProcess::MergedChannels);
        sim.start(QString::fromLocal8Bit(argv[1]),
                  {QStringLiteral("--serial"), a, QStringLiteral("--line-rate"),
                   QStringLiteral("9600"), QStringLiteral("--no-animate")});
        TVeskComms comms;
        comms.DevicePath = b;
        if (Bench::waitForLine(sim, "serving Modbus RTU").isEmpty() || !comms.OpenPort()) {
            std::fprintf(stderr, "bench_rtu: cannot start the simulator or open %s\n",
                         qPrintable(b));
        } else {
            std::uint16_t values[NameRegisters];
            int failures = 0;
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < exchanges; ++i)
                failures += RtuReadRegisters(comms, NamesUnit, ReadBlock,
                                             std::uint16_t((i % 100) * NameRegisters),
                                             NameRegisters, RtuTimeoutTenths, values) != ResultGood;
            const double elapsedMs = double(clock.nsecsElapsed()) / 1e6;
            comms.ClosePort();
            const double boundMs = exchanges * ExchangeBoundMs;
            std::printf("exchanges            %d reads of %d registers at 9600 8N1\n", exchanges,
                        NameRegisters);
            std::printf("measured             %8.1f ms (%.2f ms per exchange)\n", elapsedMs,
                        elapsedMs / exchanges);
            std::printf("wire-time bound      %8.1f ms (%.2f ms per exchange)\n", boundMs,
                        ExchangeBoundMs);
            std::printf("ratio to the bound   %8.3f (target <= 1.10)\n", elapsedMs / boundMs);
            if (failures > 0)
                std::fprintf(stderr, "bench_rtu: %d exchange(s) failed\n", failures);
            status = failures > 0 ? 1 : 0;
        }
    }
    Bench::stop(sim);
    Bench::stop(pair);
    return status;
}
