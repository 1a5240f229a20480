// One or two echo requests through a chosen backend, for tests that need
// conditions the test process cannot set up itself (a network namespace of
// its own). Prints one line per request: "reply MS", "noreply MS",
// "failed MS DETAIL", or "unavailable WHY" when the backend cannot be had.
//
// Usage: echo_probe BACKEND ADDRESS [--isolated]
//   BACKEND: datagram, raw or program. ADDRESS: a loopback address.
//   --isolated: the probe runs as root of a fresh network namespace (unshare
//   -rn). It brings the loopback interface up, lets its group (0, the only
//   one mapped there) open ICMP datagram sockets, pings once, then makes the namespace ignore echo
//   requests and pings again.

#include "IcmpEcho.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool writeSetting(const char *path, const QByteArray &value)
{
    // Unbuffered, so a value the kernel refuses fails here and not unseen
    // at close.
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
           file.write(value) == value.size();
}

bool loopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = short(request.ifr_flags | IFF_UP);
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
}

void echoOnce(EchoClient &client, const QString &address)
{
    QEventLoop loop;
    EchoOutcome outcome;
    QObject::connect(&client, &EchoClient::finished, &loop, [&](const EchoOutcome &o) {
        outcome = o;
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    client.send(address, 3000);
    loop.exec();
    const qint64 ms = clock.elapsed();
    switch (outcome.status) {
    case EchoStatus::Reply:
        std::printf("reply %lld\n", static_cast<long long>(ms));
        break;
    case EchoStatus::NoReply:
        std::printf("noreply %lld\n", static_cast<long long>(ms));
        break;
    case EchoStatus::Failed:
        std::printf("failed %lld %s\n", static_cast<long long>(ms), qPrintable(outcome.detail));
        break;
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: echo_probe datagram|raw|program ADDRESS [--isolated]\n");
        return 2;
    }
    // A test tool: it never sends anything beyond the loopback network.
    if (!args.at(2).startsWith(QLatin1String("127."))) {
        std::fprintf(stderr, "echo_probe: only loopback addresses (127.0.0.0/8)\n");
        return 2;
    }
    const bool isolated = args.contains(QStringLiteral("--isolated"));
    if (isolated) {
        if (!loopbackUp() || !writeSetting("/proc/sys/net/ipv4/ping_group_range", "0 0") ||
            !writeSetting("/proc/sys/net/ipv4/icmp_echo_ignore_all", "0")) {
            std::printf("unavailable cannot prepare the namespace\n");
            return 0;
        }
    }
    const QString name = args.at(1);
    const EchoBackend backend = name == QLatin1String("raw")       ? EchoBackend::Raw
                                : name == QLatin1String("program") ? EchoBackend::Program
                                                                   : EchoBackend::Datagram;
    QString why;
    const std::unique_ptr<EchoClient> client = createEchoClient(backend, &why);
    if (!client) {
        std::printf("unavailable %s\n", qPrintable(why));
        return 0;
    }
    echoOnce(*client, args.at(2));
    if (isolated) {
        if (!writeSetting("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1")) {
            std::printf("unavailable cannot set icmp_echo_ignore_all\n");
            return 0;
        }
        echoOnce(*client, args.at(2));
    }
    return 0;
}
