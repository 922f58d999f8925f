#include "command_timer.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace orvik::bench {
namespace {

bool dropPageCache() {
    ::sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.close();
    return static_cast<bool>(drop);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int timeCommandMain(int argc, char** argv, int i) {
    bool cold = false;
    if (i < argc && std::strcmp(argv[i], "--cold") == 0)
        cold = true, ++i;
    if (i + 2 > argc)
        return 2;
    const int n = std::atoi(argv[i++]);
    if (n < 1 || std::strcmp(argv[i++], "--") != 0 || i >= argc)
        return 2;
    std::vector<double> ms, cpuMs;
    long maxRss = 0;
    for (int k = 0; k < n; ++k) {
        if (cold && !dropPageCache()) {
            std::fprintf(stderr, "cannot drop the page cache (needs root)\n");
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::execvp(argv[i], argv + i);
            ::_exit(127);
        }
        int status = 0;
        rusage usage{};
        ::wait4(pid, &status, 0, &usage);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        maxRss = std::max(maxRss, usage.ru_maxrss);
        cpuMs.push_back((usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                        (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "command failed\n");
            return 1;
        }
    }
    std::printf("%.3f %ld %.3f\n", median(ms), maxRss, median(cpuMs));
    return 0;
}

}  // namespace orvik::bench
