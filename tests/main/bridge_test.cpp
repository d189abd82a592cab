#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "main/app.hpp"
#include "main/child.hpp"
#include "support/fake_tarn.hpp"

namespace {

constexpr const char* failed = "registry operation failed; check credentials, recipe validity and connectivity";
constexpr const char* bound = "registry call exceeded output/time bound; inspect before retrying writes";

// Sets environment variables of this process for one test and restores them.
class ScopedEnv {
  public:
    void set(const std::string& name, const std::string& value) {
        remember(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string& name) {
        remember(name);
        ::unsetenv(name.c_str());
    }
    ~ScopedEnv() {
        for (auto& [name, value] : saved_)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }

  private:
    void remember(const std::string& name) {
        const char* v = std::getenv(name.c_str());
        saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class Bridge : public ::testing::Test {
  protected:
    TempDir dir;
    FakeTarnLog log;
    ScopedEnv env;
    App app;

    void SetUp() override {
        fs::create_directory(dir / "queue");
        fs::permissions(dir / "queue", fs::perms::owner_all);
        app.config = {"manual", "https://registry.example/", fake_tarn_path(), {"orchid"}, {"docs.rs"}};
        app.config_path = dir / "config.json";
        app.queue = dir / "queue";
        env.set("FAKE_TARN_LOG", log.dir.path());
        env.unset("FAKE_TARN_MODE");
        env.unset("FAKE_TARN_OUTPUT");
        env.unset("TARN_TOKEN");
    }
    Result<Json> run(const std::string& mode) {
        env.set("FAKE_TARN_MODE", mode);
        return app.cli("search", "query");
    }
    void expect_no_response_file() const {
        for (auto& name : list_dir(app.queue)) EXPECT_FALSE(name.starts_with("call-")) << name;
    }
};

TEST_F(Bridge, ReturnsTheToolsValueAndStartsItWithExactlyTheGivenArguments) {
    env.set("FAKE_TARN_OUTPUT", R"({"z":[1,2.5,"x"],"a":null})");
    auto v = app.cli("search", "retry with backoff");
    ASSERT_TRUE(v) << v.error();
    EXPECT_EQ(compact(*v), R"({"a":null,"z":[1,2.5,"x"]})");
    EXPECT_EQ(log.record("argv"), fake_tarn_path() + "\nsearch\nretry with backoff\n--json\n--timeout\n10s\n");
    EXPECT_EQ(log.record("stdin"), "0");
    EXPECT_EQ(log.record("stdout_mode"), "600\n");
    expect_no_response_file();
}

TEST_F(Bridge, ResponseFileIsNamedByPidAndWallClockNanoseconds) {
    auto ns = [] {
        timespec t{};
        clock_gettime(CLOCK_REALTIME, &t);
        return std::to_string(t.tv_sec) + std::to_string(1'000'000'000 + t.tv_nsec).substr(1);
    };
    std::string before = ns();
    ASSERT_TRUE(app.cli("inspect", "ref"));
    std::string after = ns();
    std::smatch m;
    std::string path = log.record("stdout_path");
    std::regex shape((app.queue / ("call-" + std::to_string(getpid()) + "-([0-9]+)\n")).string());
    ASSERT_TRUE(std::regex_match(path, m, shape)) << path;
    EXPECT_EQ(m[1].str().size(), before.size());
    EXPECT_GE(m[1].str(), before);
    EXPECT_LE(m[1].str(), after);
}

TEST_F(Bridge, ToolGetsOnlyStandardStreamsDefaultSignalsAndNoBlockedOnes) {
    // A descriptor leaked into this process without close-on-exec must not reach the tool either.
    int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    sigprocmask(SIG_BLOCK, &block, &old);
    auto old_pipe = std::signal(SIGPIPE, SIG_IGN);
    auto v = app.cli("search", "q");
    std::signal(SIGPIPE, old_pipe);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    ::close(leaked);
    ASSERT_TRUE(v) << v.error();
    // "3" is the directory that ls itself opens to list its descriptors.
    EXPECT_EQ(log.record("fds"), "0 1 2 3 ");
    // glibc's spawn leaves its two internal real-time signals (32, 33) ignored; all others are default.
    std::smatch m;
    std::string signals = log.record("signals");
    ASSERT_TRUE(std::regex_match(signals, m, std::regex("SigBlk:\t([0-9a-f]{16})\nSigIgn:\t([0-9a-f]{16})\n")))
        << signals;
    EXPECT_EQ(m[1].str(), "0000000000000000");
    EXPECT_EQ(std::stoull(m[2].str(), nullptr, 16) & ~0x180000000ull, 0u) << m[2].str();
}

TEST_F(Bridge, ToolSeesTheRegistryOriginAndTokenWhateverTheOwnEnvironmentSays) {
    env.set("TARN_URL", "https://ambient.example/");
    env.set("TARN_TOKEN", "ambient-token");
    app.credentials = {{"TARN_TOKEN", "file-token"}, {"TARN_URL", "https://override.example/"}};
    app.config.registry = "https://override.example/";
    ASSERT_TRUE(app.cli("context", "r"));
    EXPECT_EQ(log.record("env"), "TARN_URL=https://override.example/\nTARN_TOKEN=file-token\n");

    env.unset("TARN_TOKEN");
    app.credentials = {{"TARN_URL", ""}};
    app.config.registry = "http://127.0.0.1:8080";
    ASSERT_TRUE(app.cli("context", "r"));
    EXPECT_EQ(log.record("env"), "TARN_URL=http://127.0.0.1:8080\nTARN_TOKEN=<unset>\n");
}

TEST(BridgeEnvironment, LaterPairsReplaceEarlierEntriesWithoutDuplicates) {
    std::vector<std::string> own{"A=1", "TARN_URL=x", "TARN_URLX=keep", "B=2", "TARN_URL=y"};
    EXPECT_EQ(with_variables(own, {{"TARN_TOKEN", "t"}, {"TARN_URL", "z"}}),
              (std::vector<std::string>{"A=1", "TARN_URL=z", "TARN_URLX=keep", "B=2", "TARN_TOKEN=t"}));
}

TEST_F(Bridge, EachOutcomeOfTheToolHasItsMessageAndLeavesNoResponseFile) {
    struct Case {
        const char* mode;
        const char* message;
    } cases[] = {{"fail", failed},          {"killed", failed},
                 {"empty", "invalid JSON"}, {"two", "invalid JSON"},
                 {"stderr", "invalid JSON"}, {"big", bound},
                 {"vanish", "response unavailable"}, {"zero", "registry response too large"}};
    for (auto& c : cases) {
        auto v = run(c.mode);
        ASSERT_FALSE(v) << c.mode;
        EXPECT_EQ(v.error(), c.message) << c.mode;
        expect_no_response_file();
    }
    EXPECT_EQ(log.calls(), std::size(cases));
}

TEST_F(Bridge, ToolThatCannotBeStartedLeavesNothingBehind) {
    write_file(dir / "not-executable", "#!/bin/sh\necho '{}'\n", fs::perms(0600));
    for (std::string bin : {(dir / "missing").string(), (dir / "not-executable").string(), dir.path().string()}) {
        app.config.tarn_bin = bin;
        auto v = app.cli("search", "q");
        ASSERT_FALSE(v);
        EXPECT_EQ(v.error(), "could not start trusted tarn CLI") << bin;
        EXPECT_TRUE(list_dir(app.queue).empty());
    }
}

TEST_F(Bridge, MissingQueueFailsBeforeAnythingStarts) {
    app.queue = dir / "absent";
    auto v = app.cli("search", "q");
    ASSERT_FALSE(v);
    EXPECT_EQ(v.error(), "cannot exclusively create private artifact");
    EXPECT_EQ(log.calls(), 0u);
}

TEST_F(Bridge, UnobservableChildIsReportedAndNotSignalled) {
    // With SIGCHLD ignored the kernel reaps the child itself, so waiting for it fails.
    auto old = std::signal(SIGCHLD, SIG_IGN);
    auto v = app.cli("search", "q");
    std::signal(SIGCHLD, old);
    ASSERT_FALSE(v);
    EXPECT_EQ(v.error(), "cannot observe CLI process");
    expect_no_response_file();
}

TEST_F(Bridge, ResponseBufferThatCannotBeReopenedForWriting) {
    // Without write permission for its owner the new file cannot be reopened;
    // root would override that, so the call runs as an ordinary user.
    ASSERT_EQ(::chown(app.queue.c_str(), 65534, 65534), 0);
    fs::permissions(dir.path(), fs::perms(0711));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        umask(0277);
        auto v = app.cli("search", "q");
        _exit(!v && v.error() == "cannot open response buffer" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    expect_no_response_file();
    EXPECT_EQ(log.calls(), 0u);
}

TEST_F(Bridge, SlowToolRunningPastTheTimeBoundIsKilled) {
    SKIP_IF_SLOW_SKIPPED();
    auto start = std::chrono::steady_clock::now();
    auto v = run("sleep");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_FALSE(v);
    EXPECT_EQ(v.error(), bound);
    EXPECT_GT(seconds, 15.0);
    EXPECT_LT(seconds, 16.5);
    expect_no_response_file();
    int status;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);  // no child left, not even a zombie
}

}  // namespace
