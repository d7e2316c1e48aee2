// A scripted SMTP peer for tests, on 127.0.0.1: it takes one connection, sends the greeting, then
// answers each command line with the next reply of its script (the message after a 354 is read to
// its final "." line first). It records every byte it receives. Header-only.
#pragma once
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace smtppeer {

struct Script {
    std::vector<std::string> replies;   // [0] is the greeting
    int trickleMs = 0;                  // > 0: every reply goes out one byte at a time, this far apart
    int stallAfter = -1;                // >= 0: after this many replies, send nothing more
    std::string partial;                // sent when the peer stalls (a reply cut short)
};

class Peer {
public:
    explicit Peer(Script script) : script_(std::move(script))
    {
        listen_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof(addr);
        if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            listen(listen_, 1) != 0 || getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~Peer() { Join(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    int Port() const { return port_; }
    // Waits for the dialogue to end; everything the client sent.
    const std::string& Received()
    {
        Join();
        return received_;
    }

private:
    static constexpr int kWaitMs = 20000;   // bounds every wait of the peer

    void Join()
    {
        if (thread_.joinable())
            thread_.join();
        if (listen_ >= 0)
            close(listen_);
        listen_ = -1;
    }

    bool Readable(int sock, int ms)
    {
        pollfd p{sock, POLLIN, 0};
        return poll(&p, 1, ms) == 1;
    }

    // One line up to its '\n'; false when the client closed or went silent.
    bool ReadLine(int sock, std::string* line)
    {
        line->clear();
        char c = 0;
        while (Readable(sock, kWaitMs) && recv(sock, &c, 1, 0) == 1) {
            received_ += c;
            *line += c;
            if (c == '\n')
                return true;
        }
        return false;
    }

    void Send(int sock, const std::string& text)
    {
        if (script_.trickleMs <= 0) {
            send(sock, text.data(), text.size(), MSG_NOSIGNAL);
            return;
        }
        for (char c : text) {
            send(sock, &c, 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(script_.trickleMs));
        }
    }

    // Sends the next reply; false when the script is over or the peer stalls here.
    bool Reply(int sock, size_t* next, std::string* sent)
    {
        if (script_.stallAfter >= 0 && *next == static_cast<size_t>(script_.stallAfter)) {
            Send(sock, script_.partial);
            return false;
        }
        if (*next >= script_.replies.size())
            return false;
        *sent = script_.replies[(*next)++];
        Send(sock, *sent);
        return true;
    }

    void Run()
    {
        if (!Readable(listen_, kWaitMs))
            return;
        int sock = accept(listen_, nullptr, nullptr);
        if (sock < 0)
            return;
        if (script_.replies.empty() && script_.stallAfter < 0) {
            close(sock);   // a peer that hangs up at once
            return;
        }
        size_t next = 0;
        std::string line;
        std::string sent;
        bool going = Reply(sock, &next, &sent);
        while (going && ReadLine(sock, &line) && line != "QUIT\r\n") {
            going = Reply(sock, &next, &sent);
            if (going && sent.compare(0, 3, "354") == 0) {
                // The message, to its final "." line, then the answer to it.
                while (ReadLine(sock, &line) && line != ".\r\n") {
                }
                going = Reply(sock, &next, &sent);
            }
        }
        // Silent now: whatever else comes (a QUIT) is read until the client closes.
        while (ReadLine(sock, &line)) {
        }
        close(sock);
    }

    Script script_;
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::string received_;
};

}  // namespace smtppeer
