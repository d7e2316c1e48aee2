// Test support: a temporary VTN_ROOT, free loopback ports, child processes, small file helpers.
#pragma once
#include <functional>
#include <string>
#include <vector>
#include <ctime>
#include <sys/types.h>

// Makes a fresh folder, sets VTN_ROOT to it for the life of the object, removes it at the end.
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;
    const std::string& Dir() const { return dir_; }
    // dir + systemPath ("/etc/vtn.ini" -> "<dir>/etc/vtn.ini").
    std::string Path(const std::string& systemPath) const { return dir_ + systemPath; }

private:
    std::string dir_;
    std::string oldRoot_;
    bool hadRoot_ = false;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeTcpPort();
// True once something accepts connections on 127.0.0.1:port within timeoutMs.
bool WaitForPort(int port, int timeoutMs);
// As WaitForPort, giving up early once alive() turns false (the server process ended).
bool WaitForPortWhile(int port, int timeoutMs, const std::function<bool()>& alive);
// True once ready() within timeoutMs, looking every 20 ms; false at once when alive() turns false.
bool WaitWhile(const std::function<bool()>& ready, int timeoutMs, const std::function<bool()>& alive);
// True when the process pid itself holds a socket listening on the TCP port (any local address):
// another test's server that took the port meanwhile does not count.
bool ListensOn(pid_t pid, int port);
// True once ListensOn(pid, port) within timeoutMs; false at once when alive() turns false.
bool WaitForListener(pid_t pid, int port, int timeoutMs, const std::function<bool()>& alive);

// A child process started with execv; killed (SIGKILL) and reaped if still running at the end.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // argv[0] is the program path; env entries "NAME=value" are added to the current environment.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
               const std::string& stdoutFile = "", const std::string& stderrFile = "");
    pid_t Pid() const { return pid_; }
    bool Running();
    void Signal(int sig);
    // Waits up to timeoutMs; returns the wait status, or -1 on time-out (the child keeps running).
    int Wait(int timeoutMs);

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// From now on this process ends at once, with status 137 and no clean-up (as a kill would end it),
// when a whole-file rewrite reaches the named step ("create", "write", "sync", "rename", "done").
void DieAtFileStep(const char* step);

// Runs body in a forked child, which ends with _exit(0) after it unless body ends it first.
pid_t ForkChild(const std::function<void()>& body);
// Waits up to timeoutMs for a forked child; its exit code, or -1 when it did not end normally
// (killed when it had not ended by then).
int JoinChild(pid_t pid, int timeoutMs = 60000);

// Whether the process has ended: gone, or a zombie that nobody has reaped yet.
bool ProcessEnded(pid_t pid);

// Runs a program to its end; returns its exit code (-1 when it could not run or was killed),
// with standard output and error together in *output when given.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr,
               const std::vector<std::string>& env = {}, int timeoutMs = 60000);

// mktime of a local date and time (daylight saving as it falls on that date).
time_t LocalTime(int year, int month, int day, int hour, int minute, int second = 0);

std::string ReadFileText(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
// The names a folder holds (hidden ones too, "." and ".." aside), sorted.
std::vector<std::string> FolderEntries(const std::string& dir);

// While it lives, the files this process writes can grow to at most bytes, and a write past that
// fails (SIGXFSZ ignored): a full disk as this process meets it.
class FileSizeLimit {
public:
    explicit FileSizeLimit(off_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    off_t old_[2];
    void (*oldHandler_)(int);
};

// While it lives, this process's files are accessed as an unprivileged user when it runs as root,
// so that permission bits hold for it (a folder of 0555 cannot be written).
class Unprivileged {
public:
    Unprivileged();
    ~Unprivileged();
    Unprivileged(const Unprivileged&) = delete;
    Unprivileged& operator=(const Unprivileged&) = delete;

private:
    bool dropped_ = false;
};
