// Holds connections to a TCP port on 127.0.0.1 open without sending a byte, as a stranger who
// wants to take every slot of a server would: velquist-connection-holder PORT COUNT [DELAY_MS]
// A connection the server closes is opened again after DELAY_MS (default 100). Says
// "connected COUNT" once it has had that many connections accepted by the kernel, "open N
// connected M reopened K" every second, and ends when its standard input closes (so it never
// outlives the test that started it).
// Plain POSIX, so that it runs as any user without reading anything but the C library.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

struct TSlot {
    int Fd = -1;
    bool Connected = false;
    TClock::time_point ReopenAt{};
};

int Open(unsigned short port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT COUNT [DELAY_MS]\n", argv[0]);
        return 2;
    }
    const auto port = static_cast<unsigned short>(std::atoi(argv[1]));
    const int count = std::atoi(argv[2]);
    const auto delay = std::chrono::milliseconds(argc > 3 ? std::atoi(argv[3]) : 100);
    std::vector<TSlot> held(static_cast<size_t>(count));
    long reopened = 0, connected = 0;
    bool told = false;
    auto lastReport = TClock::now();
    for (;;) {
        const auto now = TClock::now();
        for (TSlot& slot : held) {
            if (slot.Fd < 0 && now >= slot.ReopenAt) {
                slot.Fd = Open(port);
                slot.Connected = false;
                if (slot.Fd < 0)
                    slot.ReopenAt = now + delay;
            }
        }
        std::vector<pollfd> polled;
        polled.push_back({STDIN_FILENO, POLLIN, 0});
        for (const TSlot& slot : held)
            if (slot.Fd >= 0)
                polled.push_back({slot.Fd, short(slot.Connected ? POLLIN : POLLOUT), 0});
        if (::poll(polled.data(), nfds_t(polled.size()), 20) < 0 && errno != EINTR)
            return 1;
        if (polled[0].revents != 0) {
            char buffer[64];
            if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
                return 0;
        }
        size_t at = 1;
        int open = 0;
        for (TSlot& slot : held) {
            if (slot.Fd < 0)
                continue;
            const short events = polled[at++].revents;
            bool closed = (events & (POLLERR | POLLHUP)) != 0;
            if (!closed && !slot.Connected && (events & POLLOUT)) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(slot.Fd, SOL_SOCKET, SO_ERROR, &error, &length);
                closed = error != 0;
                slot.Connected = !closed;
                connected += slot.Connected ? 1 : 0;
            } else if (!closed && (events & POLLIN)) {
                char buffer[4096];
                closed = ::read(slot.Fd, buffer, sizeof buffer) <= 0; // what is sent is dropped
            }
            if (closed) {
                ::close(slot.Fd);
                slot.Fd = -1;
                slot.ReopenAt = TClock::now() + delay;
                ++reopened;
            } else if (slot.Connected) {
                ++open;
            }
        }
        if (!told && connected >= count) {
            told = true;
            std::printf("connected %d\n", count);
            std::fflush(stdout);
        }
        if (TClock::now() - lastReport >= std::chrono::seconds(1)) {
            lastReport = TClock::now();
            std::printf("open %d connected %ld reopened %ld\n", open, connected, reopened);
            std::fflush(stdout);
        }
    }
}
