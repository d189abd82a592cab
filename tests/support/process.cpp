#include "support/process.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "main/json.hpp"

Outcome run_program(const std::string& program, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env, const std::optional<std::string>& input) {
    // A child that exits before reading all of its input must not kill the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input)
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> argv_s{program};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_s;
    for (auto& [k, v] : env) env_s.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : env_s) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (rc != 0) throw std::runtime_error("spawn " + program + ": " + std::strerror(rc));

    Outcome result;
    std::string pending = input.value_or("");
    std::size_t sent = 0;
    int in_fd = in[1];
    if (!input || pending.empty()) {
        close(in_fd);
        in_fd = -1;
    } else {
        fcntl(in_fd, F_SETFL, O_NONBLOCK);
    }
    bool out_open = true, err_open = true;
    char buf[65536];
    while (out_open || err_open) {
        pollfd fds[3] = {{out_open ? out[0] : -1, POLLIN, 0}, {err_open ? err[0] : -1, POLLIN, 0}, {in_fd, POLLOUT, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                (i == 0 ? out_open : err_open) = false;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
        }
        if (in_fd >= 0 && fds[2].revents) {
            ssize_t n = write(in_fd, pending.data() + sent, pending.size() - sent);
            if (n > 0) sent += static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN) sent = pending.size();
            if (sent == pending.size()) {
                close(in_fd);
                in_fd = -1;
            }
        }
    }
    if (in_fd >= 0) close(in_fd);
    close(out[0]);
    close(err[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tarn-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only directories behind; open them up before removing.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void write_file(const fs::path& path, const std::string& bytes, fs::perms mode) {
    fs::create_directories(path.parent_path());
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f << bytes;
    }
    fs::permissions(path, mode);
}

std::string read_file(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

unsigned file_mode(const fs::path& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return 0xFFFF;
    return st.st_mode & 07777;
}

std::vector<std::string> list_dir(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string config_json(const std::string& overrides) {
    Json doc = {{"mode", "manual"},
                {"registry", "https://registry.example/"},
                {"tarn_bin", "/usr/bin/false"},
                {"private_terms", {"orchid"}},
                {"documentation_hosts",
                 {"go.dev", "pkg.go.dev", "doc.rust-lang.org", "docs.rs", "www.postgresql.org", "docs.python.org"}}};
    doc.update(Json::parse(overrides));
    return pretty(doc);
}

AgentHome::AgentHome() {
    fs::create_directories(config_dir);
    fs::permissions(config_dir, fs::perms::owner_all);
    configure();
    env = {{"HOME", home.string()}, {"PATH", "/usr/bin:/bin"}};
}

void AgentHome::configure(const std::string& overrides) {
    fs::remove(config);
    write_file(config, config_json(overrides));
}

Outcome AgentHome::run(const std::vector<std::string>& args, const std::optional<std::string>& input) const {
    return run_program(TARN_AGENT_BIN, args, env, input);
}
