// The floor under the program's cost per gateway message: one thread, one epoll loop, which
// accepts every gateway connection and reads what it sends, and answers the modem messages of
// a serial line with the program's reply frame.
//   bench_epoll_anchor <serial port> <TCP port>
#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "bench/views/ucastframes.h"
#include "links/sensorpayload.h"

namespace
{

// Answers every whole modem message in `buffer`.
void answer(int line, QByteArray& buffer)
{
    for (QString eui = takeUcastSender(buffer); !eui.isEmpty(); eui = takeUcastSender(buffer)) {
        const QByteArray frame = sensorReplyFrame(eui, 60);
        if (::write(line, frame.constData(), size_t(frame.size())) != frame.size())
            return;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_epoll_anchor <serial port> <TCP port>\n");
        return 2;
    }
    const int line = ::open(argv[1], O_RDWR | O_NOCTTY);
    termios raw {};
    if (line < 0 || tcgetattr(line, &raw) != 0) {
        std::fprintf(stderr, "bench_epoll_anchor: cannot open %s\n", argv[1]);
        return 1;
    }
    cfmakeraw(&raw);
    tcsetattr(line, TCSANOW, &raw);
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(std::atoi(argv[2])));
    if (::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(server, SOMAXCONN) != 0) {
        std::fprintf(stderr, "bench_epoll_anchor: cannot listen on %s\n", argv[2]);
        return 1;
    }
    const int poll = epoll_create1(0);
    epoll_event event {};
    event.events = EPOLLIN;
    event.data.fd = line;
    epoll_ctl(poll, EPOLL_CTL_ADD, line, &event);
    event.data.fd = server;
    epoll_ctl(poll, EPOLL_CTL_ADD, server, &event);
    std::printf("ready\n");
    std::fflush(stdout);
    QByteArray lineBytes;
    char buffer[65536];
    epoll_event ready[256];
    for (;;) {
        const int n = epoll_wait(poll, ready, 256, -1);
        for (int i = 0; i < n; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == server) {
                const int client = ::accept(server, nullptr, nullptr);
                if (client >= 0) {
                    event.data.fd = client;
                    epoll_ctl(poll, EPOLL_CTL_ADD, client, &event);
                }
                continue;
            }
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (fd == line) {
                if (got > 0) {
                    lineBytes.append(buffer, int(got));
                    answer(line, lineBytes);
                }
            } else if (got <= 0) {
                epoll_ctl(poll, EPOLL_CTL_DEL, fd, nullptr);
                ::close(fd);
            }
        }
    }
}
