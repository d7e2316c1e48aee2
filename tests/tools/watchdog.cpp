// Runs a test command and, when it is still running after its time, prints the stacks of the
// threads of every process it started (gdb, attached to all of them at once) before it kills them:
// a hang can then be found from the test's output alone.
//   vtnwatchdog SECONDS program args...
// Exits with the program's status (or dies of its signal); after a kill with 124.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

constexpr int kGdbSeconds = 30;   // the longest a gdb may take over one process

double Now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The parent of a process, from /proc/PID/stat ("pid (comm) state ppid ..."); -1 when gone.
pid_t ParentOf(pid_t pid)
{
    const std::string stat = ReadFileText("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    char state = 0;
    int ppid = -1;
    if (sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2)
        return -1;
    return ppid;
}

// The process and all its descendants, parents before their children.
std::vector<pid_t> Tree(pid_t root)
{
    std::multimap<pid_t, pid_t> children;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            char* end = nullptr;
            const long pid = strtol(e->d_name, &end, 10);
            if (end == e->d_name || *end != '\0')
                continue;
            children.insert({ParentOf(static_cast<pid_t>(pid)), static_cast<pid_t>(pid)});
        }
        closedir(d);
    }
    std::vector<pid_t> out{root};
    for (size_t i = 0; i < out.size(); ++i) {
        auto [first, last] = children.equal_range(out[i]);
        for (auto it = first; it != last; ++it)
            out.push_back(it->second);
    }
    return out;
}

std::string CommandLine(pid_t pid)
{
    std::string cmd = ReadFileText("/proc/" + std::to_string(pid) + "/cmdline");
    for (char& c : cmd)
        if (c == '\0')
            c = ' ';
    while (!cmd.empty() && cmd.back() == ' ')
        cmd.pop_back();
    return cmd;
}

struct Dump {
    pid_t pid = 0;
    pid_t gdb = -1;
    int out = -1;   // gdb's output
    std::string text;
};

// Starts a gdb that prints every thread's stack of pid to a pipe.
void StartGdb(Dump* d)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    const std::string pid = std::to_string(d->pid);
    d->gdb = fork();
    if (d->gdb == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0)
            dup2(null, 0);
        execlp("gdb", "gdb", "-q", "-nx", "-batch", "-p", pid.c_str(), "-ex", "set pagination off", "-ex",
               "thread apply all bt", static_cast<char*>(nullptr));
        const char msg[] = "(gdb could not be started)\n";
        (void)!write(1, msg, sizeof msg - 1);   // nothing more to do when it fails
        _exit(127);
    }
    close(fds[1]);
    if (d->gdb < 0) {
        close(fds[0]);
        return;
    }
    d->out = fds[0];
}

// Collects the output of every gdb until all have ended or their time is up.
void CollectGdbs(std::vector<Dump>& dumps)
{
    const double end = Now() + kGdbSeconds;
    for (;;) {
        std::vector<pollfd> fds;
        for (const Dump& d : dumps)
            if (d.out >= 0)
                fds.push_back({d.out, POLLIN, 0});
        const double left = end - Now();
        if (fds.empty() || left <= 0)
            break;
        if (poll(fds.data(), fds.size(), static_cast<int>(left * 1000) + 1) < 0 && errno != EINTR)
            break;
        for (const pollfd& p : fds) {
            if (!p.revents)
                continue;
            for (Dump& d : dumps) {
                if (d.out != p.fd)
                    continue;
                char buf[8192];
                const ssize_t n = read(d.out, buf, sizeof buf);
                if (n > 0) {
                    d.text.append(buf, static_cast<size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    close(d.out);
                    d.out = -1;
                }
            }
        }
    }
    for (Dump& d : dumps) {
        if (d.out >= 0) {
            close(d.out);
            d.text += "(gdb did not finish within " + std::to_string(kGdbSeconds) + " s)\n";
        }
        if (d.gdb > 0) {
            kill(d.gdb, SIGKILL);
            waitpid(d.gdb, nullptr, 0);
        }
    }
}

void Say(const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(2, text.data() + done, text.size() - done);
        if (n <= 0 && errno != EINTR)
            return;
        if (n > 0)
            done += static_cast<size_t>(n);
    }
}

// Prints the stacks of every process of the tree, then kills them all.
void DumpAndKill(pid_t child, int seconds)
{
    const std::vector<pid_t> tree = Tree(child);
    Say("\nwatchdog: the test still runs after " + std::to_string(seconds) + " s; the stacks of its " +
        std::to_string(tree.size()) + " process(es) follow, then they are killed\n");
    // Stopped, none of them moves on while the others are looked at.
    for (pid_t p : tree)
        kill(p, SIGSTOP);
    std::vector<Dump> dumps;
    for (pid_t p : tree) {
        Dump d;
        d.pid = p;
        d.text = "==== process " + std::to_string(p) + " (parent " + std::to_string(ParentOf(p)) + "): " +
                 CommandLine(p) + "\n";
        dumps.push_back(d);
    }
    for (Dump& d : dumps)
        StartGdb(&d);
    CollectGdbs(dumps);
    for (const Dump& d : dumps)
        Say(d.text);
    Say("watchdog: killing the test\n");
    for (pid_t p : Tree(child))
        kill(p, SIGKILL);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || atoi(argv[1]) <= 0) {
        fprintf(stderr, "usage: vtnwatchdog SECONDS program args...\n");
        return 2;
    }
    const int seconds = atoi(argv[1]);
    sigset_t taken, old;
    sigemptyset(&taken);
    for (int s : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&taken, s);
    sigprocmask(SIG_BLOCK, &taken, &old);
    const pid_t child = fork();
    if (child < 0) {
        perror("vtnwatchdog: fork");
        return 2;
    }
    if (child == 0) {
        sigprocmask(SIG_SETMASK, &old, nullptr);
        execvp(argv[2], argv + 2);
        fprintf(stderr, "vtnwatchdog: cannot run %s: %s\n", argv[2], strerror(errno));
        _exit(127);
    }
    const double deadline = Now() + seconds;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            if (WIFSIGNALED(status)) {
                signal(WTERMSIG(status), SIG_DFL);
                sigprocmask(SIG_SETMASK, &old, nullptr);
                raise(WTERMSIG(status));
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        }
        const double left = deadline - Now();
        if (left <= 0) {
            DumpAndKill(child, seconds);
            waitpid(child, nullptr, 0);
            return 124;
        }
        // The next signal, or a look at least once a second.
        const double wait = left < 1 ? left : 1;
        timespec t{static_cast<time_t>(wait), static_cast<long>((wait - static_cast<time_t>(wait)) * 1e9)};
        const int s = sigtimedwait(&taken, nullptr, &t);
        if (s == SIGTERM || s == SIGINT || s == SIGHUP)
            kill(child, s);
    }
}
