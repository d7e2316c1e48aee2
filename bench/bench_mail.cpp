// How long after an event the SMTP server has its mail, with a small event log and with a large
// one whose lines were all mailed before. The server waits 2 s before each pass; a pass that
// starts at the first line not yet mailed keeps the large log from adding to that.
//
// Usage: bench_mail [LINES] [EVENTS]   (default 100000 lines, 5 events)
// Starts aiosmtpd (/usr/bin/python3) and vtnsvr -NODAEMON under a temporary VTN_ROOT.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "intfimp.h"
#include "rawclient.h"
#include "smtpsink.h"
#include "svrrec.h"
#include "testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

// A log of `lines` lines, every one marked as mailed.
bool WriteMailedLog(int lines)
{
    std::string text;
    text.reserve(static_cast<size_t>(lines) * 64);
    for (int i = 0; i < lines; ++i)
        text += "1\tI\t12/10/26 12:00:00\tDisk " + std::to_string(i % 8) + " of controller 1 was plugged in.\n";
    return raw::WriteSystemFile("/var/log/vtn.log", text);
}

bool SetUpMail(int port)
{
    _VTN_SMTP_SERVER_INFO smtp{};
    CopyText(smtp.host, "127.0.0.1");
    smtp.port = static_cast<uint16_t>(port);
    CopyText(smtp.sender, "raid@example.com");
    _VTN_MAIL_RECIPIENT_INFO r{};
    CopyText(r.address, "admin@example.com");
    CopyText(r.name, "Admin");
    r.flags = VTN_MAIL_ERROR;
    return cs_vtn_set_smtp_server(0, &smtp) == VTN_SUCCESS &&
           cs_vtn_set_mail_recipients(0, &r, VTN_RECIPIENT_ADD) == VTN_SUCCESS;
}

// Seconds from the reply to an error event the client reports until the sink holds its mail.
double OneEvent(int sock, const SmtpSink& sink, int n)
{
    _VTN_LOG_EVENT ev{};
    ev.severity = 'E';
    FormatText(ev.text, sizeof ev.text, "Disk at Controller1-Channel1-Device%d failed.", n);
    std::vector<uint8_t> body(sizeof(_VTN_REQ_ENUM_EVENT) - sizeof(_Packet_Head));
    memcpy(body.data(), &ev, sizeof ev);
    size_t before = sink.Count();
    raw::Reply reply = raw::Request(sock, VTN_GROUP_EVENT, VTN_CODE_SAVE_EVENT, body.data(), body.size());
    auto t0 = Clock::now();
    if (!reply.ok())
        return -1;
    auto end = t0 + std::chrono::seconds(30);
    while (sink.Count() <= before) {
        if (Clock::now() > end)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Median latency of `events` events with a log of `lines` mailed lines; -1 on a failure.
double Run(int lines, int events)
{
    TempRoot root;
    raw::TestServer server(root);
    SmtpSink sink;
    if (!sink.Start(root.Dir())) {
        fprintf(stderr, "aiosmtpd did not start: %s\n", sink.Errors().c_str());
        return -1;
    }
    if (!server.Prepare() || !WriteMailedLog(lines) || !SetUpMail(sink.Port()) || !server.Start()) {
        fprintf(stderr, "vtnsvr did not start: %s\n", server.Stderr().c_str());
        return -1;
    }
    raw::Socket sock;
    if (server.Connect(&sock).status != 0) {
        fprintf(stderr, "login failed\n");
        return -1;
    }
    // The first pass after the start walks the whole log; the figures are of the passes after it.
    if (OneEvent(sock.fd(), sink, 0) < 0)
        return -1;
    std::vector<double> times;
    for (int i = 1; i <= events; ++i) {
        double t = OneEvent(sock.fd(), sink, i);
        if (t < 0)
            return -1;
        times.push_back(t);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    int lines = argc > 1 ? atoi(argv[1]) : 100000;
    int events = argc > 2 ? atoi(argv[2]) : 5;
    if (lines < 1 || events < 1) {
        fprintf(stderr, "usage: bench_mail [LINES] [EVENTS]\n");
        return 2;
    }
    double small = Run(10, events);
    double large = Run(lines, events);
    if (small < 0 || large < 0)
        return 1;
    printf("event to mail, median of %d events (the server pauses 2 s before each pass)\n", events);
    printf("log of %6d mailed lines  %6.3f s\n", 10, small);
    printf("log of %6d mailed lines  %6.3f s  ratio %.3f\n", lines, large, large / small);
    return 0;
}
