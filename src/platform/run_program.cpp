#include "platform/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/system_error.h"

extern char** environ;

namespace orvik::platform {

ProgramRun runProgram(const std::vector<std::string>& argv) {
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
    char buf[4096];
    for (ssize_t n; (n = ::read(pipefd[0], buf, sizeof buf)) != 0;) {
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
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
