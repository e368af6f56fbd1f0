// A load client for comparing two HTTP servers on 127.0.0.1 by the rate they answer at: keep-alive
// connections each ask for one path again as soon as its answer is in, for a fixed time.
//
// It costs less per answer than the servers it measures (a read and a write of the socket, no
// parsing once the answers' size is known), so that on a machine of two cores the server, not the
// client, is what runs out of processor time, and a rate tells servers apart. All answers of a run
// must be of one size, as the same fixed answer is: the first one is read whole and framed by its
// head (Content-Length or chunks), and every answer after it must begin with its status line.
//
// Usage: keepalive_client PORT PATH size
//          prints the bytes of one answer, head and framing included
//        keepalive_client PORT PATH CONNECTIONS SECONDS
//          prints "<answers> <seconds> <answers a second> <bytes an answer>"
// Exits 1, saying why, when a connection fails or an answer is not what the first one was.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ascii.h"
#include "platform/posix/descriptor.h"

namespace {

using platform::posix::Descriptor;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "keepalive_client: %s\n", why.c_str());
    std::exit(1);
}

Descriptor Connect(unsigned short port) {
    Descriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!socket.IsOpen() ||
        connect(socket.Get(), reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        Fail("cannot connect to 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
    }
    const int on = 1;
    setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return socket;
}

void SendAll(const Descriptor& socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(socket.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            Fail(std::string("a send failed: ") + std::strerror(errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

// The whole answer's length when `data` begins with one whole answer; nothing while more is to
// come. Chunked answers carry no trailer.
std::optional<std::size_t> AnswerLength(std::string_view data) {
    const std::size_t headEnd = data.find("\r\n\r\n");
    if (headEnd == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t bodyStart = headEnd + 4;
    const std::string head = platform::ascii::Lowered(data.substr(0, bodyStart));
    if (const std::size_t field = head.find("\r\ncontent-length:"); field != std::string::npos) {
        const std::size_t length = std::strtoul(head.c_str() + field + 17, nullptr, 10);
        if (data.size() < bodyStart + length) {
            return std::nullopt;
        }
        return bodyStart + length;
    }
    if (head.find("\r\ntransfer-encoding: chunked\r\n") == std::string::npos) {
        Fail("an answer neither gives its length nor comes in chunks");
    }
    for (std::size_t at = bodyStart;;) {
        const std::size_t lineEnd = data.find("\r\n", at);
        if (lineEnd == std::string_view::npos) {
            return std::nullopt;
        }
        const std::size_t size =
            std::strtoul(std::string(data.substr(at, lineEnd - at)).c_str(), nullptr, 16);
        at = lineEnd + 2 + size + 2;
        if (data.size() < at) {
            return std::nullopt;
        }
        if (size == 0) {
            return at;
        }
    }
}

// One exchange on a connection of its own: the first answer, whole.
std::string FirstAnswer(unsigned short port, const std::string& request) {
    const Descriptor socket = Connect(port);
    SendAll(socket, request);
    std::string data;
    char piece[4096];
    while (true) {
        if (const std::optional<std::size_t> length = AnswerLength(data)) {
            return data.substr(0, *length);
        }
        const ssize_t got = recv(socket.Get(), piece, sizeof piece, 0);
        if (got <= 0) {
            Fail("the server closed the connection before its first answer was whole");
        }
        data.append(piece, static_cast<std::size_t>(got));
    }
}

struct Connection {
    Descriptor socket;
    std::size_t received = 0;  // bytes of the answer now arriving
};

// Keeps `count` connections asking for as long as `seconds`; the answers counted.
long Run(unsigned short port, const std::string& request, const std::string& answer, int count,
         double seconds) {
    const Descriptor poll(epoll_create1(EPOLL_CLOEXEC));
    std::vector<Connection> connections(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < connections.size(); ++i) {
        connections[i].socket = Connect(port);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = i;
        if (epoll_ctl(poll.Get(), EPOLL_CTL_ADD, connections[i].socket.Get(), &event) != 0) {
            Fail(std::string("epoll_ctl: ") + std::strerror(errno));
        }
        SendAll(connections[i].socket, request);
    }
    const std::string_view statusLine(answer.data(), answer.find("\r\n") + 2);
    std::vector<char> piece(64 * 1024);
    epoll_event events[256];
    long answers = 0;
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds));
    while (Clock::now() < end) {
        const int ready = epoll_wait(poll.Get(), events, 256, 100);
        for (int i = 0; i < ready; ++i) {
            Connection& connection = connections[events[i].data.u64];
            const ssize_t got = recv(connection.socket.Get(), piece.data(), piece.size(), 0);
            if (got <= 0) {
                Fail("the server closed a connection");
            }
            // Every answer that begins in this piece must begin as the first one did.
            std::size_t offset = connection.received == 0 ? 0 : answer.size() - connection.received;
            for (; offset < static_cast<std::size_t>(got); offset += answer.size()) {
                const std::size_t have =
                    std::min(statusLine.size(), static_cast<std::size_t>(got) - offset);
                if (std::memcmp(piece.data() + offset, statusLine.data(), have) != 0) {
                    Fail("an answer did not begin as the first one did");
                }
            }
            connection.received += static_cast<std::size_t>(got);
            for (; connection.received >= answer.size(); connection.received -= answer.size()) {
                ++answers;
                SendAll(connection.socket, request);
            }
        }
    }
    return answers;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc != 4 || std::strcmp(argv[3], "size") != 0) && argc != 5) {
        std::fprintf(stderr,
                     "usage: keepalive_client PORT PATH size\n"
                     "       keepalive_client PORT PATH CONNECTIONS SECONDS\n");
        return 2;
    }
    const auto port = static_cast<unsigned short>(std::atoi(argv[1]));
    const std::string request =
        std::string("GET ") + argv[2] + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const std::string answer = FirstAnswer(port, request);
    if (argc == 4) {
        std::printf("%zu\n", answer.size());
        return 0;
    }
    const int count = std::atoi(argv[3]);
    const double seconds = std::atof(argv[4]);
    const Clock::time_point start = Clock::now();
    const long answers = Run(port, request, answer, count, seconds);
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%ld %.2f %.0f %zu\n", answers, took, answers / took, answer.size());
    return 0;
}
