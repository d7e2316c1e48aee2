// A fake server on 127.0.0.1 for the event channel: it logs a client in (greeting, status 0 and
// the notice naming its own event port), answers every request with a status packet (0 for the
// channel switch-off, a failure otherwise), and on each event connection reads the bind, then
// sends the bytes the test gave it; the test writes more or closes the channel. Header-only.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "commu.h"
#include "svrrec.h"
#include "textutil.h"
#include "vtnstatus.h"

// One pushed event as the server writes it: length 588 and type 3, no magic.
inline std::string EventPacketBytes(const std::string& text, char severity = 'W')
{
    _VTN_EVENT_PACKET packet;
    memset(&packet, 0, sizeof packet);
    packet.head.length = sizeof packet;
    packet.head.type = VTN_PACKET_NOTICE;
    packet.event.severity = severity;
    packet.event.mark = 3;
    packet.event.time.year = 24;
    packet.event.time.month = 5;
    packet.event.time.day = 17;
    CopyText(packet.event.text, sizeof packet.event.text, text.c_str());
    return std::string(reinterpret_cast<const char*>(&packet), sizeof packet);
}

class FakeEventServer {
public:
    explicit FakeEventServer(std::string firstBytes = {}) : first_(std::move(firstBytes))
    {
        request_ = Listen(&port_);
        event_ = Listen(&eventPort_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeEventServer()
    {
        stop_ = true;
        thread_.join();
        for (int fd : commands_)
            close(fd);
        CloseEvents();
        close(request_);
        close(event_);
    }
    FakeEventServer(const FakeEventServer&) = delete;
    FakeEventServer& operator=(const FakeEventServer&) = delete;

    int Port() const { return port_; }
    int EventPort() const { return eventPort_; }

    // The latest event connection once it is bound and its first bytes went; -1 when none came
    // within timeoutMs.
    int EventConnection(int timeoutMs = 10000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!events_.empty())
                    return events_.back();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < until);
        return -1;
    }
    // Writes the bytes on the latest event connection (waiting while the client's side is full):
    // true when all went.
    bool Send(const std::string& bytes)
    {
        const int fd = EventConnection();
        size_t sent = 0;
        while (fd >= 0 && sent < bytes.size()) {
            const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += size_t(n);
        }
        return fd >= 0;
    }
    // The server's end of every event connection closes.
    void CloseEvents()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int fd : events_)
            close(fd);
        events_.clear();
    }
    // Event connections bound so far.
    int EventConnections() const { return bound_; }
    // When the latest event connection got its first bytes (after EventConnection found it).
    std::chrono::steady_clock::time_point BoundAt()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return boundAt_;
    }

private:
    static int Listen(int* port)
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, 4);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        *port = ntohs(a.sin_port);
        return fd;
    }
    static int Accept(int listener)
    {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd >= 0) {
            timeval t{10, 0};  // a client that stops in the middle of a packet must not hold the thread
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
        }
        return fd;
    }
    static bool RecvAll(int fd, void* buf, size_t len)
    {
        return len == 0 || recv(fd, buf, len, MSG_WAITALL) == ssize_t(len);
    }
    static bool SendAll(int fd, const void* buf, size_t len)
    {
        return send(fd, buf, len, MSG_NOSIGNAL) == ssize_t(len);
    }
    static void Status(int fd, uint32_t status)
    {
        _Packet_Error e;
        FillPacketHead(&e.head, sizeof e, VTN_PACKET_STATUS, 0, 0);
        e.status = status;
        SendAll(fd, &e, sizeof e);
    }
    bool LogIn(int fd)
    {
        _VTN_LOGIN_GREETING greeting{};
        FillPacketHead(&greeting.head, sizeof greeting, VTN_PACKET_REQUEST, 0, 0);
        memcpy(greeting.key, "K3y.abcd", 8);
        char login[sizeof(_VTN_LOGIN_REQUEST)];
        if (!SendAll(fd, &greeting, sizeof greeting) || !RecvAll(fd, login, sizeof login))
            return false;
        Status(fd, VTN_SUCCESS);
        _VTN_LOGIN_NOTICE notice{};
        FillPacketHead(&notice.head, sizeof notice, VTN_PACKET_NOTICE, 0, 0);
        notice.eventPort = static_cast<uint16_t>(eventPort_);
        notice.slot = 0;
        return SendAll(fd, &notice, sizeof notice);
    }
    // One request answered; false when the connection is done.
    static bool Answer(int fd)
    {
        _Packet_Head head;
        if (!RecvAll(fd, &head, sizeof head) || head.length < sizeof head || head.length > 1 << 20)
            return false;
        std::vector<char> rest(head.length - sizeof head);
        if (!RecvAll(fd, rest.data(), rest.size()))
            return false;
        if (head.group == VTN_GROUP_LOGOUT)
            return false;
        const bool off = head.group == VTN_GROUP_EVENT && head.code == VTN_CODE_EVENT_CHANNEL_OFF;
        Status(fd, off ? VTN_SUCCESS : VTN_UNSUPPORTED);
        return true;
    }
    void Serve()
    {
        while (!stop_) {
            std::vector<pollfd> fds{{request_, POLLIN, 0}, {event_, POLLIN, 0}};
            for (int fd : commands_)
                fds.push_back({fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 20) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                const int fd = Accept(request_);
                if (fd >= 0 && LogIn(fd))
                    commands_.push_back(fd);
                else if (fd >= 0)
                    close(fd);
            }
            if (fds[1].revents & POLLIN) {
                const int fd = Accept(event_);
                char bindPacket[sizeof(_VTN_EVENT_BIND)];
                if (fd >= 0 && RecvAll(fd, bindPacket, sizeof bindPacket) && SendAll(fd, first_.data(), first_.size())) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    events_.push_back(fd);
                    boundAt_ = std::chrono::steady_clock::now();
                    ++bound_;
                } else if (fd >= 0) {
                    close(fd);
                }
            }
            for (size_t i = 2; i < fds.size(); ++i)
                if (fds[i].revents && !Answer(fds[i].fd)) {
                    close(fds[i].fd);
                    std::erase(commands_, fds[i].fd);
                }
        }
    }

    std::string first_;
    int request_ = -1, event_ = -1;
    int port_ = 0, eventPort_ = 0;
    std::vector<int> commands_;  // the serving thread's only
    std::mutex mutex_;
    std::vector<int> events_;
    std::chrono::steady_clock::time_point boundAt_;
    std::atomic<int> bound_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
