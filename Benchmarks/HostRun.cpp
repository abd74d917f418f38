#include "HostRun.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brindle::benchmarks {

std::string frame(std::string_view body) {
    const auto length = static_cast<uint32_t>(body.size());
    std::string framed(4, '\0');
    for (int i = 0; i < 4; ++i)
        framed[i] = static_cast<char>((length >> (8 * i)) & 0xff);
    framed += body;
    return framed;
}

HostRun runHostOnce(std::string_view input) {
    HostRun run;
    int toHost[2];
    int fromHost[2];
    if (pipe2(toHost, O_CLOEXEC) != 0)
        return run;
    if (pipe2(fromHost, O_CLOEXEC) != 0) {
        close(toHost[0]);
        close(toHost[1]);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toHost[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromHost[1], 1);
    char* argv[] = {const_cast<char*>(BRINDLE_HOST_PATH), nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, BRINDLE_HOST_PATH, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toHost[0]);
    close(fromHost[1]);
    if (error != 0) {
        close(toHost[1]);
        close(fromHost[0]);
        return run;
    }

    // Requests here are small enough to fit the pipe, so writing all before reading is safe.
    [[maybe_unused]] const ssize_t sent = write(toHost[1], input.data(), input.size());
    close(toHost[1]);
    char buffer[65536];
    ssize_t count = 0;
    while ((count = read(fromHost[0], buffer, sizeof buffer)) > 0)
        run.output.append(buffer, static_cast<size_t>(count));
    close(fromHost[0]);

    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.peakResidentKiB = usage.ru_maxrss;
    run.exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

} // namespace brindle::benchmarks
