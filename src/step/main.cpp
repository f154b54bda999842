// SPDX-License-Identifier: GPL-3.0-or-later
// moltra-step USAGE-FILE PROGRAM [ARGUMENT...]
//
// Runs one step of a job as the job script would run it directly, and writes into USAGE-FILE
// the peak resident memory in KiB of the largest process the step reaped, which only wait4
// tells. It ends as the program ended: with its exit status, or by the same signal.
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s USAGE-FILE PROGRAM [ARGUMENT...]\n", argv[0]);
        return 125;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::perror("moltra-step: fork");
        return 126;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(errno == ENOENT ? 127 : 126);
    }
    // A stop reaches the whole group: the step ends by it, and this waits to tell of it.
    for (const int sig : { SIGTERM, SIGINT, SIGHUP })
        std::signal(sig, SIG_IGN);
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return 126;
    }
    if (FILE *file = std::fopen(argv[1], "w")) {
        std::fprintf(file, "%ld\n", usage.ru_maxrss);
        std::fclose(file);
    }
    if (WIFSIGNALED(status)) {
        // The same death, without a core file of this wrapper.
        const rlimit none{ 0, 0 };
        setrlimit(RLIMIT_CORE, &none);
        std::signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 126;
}
