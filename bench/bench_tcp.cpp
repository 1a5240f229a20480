// Time per Modbus TCP exchange of TcpReadRegisters (40 registers of the
// status block) against ravelin-sim on loopback, beside the floor: the same
// request and reply done with a bare socket (send, select, one recv). The
// client is timed twice, without a frame tap and with the Frame Monitor's
// ring attached, to show what listening costs and that not listening costs
// nothing.
// Usage: bench_tcp SIMULATOR [EXCHANGES]

#include "BenchSupport.h"

#include "FrameLog.h"
#include "ModBusTCPPro.h"
#include "TcpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int StatusUnit = 21;
constexpr std::uint8_t ReadBlock = 107;
constexpr int Registers = 40;
constexpr std::uint16_t ReplyTimeoutTenths = 70; // the tool's Modbus TCP timeout

int bareSocket(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One exchange the plainest way: send, select, one recv.
bool bareExchange(int fd, std::uint16_t tid)
{
    const std::uint8_t request[12] = {std::uint8_t(tid >> 8),
                                      std::uint8_t(tid),
                                      0,
                                      0,
                                      0,
                                      6,
                                      StatusUnit,
                                      ReadBlock,
                                      0,
                                      0,
                                      0,
                                      Registers};
    if (::send(fd, request, sizeof request, 0) != ssize_t(sizeof request))
        return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    timeval timeout{7, 0};
    if (::select(fd + 1, &readable, nullptr, nullptr, &timeout) != 1)
        return false;
    std::uint8_t reply[256];
    return ::recv(fd, reply, sizeof reply, 0) == 9 + 2 * Registers;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_tcp SIMULATOR [EXCHANGES]\n");
        return 64;
    }
    const int exchanges = argc > 2 ? std::max(10, std::atoi(argv[2])) : 2000;
    QProcess sim;
    const quint16 port = Bench::startSimulator(sim, QString::fromLocal8Bit(argv[1]));
    if (port == 0) {
        std::fprintf(stderr, "bench_tcp: the simulator did not start\n");
        return 1;
    }

    TTcpClient client;
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(port);
    const int fd = bareSocket(port);
    int failures = 0;
    if (!client.open() || fd < 0) {
        std::fprintf(stderr, "bench_tcp: cannot connect to 127.0.0.1:%u\n", port);
        failures = exchanges;
    }

    // Alternate the three so that all see the same machine load.
    std::vector<double> tool, tapped, bare;
    std::uint16_t values[Registers];
    FrameLog monitor; // the window's ring, at its default size
    QElapsedTimer clock;
    for (int i = 0; i < exchanges && failures == 0; ++i) {
        clock.start();
        failures += TcpReadRegisters(client, StatusUnit, ReadBlock, 0, Registers,
                                     ReplyTimeoutTenths, values) != ResultGood;
        tool.push_back(double(clock.nsecsElapsed()) / 1000.0);
        clock.start();
        failures += TcpReadRegisters(client, StatusUnit, ReadBlock, 0, Registers,
                                     ReplyTimeoutTenths, values, &monitor) != ResultGood;
        tapped.push_back(double(clock.nsecsElapsed()) / 1000.0);
        clock.start();
        failures += !bareExchange(fd, std::uint16_t(i));
        bare.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    if (fd >= 0)
        ::close(fd);
    client.close();
    Bench::stop(sim);

    if (failures > 0) {
        std::fprintf(stderr, "bench_tcp: %d exchange(s) failed\n", failures);
        return 1;
    }
    const double toolUs = median(tool), tappedUs = median(tapped), bareUs = median(bare);
    std::printf("exchanges            %d of %d registers\n", exchanges, Registers);
    std::printf("TcpReadRegisters     median %8.1f us\n", toolUs);
    std::printf("  with frame monitor median %8.1f us\n", tappedUs);
    std::printf("bare socket floor    median %8.1f us\n", bareUs);
    std::printf("ratio to the floor   %8.3f (target <= 1.10)\n", toolUs / bareUs);
    std::printf("monitor on / off     %8.3f\n", tappedUs / toolUs);
    return 0;
}
