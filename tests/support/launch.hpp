#pragma once
// Processes started at the same moment, or under an injected fault. Each child
// is forked, applies its fault, then blocks on a start pipe until `release`
// closes it, and only then executes its program.
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/process.hpp"

enum class Stdout { File, Closed, BrokenPipe };

struct Launch {
    std::vector<std::string> args;  // the program first
    std::map<std::string, std::string> env;
    std::optional<std::string> input;  // nullopt: /dev/null
    Stdout out = Stdout::File;
    bool stdin_closed = false, stderr_closed = false;
    std::optional<rlim_t> file_size_limit;  // with SIGXFSZ ignored, so a write fails instead
    bool as_nobody = false;
    std::vector<int> ignored_signals;  // ignored from the start, as a parent such as nohup leaves them
};

class Starter {
  public:
    Starter() {
        if (::pipe2(start_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    }
    ~Starter() {
        release();
        wait_all();
    }
    Starter(const Starter&) = delete;
    Starter& operator=(const Starter&) = delete;

    // Forks a child that waits for `release`; returns its index.
    std::size_t add(const Launch& launch) {
        std::size_t index = children_.size();
        fs::path in = scratch_ / (std::to_string(index) + ".in"), out = scratch_ / (std::to_string(index) + ".out"),
                 err = scratch_ / (std::to_string(index) + ".err");
        if (launch.input) write_file(in, *launch.input);
        std::vector<std::string> env_s;
        for (auto& [k, v] : launch.env) env_s.push_back(k + "=" + v);
        auto argv = pointers(launch.args), envp = pointers(env_s);
        pid_t pid = ::fork();
        if (pid < 0) throw std::runtime_error("fork");
        if (pid == 0) child(launch, argv.data(), envp.data(), launch.input ? in.c_str() : "/dev/null", out.c_str(),
                            err.c_str());
        children_.push_back({pid, out, err, std::nullopt});
        return index;
    }
    // Forks a child that runs `body` (no exec) once released, for swappers and the like.
    void add_loop(const std::function<void()>& body) {
        pid_t pid = ::fork();
        if (pid < 0) throw std::runtime_error("fork");
        if (pid == 0) {
            await_start();
            body();
            ::_exit(0);
        }
        children_.push_back({pid, {}, {}, std::nullopt});
    }
    pid_t pid(std::size_t index) const { return children_[index].pid; }
    void release() {
        if (start_[1] >= 0) ::close(std::exchange(start_[1], -1));
    }
    // Reaps every child, calling `meanwhile` while any still runs.
    std::vector<Outcome> wait_all(const std::function<void()>& meanwhile = {}) {
        release();
        for (bool running = true; running;) {
            running = false;
            for (auto& c : children_) running |= !reap(c, meanwhile ? WNOHANG : 0);
            if (running) meanwhile();
        }
        std::vector<Outcome> outcomes;
        for (auto& c : children_) outcomes.push_back(*c.outcome);
        return outcomes;
    }

  private:
    struct Child {
        pid_t pid;
        fs::path out, err;
        std::optional<Outcome> outcome;
    };

    static std::vector<char*> pointers(const std::vector<std::string>& texts) {
        std::vector<char*> out;
        for (auto& t : texts) out.push_back(const_cast<char*>(t.c_str()));
        out.push_back(nullptr);
        return out;
    }

    void await_start() {
        ::close(start_[1]);
        char c;
        while (::read(start_[0], &c, 1) < 0 && errno == EINTR) {
        }
    }

    // Only async-signal-safe calls between fork and exec.
    [[noreturn]] void child(const Launch& l, char** argv, char** envp, const char* in, const char* out,
                            const char* err) {
        int e = ::open(err, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), i = ::open(in, O_RDONLY | O_CLOEXEC);
        ::dup2(e, 2);
        ::dup2(i, 0);
        if (l.out == Stdout::File) {
            ::dup2(::open(out, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), 1);
        } else if (l.out == Stdout::Closed) {
            ::close(1);
        } else {
            int p[2];
            if (::pipe(p) != 0) ::_exit(126);
            ::close(p[0]);
            ::dup2(p[1], 1);
            if (p[1] != 1) ::close(p[1]);
        }
        if (l.stdin_closed) ::close(0);
        if (l.stderr_closed) ::close(2);
        if (l.file_size_limit) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            ::sigaction(SIGXFSZ, &ignore, nullptr);
            rlimit limit{*l.file_size_limit, *l.file_size_limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        for (int signal : l.ignored_signals) ::signal(signal, SIG_IGN);
        if (l.as_nobody && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
        await_start();
        ::execve(argv[0], argv, envp);
        ::_exit(127);
    }

    bool reap(Child& c, int flags) {
        if (c.outcome) return true;
        int status = 0;
        pid_t rc;
        while ((rc = ::waitpid(c.pid, &status, flags)) < 0 && errno == EINTR) {
        }
        if (rc == 0) return false;
        Outcome o;
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (!c.out.empty()) o.out = read_file(c.out);
        if (!c.err.empty()) o.err = read_file(c.err);
        c.outcome = o;
        return true;
    }

    int start_[2] = {-1, -1};
    TempDir scratch_dir_;
    fs::path scratch_ = scratch_dir_.path();
    std::vector<Child> children_;
};

// tarn-agent with these arguments in the home's environment.
inline Launch agent(const AgentHome& h, std::vector<std::string> args, std::optional<std::string> input = {}) {
    args.insert(args.begin(), TARN_AGENT_BIN);
    Launch l;
    l.args = std::move(args);
    l.env = h.env;
    l.input = std::move(input);
    return l;
}
