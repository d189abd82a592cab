// The entry: usage, dispatch order, and the one-line failure contract.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/process.hpp"

namespace {

const std::string usage =
    "tarn-agent: /tl companion\n"
    "search QUERY | inspect REF | context REF | prepare < candidate.json | share DIGEST | mode manual|hook | hook | mcp\n"
    "install [--hosts codex,claude,pi|none] [--home PATH]\n"
    "Default config: ~/.config/tarn-agent/config.json; override with TARN_AGENT_CONFIG. Hooks are opt-in; hook never "
    "reads stdin/transcripts.\n";

void expect_failure(const Outcome& r, const std::string& message) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tarn-agent: " + message + "\n");
}

TEST(Dispatch, UsageNeedsNoConfiguration) {
    TempDir empty;
    std::map<std::string, std::string> env{{"HOME", empty.path().string()}};
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"help"}, {"--help"}, {"help", "x", "y"}}) {
        auto r = run_program(TARN_AGENT_BIN, args, env);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, usage);
        EXPECT_EQ(r.out.size(), 331u);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(list_dir(empty.path()), std::vector<std::string>{});
    auto r = run_program(TARN_AGENT_BIN, {}, {});
    EXPECT_EQ(r.status, 0) << "usage works without HOME";
}

TEST(Dispatch, ConfigurationIsCheckedBeforeTheWord) {
    TempDir empty;
    std::map<std::string, std::string> env{{"HOME", empty.path().string()}};
    for (std::string word : {"-h", "unknown", "search", "share", "mode", "hook", "mcp", "prepare"})
        expect_failure(run_program(TARN_AGENT_BIN, {word}, env), "local file unavailable");
}

TEST(Dispatch, WordsAndMissingOperands) {
    AgentHome h;
    expect_failure(h.run({"-h"}), "unknown command; use help");
    expect_failure(h.run({"Search", "x"}), "unknown command; use help");
    expect_failure(h.run({"search"}), "query/ref required");
    expect_failure(h.run({"inspect"}), "query/ref required");
    expect_failure(h.run({"context"}), "query/ref required");
    expect_failure(h.run({"share"}), "digest required");
    expect_failure(h.run({"mode"}), "mode manual|hook required");
}

TEST(Dispatch, PrepareInputBounds) {
    AgentHome h;
    expect_failure(h.run({"prepare"}, std::string()), "invalid JSON");
    expect_failure(h.run({"prepare"}), "invalid JSON");
    expect_failure(h.run({"prepare"}, std::string(65537, ' ')), "candidate exceeds 64KiB");
    expect_failure(h.run({"prepare"}, "{} {}"), "invalid JSON");
    // Exactly 64 KiB of valid JSON gets past the reader to validation.
    auto r = h.run({"prepare"}, "[" + std::string(65534, ' ') + "]");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err, "tarn-agent: candidate exceeds 64KiB\n");
    EXPECT_NE(r.err, "tarn-agent: invalid JSON\n");
}

TEST(Dispatch, ClosedStdoutIsAnErrorNotASilentDeath) {
    AgentHome h;
    // A reader that has gone away: the printing command must still fail with one message.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        int err = open((h.home / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, 2);
        setenv("HOME", h.home.c_str(), 1);
        execl(TARN_AGENT_BIN, TARN_AGENT_BIN, "help", nullptr);
        _exit(127);
    }
    close(fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(read_file(h.home / "err"), "tarn-agent: stdout unavailable\n");
}

}  // namespace
