// vtnsvr: the management server. "-NODAEMON" as the first argument keeps it in the foreground.
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include "commonsvr.h"
#include "paths.h"

// fork, setsid, fork; unless told otherwise changes to "/" and puts 0, 1 and 2 on "/dev/null".
// 0 in the daemon, -1 when a fork or setsid fails; the parents end with status 0.
static int Make_Daemon(int keepDirectory, int keepStdFiles)
{
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid > 0)
        _exit(0);
    if (setsid() < 0)
        return -1;
    pid = fork();
    if (pid < 0)
        return -1;
    if (pid > 0)
        _exit(0);
    // Results not needed below: "/" and "/dev/null" are there, and the daemon runs either way.
    if (!keepDirectory && chdir("/") != 0)
        perror("chdir()");
    if (!keepStdFiles) {
        close(0);
        close(1);
        close(2);
        int fd = open("/dev/null", O_RDWR);   // the lowest free descriptor: 0
        if (fd >= 0) {
            (void)!dup(fd);
            (void)!dup(fd);
        }
    }
    return 0;
}

int main(int argc, char** argv)
{
    // SIGINT and SIGTERM are blocked before any thread exists; one thread takes them with sigwait.
    BlockShutdownSignals();

    // Before the daemon leaves the folder it was started in, and while its stderr is still seen.
    if (!VtnFixRoot("vtnsvr", true))
        return 1;
    if (argc < 2 || strncasecmp(argv[1], "-NODAEMON", 9) != 0) {
        fflush(stdout);
        if (Make_Daemon(0, 0) != 0) {
            printf("Daemon error\n");
            return -1;
        }
    }
    vtnmainthread(nullptr);
    return 0;
}
