// Drives one stdio MCP server command the way a host does and measures it:
// time from spawn to the initialize response, the request rate over one
// session (ping and tools/list alternating, one request in flight), and the
// server's peak resident memory. Repeats the whole run and prints medians.
// With --search QUERY every request is a tools/call of the search tool
// instead, each running the server's registry tool once.
//
// Client and server are pinned to one CPU (the server inherits the mask), so
// the rate measures the work per request rather than cross-core wake-up
// latency, which varies tenfold from run to run on a busy two-core machine.
//
//   bench_mcp_client [--runs N] [--requests N] [--label TEXT] [--search QUERY] [--no-pin] -- COMMAND [ARG...]
#include <algorithm>
#include <sched.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const std::string& message) {
    std::fprintf(stderr, "bench_mcp_client: %s\n", message.c_str());
    std::exit(1);
}

struct Sample {
    double initialize_ms;
    double requests_per_second;
    long peak_rss_kib;
};

class Server {
  public:
    explicit Server(const std::vector<std::string>& command) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC)) die("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<char*> argv;
        for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        started_ = Clock::now();
        int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        if (rc != 0) die("cannot start " + command[0] + ": " + std::strerror(rc));
        to_ = in[1];
        from_ = out[0];
    }

    Clock::time_point started() const { return started_; }

    void send(std::string_view line) {
        while (!line.empty()) {
            ssize_t n = ::write(to_, line.data(), line.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) die("server closed its input");
            line.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    // One response line, without its line feed.
    std::string receive() {
        for (;;) {
            auto lf = pending_.find('\n');
            if (lf != std::string::npos) {
                std::string line = pending_.substr(0, lf);
                pending_.erase(0, lf + 1);
                return line;
            }
            char chunk[65536];
            ssize_t n = ::read(from_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) die("server ended before answering");
            pending_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Closes its input (the way hosts stop a server) and returns its peak RSS in KiB.
    long finish() {
        ::close(to_);
        int status = 0;
        rusage usage{};
        while (wait4(pid_, &status, 0, &usage) < 0)
            if (errno != EINTR) die("wait4 failed");
        ::close(from_);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die("server did not exit cleanly");
        return usage.ru_maxrss;
    }

  private:
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
    Clock::time_point started_;
    std::string pending_;
};

std::string request(long id, std::string_view method, std::string_view params = "") {
    std::string line = "{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(id) + ",\"method\":\"" + std::string(method) + "\"";
    if (!params.empty()) line += ",\"params\":" + std::string(params);
    return line + "}\n";
}

void expect_result(const std::string& line, long id) {
    std::string head = "\"id\":" + std::to_string(id);
    if (line.find("\"result\"") == std::string::npos || line.find(head) == std::string::npos ||
        line.find("\"isError\":true") != std::string::npos)
        die("unexpected response to request " + std::to_string(id) + ": " + line.substr(0, 200));
}

Sample run_once(const std::vector<std::string>& command, long requests, const std::string& search) {
    Server server(command);
    server.send(request(0, "initialize",
                        R"({"protocolVersion":"2025-11-25","capabilities":{},"clientInfo":{"name":"bench","version":"1"}})"));
    expect_result(server.receive(), 0);
    double initialize_ms = std::chrono::duration<double, std::milli>(Clock::now() - server.started()).count();
    server.send("{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n");

    std::vector<std::string> lines;
    std::string call = R"({"name":"search","arguments":{"query":")" + search + "\"}}";
    for (long i = 1; i <= requests; ++i)
        lines.push_back(search.empty() ? request(i, i % 2 ? "ping" : "tools/list") : request(i, "tools/call", call));
    auto begin = Clock::now();
    for (long i = 1; i <= requests; ++i) {
        server.send(lines[static_cast<std::size_t>(i - 1)]);
        expect_result(server.receive(), i);
    }
    double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return {initialize_ms, static_cast<double>(requests) / seconds, server.finish()};
}

void pin_to_current_cpu() {
    int cpu = sched_getcpu();
    if (cpu < 0) die("sched_getcpu failed");
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) die("sched_setaffinity failed");
}

template <class T>
T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    long runs = 11, requests = 10000;
    std::string label = "server", search;
    bool pin = true;
    int i = 1;
    for (; i < argc && std::string_view(argv[i]) != "--"; ++i) {
        std::string_view option = argv[i];
        if (option == "--no-pin") {
            pin = false;
            continue;
        }
        if (i + 1 >= argc) die("option " + std::string(option) + " needs a value");
        if (option == "--runs") runs = std::atol(argv[++i]);
        else if (option == "--requests") requests = std::atol(argv[++i]);
        else if (option == "--label") label = argv[++i];
        else if (option == "--search") search = argv[++i];
        else die("unknown option " + std::string(option));
    }
    if (i + 1 >= argc || runs < 1 || requests < 1) die("usage: bench_mcp_client [--runs N] [--requests N] [--label TEXT] [--search QUERY] [--no-pin] -- "
                                            "COMMAND [ARG...]");
    if (pin) pin_to_current_cpu();
    std::vector<std::string> command(argv + i + 1, argv + argc);

    std::vector<double> initialize_ms, rates;
    std::vector<long> rss;
    for (long r = 0; r < runs; ++r) {
        Sample s = run_once(command, requests, search);
        initialize_ms.push_back(s.initialize_ms);
        rates.push_back(s.requests_per_second);
        rss.push_back(s.peak_rss_kib);
    }
    std::printf("%-12s %10.2f %12.0f %10.1f\n", label.c_str(), median(initialize_ms), median(rates),
                static_cast<double>(median(rss)) / 1024.0);
    return 0;
}
