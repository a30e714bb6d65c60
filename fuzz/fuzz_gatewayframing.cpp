// The gateway server itself, fed over a loopback connection in the reads the fuzzer cuts: its
// per-connection buffer, its framing and rejection counts, the dispatch of every message and
// the bound on what a gateway leaves unread. Properties:
//   - the same bytes give the same messages and the same count of dropped ones, however cut;
//   - every measurement handed on has a 16-digit address and a payload that is one whole, valid
//     "Mess" body;
//   - a connection ends once, and its record is never reported after its end; the program may
//     end a connection that does not read in the middle of its messages, and nothing breaks.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "fuzz/streamreads.h"
#include "links/gatewayprotocol.h"
#include "links/networkmodule.h"
#include "links/sensorpayload.h"
#include "links/zigbeeclient.h"

using namespace GatewayProtocol;

// A broken property names itself: the runs go through the system's sockets and event loop.
#define check(condition) checked(condition, #condition, __LINE__)

namespace
{

// A connect that libFuzzer's timer signal interrupts goes on on its own: it is waited for,
// never started again.
bool connectTo(int fd, const sockaddr_in& address)
{
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    if (errno != EINTR && errno != EINPROGRESS)
        return false;
    pollfd wait { fd, POLLOUT, 0 };
    int ready = 0;
    while ((ready = ::poll(&wait, 1, 8000)) < 0 && errno == EINTR) { }
    if (ready <= 0)
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

void checked(bool condition, const char* text, int line)
{
    if (!condition)
        std::fprintf(stderr, "fuzz_gatewayframing.cpp:%d: %s does not hold\n", line, text);
    require(condition);
}

// What the module said during one connection.
struct Run {
    QStringList events;
    int rejected = 0;
    bool ended = false;
    const ZigBeeClient* gone = nullptr;
};

struct Server {
    std::unique_ptr<NetworkModule> module;
    Run* run = nullptr;
    QByteArray list; // the sensor list sent to a gateway that is not bound
    // The gateway's own address. Each closed connection keeps its port in TIME_WAIT for a
    // minute, so the runs move to another loopback address now and then instead of using up
    // the ports of one.
    quint32 source = INADDR_LOOPBACK;

    Server()
    {
        for (int attempt = 0; attempt < 20 && !module; ++attempt) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                continue;
            const quint16 port = probe.serverPort();
            probe.close();
            module = std::make_unique<NetworkModule>(port);
            if (!module->isListening())
                module.reset();
        }
        check(module != nullptr);
        NetworkModule* m = module.get();
        auto add = [this](const ZigBeeClient* c, const QString& text) {
            check(run && !run->ended && c != run->gone);
            run->events << text;
        };
        QObject::connect(
            m, &NetworkModule::signalNewConnection, m, [=](ZigBeeClient* c) { add(c, "conn " + c->name); });
        QObject::connect(m, &NetworkModule::signalStatReceived, m, [=](ZigBeeClient* c) { add(c, status("stat", c)); });
        QObject::connect(m, &NetworkModule::signalInitReceived, m, [=](ZigBeeClient* c) { add(c, status("init", c)); });
        QObject::connect(m, &NetworkModule::signalClosReceived, m, [=](ZigBeeClient* c) { add(c, status("clos", c)); });
        QObject::connect(m, &NetworkModule::signalNetworkCastReceived, m,
            [=](ZigBeeClient* c, const QString& eui, const QByteArray& payload) {
                checkCast(eui, payload);
                add(c, "cast " + eui + ' ' + payload.toHex());
                // Answered as the program answers: a new sensor's interval, and the list while
                // the gateway is not bound. Either write may end the connection.
                m->slotSlepSend2(c, eui, 60);
                if (m->sensorListDue(c))
                    m->slotSlepSend(c, list);
            });
        QObject::connect(m, &NetworkModule::signalDisconnected, m, [=](ZigBeeClient* c) {
            add(c, QStringLiteral("disc"));
            run->gone = c;
            run->ended = true;
        });
        QObject::connect(m, &NetworkModule::signalInterfNetworkMess, m, [=](const QString& line) {
            check(run != nullptr);
            static const QString dropped = QStringLiteral("Отброшено ");
            const int at = line.indexOf(dropped);
            if (at >= 0)
                run->rejected += line.mid(at + dropped.size()).section(' ', 0, 0).toInt();
        });
    }

    static QString status(const char* head, const ZigBeeClient* c)
    {
        return QString::fromLatin1(head) + (c->modemConnected ? " on " + c->modem.EUI64 : " off " + c->statusText);
    }

    static void checkCast(const QString& eui, const QByteArray& payload)
    {
        check(eui.size() == kEuiBlock);
        for (const QChar ch : eui)
            check(std::isxdigit(ch.unicode()) != 0);
        const QByteArray message = "Mess" + eui.toLatin1() + payload;
        const Frame frame = frontFrame(message + "Conn");
        check(frame.kind == Frame::Message && frame.length == message.size());
        decodeSensorPayload(payload, PresenceRule::FlagByte);
    }

    // The module's end of the one connection open now, null once it has gone.
    QTcpSocket* accepted() const { return module->clients.isEmpty() ? nullptr : module->clients.firstKey(); }

    // Runs the event loop until the condition holds; a module that never gets there is a
    // finding of its own, reported before libFuzzer's time-out of 10 s.
    template <typename F> static void spinUntil(F done)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            check(clock.elapsed() < 8000);
            QCoreApplication::processEvents();
        }
    }

    // Waits until the module has taken every byte sent so far, or has ended the connection.
    void settle()
    {
        spinUntil([this] {
            QTcpSocket* socket = accepted();
            int waiting = 0;
            return !socket
                || (::ioctl(int(socket->socketDescriptor()), FIONREAD, &waiting) == 0 && waiting == 0
                    && socket->bytesAvailable() == 0);
        });
    }

    // One connection, fed the reads in turn; the gateway never reads what it is sent.
    Run feed(const QVector<StreamReads::Read>& reads)
    {
        Run result;
        run = &result;
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(module->serverPort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in own {};
        own.sin_family = AF_INET;
        own.sin_addr.s_addr = htonl(source);
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        check(::bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof own) == 0);
        check(connectTo(fd, address));
        spinUntil([this] { return accepted() != nullptr; });
        for (const StreamReads::Read& read : reads) {
            if (!accepted())
                break;
            if (read.bytes.isEmpty())
                continue;
            check(::send(fd, read.bytes.constData(), size_t(read.bytes.size()), MSG_NOSIGNAL) == read.bytes.size());
            settle();
        }
        ::shutdown(fd, SHUT_WR);
        spinUntil([&result] { return result.ended; });
        // Closed with a reset: a hundred thousand runs leave no ports waiting in TIME_WAIT.
        const linger reset { 1, 0 };
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(fd);
        check(result.ended && module->clients.isEmpty());
        run = nullptr;
        return result;
    }
};

Server& server()
{
    static int argc = 1;
    static char name[] = "fuzz_gatewayframing";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    static Server s;
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Server& s = server();
    // Both runs of one input come from the same address, as their events name it.
    static quint32 inputs = 0;
    s.source = 0x7F010001u + (inputs++ / 8000) % 60000; // 127.1.x.y
    FuzzedDataProvider input(data, size);
    // Either a gateway that is sent little, whose cut and whole streams are compared, or one
    // that is sent a lot under a small bound, so the program ends it somewhere in its messages.
    const bool flooded = input.ConsumeBool();
    const int boundKiB = input.ConsumeIntegralInRange(0, 255);
    const StreamReads stream(input, 0);
    NetworkModule::Limits limits;
    if (flooded) {
        limits.maxUnsent = qint64(boundKiB) * 1024;
        limits.sensorListPauseMs = 0;
        s.module->setLimits(limits);
        s.list = "Slep" + QByteArray(64 * 1024, 'A');
        s.feed(stream.reads);
        return 0;
    }
    s.module->setLimits(limits);
    s.list = QByteArrayLiteral("Slep000D6F0000C0A001\0"
                               "60\0");
    const Run cut = s.feed(stream.reads);
    const Run whole = s.feed({ { stream.stream, 0 } });
    check(cut.events == whole.events && cut.rejected == whole.rejected);
    return 0;
}
