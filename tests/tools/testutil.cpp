#include "testutil.h"

#include <mutex>
#include <random>

#include <algorithm>
#include <arpa/inet.h>
#include <dirent.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "fileio.h"

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    remove(path);
    return 0;
}

long long NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

TempRoot::TempRoot()
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vtntest.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        abort();
    dir_ = buf.data();
    const char* old = getenv("VTN_ROOT");
    if (old) {
        hadRoot_ = true;
        oldRoot_ = old;
    }
    setenv("VTN_ROOT", dir_.c_str(), 1);
}

TempRoot::~TempRoot()
{
    nftw(dir_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    if (hadRoot_)
        setenv("VTN_ROOT", oldRoot_.c_str(), 1);
    else
        unsetenv("VTN_ROOT");
}

namespace {

// True when nothing holds port on 127.0.0.1 right now.
bool PortFree(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    bool free = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return free;
}

}  // namespace

int FreeTcpPort()
{
    // Below the kernel's range for outgoing connections: a port picked there could be taken by
    // any test's client socket (or a connection to itself) before the server binds it.
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    static std::mt19937 pick(static_cast<unsigned>(getpid()) * 7919u + static_cast<unsigned>(time(nullptr)));
    std::uniform_int_distribution<int> range(10000, 32000);
    for (int i = 0; i < 500; ++i) {
        int port = range(pick);
        if (PortFree(port))
            return port;
    }
    return -1;
}

bool WaitForPort(int port, int timeoutMs)
{
    return WaitForPortWhile(port, timeoutMs, [] { return true; });
}

namespace {

// The inodes of the sockets listening on the TCP port, from the kernel's tables
// ("sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...").
std::vector<unsigned long> ListeningInodes(int port)
{
    std::vector<unsigned long> out;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);   // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
            unsigned long inode = 0;
            if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode))
                continue;
            const size_t colon = local.rfind(':');
            if (state == "0A" && colon != std::string::npos && strtol(local.c_str() + colon + 1, nullptr, 16) == port)
                out.push_back(inode);
        }
    }
    return out;
}

}  // namespace

bool ListensOn(pid_t pid, int port)
{
    const std::vector<unsigned long> inodes = ListeningInodes(port);
    if (inodes.empty())
        return false;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* d = opendir(folder.c_str());
    if (d == nullptr)
        return false;
    bool found = false;
    while (dirent* e = readdir(d)) {
        char target[64] = {};
        if (readlink((folder + "/" + e->d_name).c_str(), target, sizeof target - 1) <= 0)
            continue;
        unsigned long inode = 0;
        if (sscanf(target, "socket:[%lu]", &inode) == 1 &&
            std::find(inodes.begin(), inodes.end(), inode) != inodes.end()) {
            found = true;
            break;
        }
    }
    closedir(d);
    return found;
}

bool WaitWhile(const std::function<bool()>& ready, int timeoutMs, const std::function<bool()>& alive)
{
    const long long end = NowMs() + timeoutMs;
    do {
        if (ready())
            return true;
        if (!alive())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (NowMs() < end);
    return false;
}

bool WaitForListener(pid_t pid, int port, int timeoutMs, const std::function<bool()>& alive)
{
    return WaitWhile([&] { return ListensOn(pid, port); }, timeoutMs, alive);
}

bool WaitForPortWhile(int port, int timeoutMs, const std::function<bool()>& alive)
{
    return WaitWhile(
        [port] {
            int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(static_cast<uint16_t>(port));
            const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
            close(fd);
            return ok;
        },
        timeoutMs, alive);
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0 && Running()) {
        kill(pid_, SIGKILL);
        Wait(5000);
    }
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& stdoutFile, const std::string& stderrFile)
{
    if (argv.empty())
        return false;
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        for (const auto& e : env)
            putenv(const_cast<char*>(e.c_str()));
        if (!stdoutFile.empty()) {
            int fd = open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0)
                dup2(fd, 1);
        }
        if (!stderrFile.empty()) {
            int fd = open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0)
                dup2(fd, 2);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
    status_ = -1;
    return true;
}

bool ChildProcess::Running()
{
    if (pid_ <= 0 || status_ != -1)
        return false;
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        status_ = st;
        return false;
    }
    return r == 0;
}

void ChildProcess::Signal(int sig)
{
    if (pid_ > 0 && status_ == -1)
        kill(pid_, sig);
}

int ChildProcess::Wait(int timeoutMs)
{
    long long end = NowMs() + timeoutMs;
    while (Running()) {
        if (NowMs() >= end)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

void DieAtFileStep(const char* step)
{
    static const char* dieAt;
    dieAt = step;
    VtnSetFileStepHook([](const char* now) {
        if (strcmp(now, dieAt) == 0)
            _exit(137);
    });
}

pid_t ForkChild(const std::function<void()>& body)
{
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    return pid;
}

int JoinChild(pid_t pid, int timeoutMs)
{
    if (pid <= 0)
        return -1;
    const long long end = NowMs() + timeoutMs;
    for (;;) {
        int st = 0;
        const pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid)
            return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        if (r < 0)
            return -1;
        if (NowMs() >= end)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

bool ProcessEnded(pid_t pid)
{
    const std::string stat = ReadFileText("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren == std::string::npos || stat.compare(paren, 4, ") Z ") == 0;
}

int RunProgram(const std::vector<std::string>& argv, std::string* output, const std::vector<std::string>& env,
               int timeoutMs)
{
    const char* base = getenv("VTN_ROOT");
    if (base == nullptr || *base == 0)
        base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vtnrun.XXXXXX";
    std::vector<char> nameBuf(pattern.begin(), pattern.end());
    nameBuf.push_back(0);
    char* name = nameBuf.data();
    int fd = mkstemp(name);
    if (fd < 0)
        return -1;
    close(fd);
    ChildProcess child;
    int code = -1;
    if (child.Start(argv, env, name, name)) {
        int st = child.Wait(timeoutMs);
        if (st == -1) {
            child.Signal(SIGKILL);
            child.Wait(5000);
        } else if (WIFEXITED(st)) {
            code = WEXITSTATUS(st);
        }
    }
    if (output)
        *output = ReadFileText(name);
    unlink(name);
    return code;
}

time_t LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return mktime(&t);
}

std::string ReadFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool WriteFileText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> FolderEntries(const std::string& dir)
{
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                out.push_back(e->d_name);
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

FileSizeLimit::FileSizeLimit(off_t bytes)
{
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    old_[0] = static_cast<off_t>(old.rlim_cur);
    old_[1] = static_cast<off_t>(old.rlim_max);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit{static_cast<rlim_t>(bytes), old.rlim_max};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        abort();
}

FileSizeLimit::~FileSizeLimit()
{
    struct rlimit old{static_cast<rlim_t>(old_[0]), static_cast<rlim_t>(old_[1])};
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler_);
}

Unprivileged::Unprivileged()
{
    if (geteuid() != 0)
        return;
    constexpr uid_t kNobody = 65534;
    if (seteuid(kNobody) != 0)
        abort();
    dropped_ = true;
}

Unprivileged::~Unprivileged()
{
    if (!dropped_)
        return;
    if (seteuid(0) != 0)
        abort();
    // A change of the effective user made the process undumpable; the sanitizers' leak check
    // needs it as it was.
    prctl(PR_SET_DUMPABLE, 1);
}
