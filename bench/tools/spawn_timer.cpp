// Starts one command many times and prints the median wall time from spawn to
// exit and the median peak resident memory (wait4's ru_maxrss).
//
//   bench_spawn_timer [--runs N] [--first K] [--raw] [--stdin FILE | --stdin-dir DIR] -- COMMAND [ARG...]
// With --stdin-dir, run i reads DIR/(K+i) (runs that must not repeat their
// input, such as preparing a new candidate each time). --raw prints every run
// ("ms MB" per line) so that a script can interleave commands and take medians.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

[[noreturn]] void die(const std::string& message) {
    std::fprintf(stderr, "bench_spawn_timer: %s\n", message.c_str());
    std::exit(1);
}

template <class T>
T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 51, first = 0;
    bool raw = false;
    std::string stdin_file, stdin_dir;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; i += 2) {
        std::string option = argv[i];
        if (option == "--raw") {
            raw = true;
            --i;
            continue;
        }
        if (i + 1 >= argc) die("option without value");
        if (option == "--runs") runs = std::atoi(argv[i + 1]);
        else if (option == "--first") first = std::atoi(argv[i + 1]);
        else if (option == "--stdin") stdin_file = argv[i + 1];
        else if (option == "--stdin-dir") stdin_dir = argv[i + 1];
        else die("unknown option " + option);
    }
    if (i + 1 >= argc || runs < 1) die("usage: bench_spawn_timer [--runs N] [--stdin FILE|--stdin-dir DIR] -- CMD...");
    char** command = argv + i + 1;

    std::vector<double> times;
    std::vector<long> rss;
    for (int run = 0; run < runs; ++run) {
        std::string input = !stdin_dir.empty() ? stdin_dir + "/" + std::to_string(first + run)
                            : !stdin_file.empty() ? stdin_file
                                                  : "/dev/null";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        auto start = std::chrono::steady_clock::now();
        pid_t pid;
        if (posix_spawn(&pid, command[0], &actions, nullptr, command, environ) != 0) die("cannot start command");
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) < 0) die("wait4 failed");
        auto elapsed = std::chrono::steady_clock::now() - start;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die(std::string("command failed: ") + command[0]);
        times.push_back(std::chrono::duration<double, std::milli>(elapsed).count());
        rss.push_back(usage.ru_maxrss);
        if (raw) std::printf("%.3f %.1f\n", times.back(), usage.ru_maxrss / 1024.0);
    }
    if (!raw) std::printf("%.2f %.1f\n", median(times), median(rss) / 1024.0);
}
