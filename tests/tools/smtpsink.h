// A real SMTP server for tests and benchmarks: aiosmtpd on a free port of 127.0.0.1 with the
// handler of smtpsink.py, writing every message it accepts to ROOT/sink as NNNN.eml. Header-only:
// the including target defines VTN_SOURCE_DIR.
#pragma once
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"

class SmtpSink {
public:
    // Starts the server under root (a VTN_ROOT folder); true once it listens, within 20 s. A
    // server that ends before it listens lost its port to another test meanwhile: it is started
    // again on another.
    bool Start(const std::string& root)
    {
        root_ = root;
        folder_ = root + "/sink";
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = FreeTcpPort();
            if (!process_.Start({"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", "127.0.0.1:" + std::to_string(port_),
                                 "-c", "smtpsink.Sink", folder_},
                                {"PYTHONPATH=" VTN_SOURCE_DIR "/tests/tools"}, root + "/sink.out", root + "/sink.err"))
                return false;
            if (WaitForListener(process_.Pid(), port_, 20000, [this] { return process_.Running(); }))
                return true;
            if (process_.Running())
                return false;
        }
        return false;
    }
    int Port() const { return port_; }
    const std::string& Folder() const { return folder_; }
    // What the server wrote to its error output (why it did not start).
    std::string Errors() const { return ReadFileText(root_ + "/sink.err"); }

    // How many messages the sink holds.
    size_t Count() const { return Names().size(); }
    // The messages the sink holds, in the order they came.
    std::vector<std::string> Mails() const
    {
        std::vector<std::string> mails;
        for (const std::string& n : Names())
            mails.push_back(ReadFileText(folder_ + "/" + n));
        return mails;
    }
    // The messages once there are count of them, or what there is after timeoutMs (the sink
    // writes a message after its answer to the client).
    std::vector<std::string> WaitForMails(size_t count, int timeoutMs = 20000) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::vector<std::string> mails = Mails();
        while (mails.size() < count && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            mails = Mails();
        }
        return mails;
    }

private:
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(folder_.c_str())) {
            while (dirent* e = readdir(d))
                if (strstr(e->d_name, ".eml") != nullptr)
                    names.push_back(e->d_name);
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    ChildProcess process_;
    std::string root_, folder_;
    int port_ = 0;
};
