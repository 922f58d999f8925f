#include "platform/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/system_error.h"

extern char** environ;

namespace orvik::platform {

ProgramRun runProgram(const std::vector<std::string>& argv, int timeoutMs) {
    ProgramRun out;
    if (argv.empty() || argv[0].empty() || argv[0][0] != '/') {
        out.output = "not an absolute program path: " + (argv.empty() ? std::string() : argv[0]);
        return out;
    }
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0) {
        out.output = systemErrorText(errno);
        return out;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipefd[1]);
    if (rc != 0) {
        ::close(pipefd[0]);
        out.output = argv[0] + ": " + systemErrorText(rc);
        return out;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool timedOut = false;
    char buf[4096];
    for (;;) {
        if (timeoutMs > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{pipefd[0], POLLIN, 0};
            const int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready == 0) {
                timedOut = true;
                ::kill(pid, SIGKILL);
                break;
            }
        }
        const ssize_t n = ::read(pipefd[0], buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (out.output.size() < 65536)  // keep reading: a full pipe would block the program
            out.output.append(buf, static_cast<std::size_t>(n));
    }
    ::close(pipefd[0]);
    int status = 0;
    if (timeoutMs > 0 && !timedOut) {
        // Its output closed, the program may still be running.
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                timedOut = true;
                ::kill(pid, SIGKILL);
                break;
            }
            ::usleep(10'000);
        }
    }
    if (timedOut || timeoutMs <= 0) {
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    out.status = WIFEXITED(status) && !timedOut ? WEXITSTATUS(status) : -1;
    if (timedOut) {
        out.output = argv[0] + ": timed out after " + std::to_string(timeoutMs) + " ms";
        return out;
    }
    while (!out.output.empty() &&
           (out.output.back() == '\n' || out.output.back() == '\r' || out.output.back() == ' '))
        out.output.pop_back();
    return out;
}

std::string findSystemProgram(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos)
        return {};
    for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
        std::string candidate = std::string(dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

}  // namespace orvik::platform
