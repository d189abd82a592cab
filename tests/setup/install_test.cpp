// `tarn-agent install` run as a process from a release directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "setup/defaults.hpp"
#include "support/process.hpp"

namespace {

const std::string tool_v1 = "#!/bin/sh\necho '{}'\n";

struct Install : ::testing::Test {
    TempDir t;
    fs::path base = fs::canonical(t.path());
    fs::path release = base / "release";
    fs::path home = base / "ana";
    fs::path bin = home / ".local/bin";
    fs::path config_dir = home / ".config/tarn-agent";
    std::map<std::string, std::string> env{{"HOME", home.string()}, {"PATH", "/usr/bin:/bin"}};

    void SetUp() override {
        fs::create_directories(release);
        fs::copy_file(TARN_AGENT_BIN, release / "tarn-agent");
        write_file(release / "tarn", tool_v1, fs::perms(0755));
        fs::create_directory(home);
    }
    Outcome run(std::vector<std::string> args, const std::optional<std::string>& input = {}) const {
        args.insert(args.begin(), "install");
        return run_program((release / "tarn-agent").string(), args, env, input);
    }
    std::string summary(const fs::path& h, const std::string& hosts) const {
        fs::path b = h / ".local/bin";
        return "Installed Tarn client in " + b.string() + ". Selected hosts: " + hosts +
               ". Restart those hosts.\nCredentials: " + (h / ".config/tarn-agent/production.env").string() +
               " (existing values preserved). Search works without a token.\n"
               "Create a Read and contribute token at https://larder.tarn.dev/ui/account when ready to share.\n"
               "Add project identifiers to private_terms before preparing contributions. Automatic sharing "
               "remains opt-in.\nEnsure " +
               b.string() + " is on PATH.\n";
    }
};

void expect_failure(const Outcome& r, const std::string& message) {
    EXPECT_EQ(r.err, "tarn-agent: " + message + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
}

// Every file below `dir` with its permission bits, and its bytes for files.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (auto& e : fs::recursive_directory_iterator(dir)) {
        std::string mode = std::to_string(file_mode(e.path()));
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        files[e.path().string()] = mode + " " + std::to_string(st.st_ino) +
                                   (e.is_regular_file() ? " " + read_file(e.path()) : "");
    }
    return files;
}

TEST_F(Install, RefusesBadOptionsBeforeTouchingAnything) {
    expect_failure(run({"--home"}), "install requires --hosts codex,claude,pi|none [--home PATH]");
    expect_failure(run({"stray"}), "install requires --hosts codex,claude,pi|none [--home PATH]");
    expect_failure(run({"--force", "yes"}), "unknown install option");
    expect_failure(run({"--home", "relative/ana"}), "install home must be an absolute path without parent traversal");
    expect_failure(run({"--home", (home / "../bob").string()}),
                   "install home must be an absolute path without parent traversal");
    expect_failure(run({"--hosts", "none", "--home", ""}),
                   "install home must be an absolute path without parent traversal");
    for (auto bad : {"", "none,codex", "none,none", "codex, claude", "codex,", "Codex"})
        expect_failure(run({"--hosts", bad}), "select codex,claude,pi or none");
    env = {{"PATH", "/usr/bin:/bin"}};
    expect_failure(run({"--home", home.string()}), "home directory unavailable");
    env["TARN_AGENT_HOME"] = "";
    expect_failure(run({"--home", home.string()}), "home must be absolute");
    EXPECT_TRUE(list_dir(home).empty());
}

TEST_F(Install, AsksForHostsOnStandardError) {
    fs::create_directory(home / ".codex");
    auto r = run({}, "  pi \nignored\n");
    EXPECT_EQ(r.err, "Detected host settings: codex=true, claude=false, pi=false\n"
                     "Choose hosts (codex,claude,pi), or none:\n");
    EXPECT_EQ(r.out, summary(home, "pi"));
    EXPECT_TRUE(fs::exists(home / ".pi/agent/extensions/tarn.ts"));
    auto eof = run({});
    EXPECT_EQ(eof.err, r.err.substr(0, r.err.find("codex=")) + "codex=true, claude=false, pi=true\n"
                       "Choose hosts (codex,claude,pi), or none:\ntarn-agent: select codex,claude,pi or none\n");
    auto closed = run_program("/bin/sh", {"-c", "exec \"$0\" install <&-", (release / "tarn-agent").string()}, env);
    EXPECT_TRUE(closed.err.ends_with("tarn-agent: host selection unavailable\n")) << closed.err;
}

TEST_F(Install, FreshHomeWithoutHosts) {
    auto r = run({"--hosts", "none"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, summary(home, "none"));
    EXPECT_EQ(read_file(config_dir / "config.json"),
              "{\n  \"documentation_hosts\": [\n    \"go.dev\",\n    \"pkg.go.dev\",\n    \"doc.rust-lang.org\",\n"
              "    \"docs.rs\",\n    \"www.postgresql.org\",\n    \"docs.python.org\"\n  ],\n  \"mode\": \"manual\",\n"
              "  \"private_terms\": [\n    \"ana\"\n  ],\n  \"registry\": \"https://larder.tarn.dev\",\n"
              "  \"tarn_bin\": \"" + (bin / "tarn").string() + "\"\n}");
    EXPECT_EQ(read_file(config_dir / "production.env"), "TARN_URL=https://larder.tarn.dev\nTARN_TOKEN=\n");
    EXPECT_EQ(read_file(config_dir / "installed.json"), "{\n  \"installer\": \"tarn-agent\",\n  \"version\": \"0.1.0\"\n}");
    EXPECT_EQ(read_file(bin / "tarn"), tool_v1);
    EXPECT_EQ(read_file(bin / "tarn-agent"), read_file(TARN_AGENT_BIN));
    EXPECT_EQ(list_dir(home), (std::vector<std::string>{".config", ".local"}));
    EXPECT_EQ(list_dir(config_dir), (std::vector<std::string>{"config.json", "installed.json", "production.env"}));
    for (auto f : {"config.json", "installed.json", "production.env"}) EXPECT_EQ(file_mode(config_dir / f), 0600u);
    EXPECT_EQ(file_mode(bin / "tarn"), 0700u);
    EXPECT_EQ(file_mode(bin / "tarn-agent"), 0700u);
    EXPECT_EQ(file_mode(bin), 0700u);
    EXPECT_EQ(list_dir(bin), (std::vector<std::string>{"tarn", "tarn-agent"}));
    // The installed program accepts the configuration that was installed.
    auto built = run_program((bin / "tarn-agent").string(), {"mode", "manual"}, env);
    EXPECT_EQ(built.err.find("configuration"), std::string::npos) << built.err;
}

TEST_F(Install, SecondRunChangesNothing) {
    ASSERT_EQ(run({"--hosts", "codex,claude,pi"}).status, 0);
    EXPECT_FALSE(fs::exists(config_dir / "backups"));
    auto before = snapshot(home);
    auto again = run({"--hosts", "claude,claude,codex,pi"});
    EXPECT_EQ(again.out, summary(home, "claude,claude,codex,pi"));
    EXPECT_EQ(snapshot(home), before);
    for (auto f : {".agents/skills/tl/SKILL.md", ".claude/skills/tl/SKILL.md", ".pi/agent/skills/tl/SKILL.md",
                   ".codex/config.toml", ".claude.json", ".pi/agent/extensions/tarn.ts"})
        EXPECT_EQ(file_mode(home / f), 0600u) << f;
    EXPECT_EQ(file_mode(home / ".pi"), 0700u);
}

TEST_F(Install, HomeBelowASymbolicLinkIsResolved) {
    fs::create_directory_symlink(base, base / "link");
    auto r = run({"--hosts", "codex", "--home", (base / "link/./new/project/").string()});
    fs::path resolved = base / "new/project";
    EXPECT_EQ(r.out, summary(resolved, "codex"));
    EXPECT_NE(read_file(resolved / ".config/tarn-agent/config.json").find("\"project\"\n  ],"), std::string::npos);
    EXPECT_NE(read_file(resolved / ".codex/config.toml").find("command = \"" + (resolved / ".local/bin/tarn-agent").string()),
              std::string::npos);
    EXPECT_EQ(file_mode(base / "new"), 0700u);
}

TEST_F(Install, UpgradeReplacesOwnFilesWithBackups) {
    ASSERT_EQ(run({"--hosts", "none"}).status, 0);
    write_file(config_dir / "config.json", "{\"mine\": true}");
    write_file(release / "tarn", "#!/bin/sh\necho v2\n", fs::perms(0755));
    auto r = run({"--hosts", "none"});
    EXPECT_EQ(r.out, summary(home, "none"));
    EXPECT_EQ(read_file(bin / "tarn"), "#!/bin/sh\necho v2\n");
    EXPECT_EQ(file_mode(bin / "tarn"), 0700u);
    EXPECT_EQ(read_file(config_dir / "config.json"), "{\"mine\": true}");
    auto runs = list_dir(config_dir / "backups");
    ASSERT_EQ(runs.size(), 1u);
    fs::path run_dir = config_dir / "backups" / runs[0];
    EXPECT_EQ(list_dir(run_dir), std::vector<std::string>{"0"});  // the plan's only change
    EXPECT_EQ(read_file(run_dir / "0"), tool_v1);
    EXPECT_EQ(file_mode(run_dir / "0"), 0600u);
    EXPECT_EQ(file_mode(run_dir), 0700u);
}

TEST_F(Install, ForeignExecutablesConflictWithoutOurManifest) {
    ASSERT_EQ(run({"--hosts", "none"}).status, 0);
    write_file(release / "tarn", "#!/bin/sh\necho v2\n", fs::perms(0755));
    fs::remove(config_dir / "installed.json");
    auto before = snapshot(home);
    expect_failure(run({"--hosts", "none"}), "existing file conflicts; left unchanged: " + (bin / "tarn").string());
    write_file(config_dir / "installed.json", "{\"installer\": \"other\"}");
    expect_failure(run({"--hosts", "none"}), "existing file conflicts; left unchanged: " + (bin / "tarn").string());
    write_file(config_dir / "installed.json", "{\"installer\": ");
    expect_failure(run({"--hosts", "none"}), "invalid JSON");
    fs::remove(config_dir / "installed.json");
    EXPECT_EQ(snapshot(home), before);
}

TEST_F(Install, ReleaseWithoutRegistryToolWritesNothing) {
    fs::remove(release / "tarn");
    expect_failure(run({"--hosts", "codex"}), "release must contain sibling tarn and tarn-agent executables");
    EXPECT_TRUE(list_dir(home).empty());
}

TEST_F(Install, HomeThatIsNotTextCannotBeConfigured) {
    fs::path odd = base / "caf\xe9";
    expect_failure(run({"--hosts", "none", "--home", odd.string()}), "invalid executable path");
    EXPECT_TRUE(list_dir(odd).empty());
}

TEST(DefaultConfig, PrivateTermFallsBackWhenTheHomeNameIsNoIdentifier) {
    for (auto home : {"/", "/home/\xff", "/home/ "})
        EXPECT_NE(default_config(home).find("\"private_terms\": [\n    \"private-user\"\n  ]"), std::string::npos)
            << home;
    EXPECT_NE(default_config("/home/ana").find("\"tarn_bin\": \"/home/ana/.local/bin/tarn\""), std::string::npos);
}

TEST_F(Install, RefusesLinksAndConflictsWithEveryFileUntouched) {
    fs::create_directories(base / "elsewhere");
    fs::create_directory_symlink(base / "elsewhere", home / ".codex");
    expect_failure(run({"--hosts", "claude,codex"}), "refusing symlink destination: " + (home / ".codex").string());
    write_file(base / "elsewhere/claude.json", "{}");
    fs::create_symlink(base / "elsewhere/claude.json", home / ".claude.json");
    expect_failure(run({"--hosts", "claude"}), "refusing symlink destination: " + (home / ".claude.json").string());
    fs::remove(home / ".claude.json");
    write_file(home / ".claude/skills/tl/SKILL.md", "older skill\n");
    expect_failure(run({"--hosts", "claude"}),
                   "existing file conflicts; left unchanged: " + (home / ".claude/skills/tl/SKILL.md").string());
    EXPECT_EQ(list_dir(home), (std::vector<std::string>{".claude", ".codex"}));
    EXPECT_EQ(read_file(base / "elsewhere/claude.json"), "{}");
}

TEST_F(Install, MergesExistingCodexSettingsWithABackup) {
    std::string original = "# keep me\n[mcp_servers.docs]\ncommand = \"docs\"   # spaced\n";
    write_file(home / ".codex/config.toml", original, fs::perms(0644));
    ASSERT_EQ(run({"--hosts", "codex"}).status, 0);
    std::string merged = read_file(home / ".codex/config.toml");
    EXPECT_TRUE(merged.starts_with(original + "\n[mcp_servers.tarn]\n")) << merged;
    EXPECT_EQ(file_mode(home / ".codex/config.toml"), 0600u);
    auto runs = list_dir(config_dir / "backups");
    ASSERT_EQ(runs.size(), 1u);
    // Position 3: after config.json, production.env and the skill document.
    EXPECT_EQ(read_file(config_dir / "backups" / runs[0] / "3"), original);
}

}  // namespace
