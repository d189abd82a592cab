#include "main/child.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The spawn file actions and attributes, released on every path.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    int status = 0;

    explicit SpawnSetup(int out_fd) {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
        add(posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0));
        add(posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO));
        add(posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0));
        // Descriptors inherited by this process without close-on-exec stay here too.
        add(posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1));
        // The companion ignores SIGPIPE; the tool must not inherit that, nor a blocked signal.
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        add(posix_spawnattr_setsigmask(&attr, &none));
        add(posix_spawnattr_setsigdefault(&attr, &all));
        add(posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    void add(int rc) {
        if (status == 0) status = rc;
    }
};

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

std::expected<Child, int> Child::spawn(const std::string& program, std::vector<std::string> args,
                                       std::vector<std::string> env, int out_fd) {
    SpawnSetup setup(out_fd);
    if (setup.status != 0) return std::unexpected(setup.status);
    args.insert(args.begin(), program);
    auto argv = pointers(args);
    auto envp = pointers(env);
    pid_t pid = -1;
    // glibc reports a failed exec here, not through an exit status of 127.
    int rc;
    do rc = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), envp.data());
    while (rc == EINTR);
    if (rc != 0) return std::unexpected(rc);
    return Child(pid);
}

Result<std::optional<int>> Child::poll() {
    int status = 0;
    pid_t rc;
    do rc = ::waitpid(pid_, &status, WNOHANG);
    while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        pid_ = -1;
        return fail("cannot observe CLI process");
    }
    if (rc == 0) return std::optional<int>{};
    pid_ = -1;
    return std::optional<int>{status};
}

void Child::kill_and_reap() {
    if (pid_ < 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

std::vector<std::string> with_variables(std::vector<std::string> base,
                                        const std::vector<std::pair<std::string, std::string>>& pairs) {
    for (const auto& [name, value] : pairs) {
        std::string entry = name + "=" + value;
        auto same_name = [&](const std::string& e) { return e.starts_with(name + "="); };
        auto first = std::find_if(base.begin(), base.end(), same_name);
        if (first == base.end()) {
            base.push_back(std::move(entry));
            continue;
        }
        *first = std::move(entry);
        base.erase(std::remove_if(first + 1, base.end(), same_name), base.end());
    }
    return base;
}
