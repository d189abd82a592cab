#include <gtest/gtest.h>
#include <unistd.h>

#include "main/contribution.hpp"
#include "support/candidates.hpp"

namespace {

constexpr const char* mode_required = "tarn-agent: mode manual|hook required\n";
constexpr const char* processed_nothing = "{\"outcomes\":[],\"status\":\"processed\"}\n";

// The configuration an AgentHome starts with, as `mode hook` rewrites it.
const std::string rewritten_hook = R"({
  "documentation_hosts": [
    "go.dev",
    "pkg.go.dev",
    "doc.rust-lang.org",
    "docs.rs",
    "www.postgresql.org",
    "docs.python.org"
  ],
  "mode": "hook",
  "private_terms": [
    "orchid"
  ],
  "registry": "https://registry.example/",
  "tarn_bin": "/usr/bin/false"
})";

TEST(Mode, RewritesOnlyTheModeAsSortedPrettyPrivateJson) {
    AgentHome h;
    Outcome out = h.run({"mode", "hook", "ignored"});
    EXPECT_EQ(out.out, "{\"automatic_publication\":true,\"mode\":\"hook\"}\n");
    EXPECT_EQ(read_file(h.config), rewritten_hook);
    EXPECT_EQ(file_mode(h.config), 0600u);
    EXPECT_EQ(list_dir(h.config_dir), (std::vector<std::string>{"config.json", "tarn-agent-queue"}));

    out = h.run({"mode", "manual"});
    EXPECT_EQ(out.out, "{\"automatic_publication\":false,\"mode\":\"manual\"}\n");
    std::string manual = rewritten_hook;
    manual.replace(manual.find("\"hook\""), 6, "\"manual\"");
    EXPECT_EQ(read_file(h.config), manual);
}

TEST(Mode, WrongOperandLeavesTheFileAlone) {
    AgentHome h;
    std::string before = read_file(h.config);
    for (std::vector<std::string> args : {std::vector<std::string>{"mode"}, {"mode", "Hook"}, {"mode", "auto"},
                                          {"mode", ""}, {"mode", "hook "}}) {
        Outcome out = h.run(args);
        EXPECT_EQ(out.status, 1);
        EXPECT_EQ(out.out, "");
        EXPECT_EQ(out.err, mode_required);
    }
    EXPECT_EQ(read_file(h.config), before);
}

// In-process, so that the temporary name (which carries the pid) is known.
struct ModeHere : ::testing::Test {
    TempDir dir;
    App app;
    void use(const std::string& name, const std::string& content) {
        app.config_path = dir / name;
        write_file(app.config_path, content);
    }
    std::string set(const char* mode) {
        auto v = set_mode(app, {"mode", mode});
        return v ? compact(*v) : v.error();
    }
    std::string pid = std::to_string(getpid());
};

TEST_F(ModeHere, StaleTemporaryFileStopsTheRewrite) {
    use("config.json", config_json());
    write_file(dir / ("config." + pid + ".tmp"), "stale");
    EXPECT_EQ(set("hook"), "cannot exclusively create private artifact");
    EXPECT_EQ(read_file(app.config_path), config_json());
    EXPECT_EQ(read_file(dir / ("config." + pid + ".tmp")), "stale");
}

TEST_F(ModeHere, TemporaryNameReplacesOnlyTheLastExtension) {
    for (std::string name : {"settings", ".settings", "a.b.json"}) {
        std::string base = name == "a.b.json" ? "a.b" : name;
        use(name, "{}");
        write_file(dir / (base + "." + pid + ".tmp"), "stale");
        EXPECT_EQ(set("hook"), "cannot exclusively create private artifact") << name;
        fs::remove(dir / (base + "." + pid + ".tmp"));
        EXPECT_EQ(set("hook"), R"({"automatic_publication":true,"mode":"hook"})") << name;
        EXPECT_EQ(read_file(app.config_path), "{\n  \"mode\": \"hook\"\n}");
        fs::remove(app.config_path);
    }
}

TEST_F(ModeHere, RereadDocumentMustStillBeAPrivateObject) {
    use("config.json", "[\"mode\"]");
    EXPECT_EQ(set("manual"), "invalid companion configuration");
    EXPECT_EQ(read_file(app.config_path), "[\"mode\"]");
    use("config.json", "{} x");
    EXPECT_EQ(set("manual"), "invalid JSON");
    fs::permissions(app.config_path, fs::perms(0640));
    EXPECT_EQ(set("manual"), "local configuration and candidates must be private (chmod 600)");
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"config.json"});
}

struct Hook : ::testing::Test {
    PublishHome h{R"({"mode":"hook"})"};
    // Runs `hook` with a regular file as standard input and reports how far it was read.
    Outcome hook_with_input(std::string& offset) const {
        write_file(h.dir / "payload", "{\"event\":\"stop\"}\n");
        auto env = h.env;
        Outcome out = run_program("/bin/sh",
                                  {"-c", "exec <\"$1\"; \"$0\" hook; s=$?; grep '^pos:' /proc/self/fdinfo/0 >&2; exit $s",
                                   TARN_AGENT_BIN, (h.dir / "payload").string()},
                                  env);
        auto at = out.err.rfind("pos:");
        offset = at == std::string::npos ? "?" : out.err.substr(at);
        out.err.resize(at == std::string::npos ? out.err.size() : at);
        return out;
    }
    std::vector<std::string> prepare(int count) const {
        std::vector<std::string> digests;
        for (int i = 0; i < count; ++i) digests.push_back(h.prepare(i));
        std::sort(digests.begin(), digests.end());
        return digests;
    }
    static std::string shared(const std::string& digest) {
        return R"({"digest":")" + digest + R"(","result":{"ok":true},"status":"shared"})";
    }
};

TEST_F(Hook, OutsideHookModeNothingIsReadOrShared) {
    h.prepare(1);
    h.configure(R"({"tarn_bin":")" + fake_tarn_path() + "\"}");
    std::string offset;
    Outcome out = hook_with_input(offset);
    EXPECT_EQ(out.out, "{\"shared\":0,\"status\":\"disabled\"}\n");
    EXPECT_EQ(offset, "pos:\t0\n");
    EXPECT_EQ(h.log.calls(), 0u);
}

TEST_F(Hook, InHookModeStandardInputIsNotReadEither) {
    std::string offset;
    Outcome out = hook_with_input(offset);
    EXPECT_EQ(out.out, processed_nothing);
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(offset, "pos:\t0\n");
}

TEST_F(Hook, OnlyNamesWithTheJsonExtensionAreCandidates) {
    std::string d(64, 'a');
    fs::create_directory(h.queue);
    fs::permissions(h.queue, fs::perms::owner_all);
    for (std::string name : std::vector<std::string>{d + ".attempt", d + ".receipt", "config.1.tmp", "call-1-2",
                                                     d + ".JSON", ".json",
                             d + ".json.tmp", d})
        write_file(h.queue / name, "{}");
    Outcome out = h.run({"hook"});
    EXPECT_EQ(out.out, processed_nothing);
    EXPECT_EQ(h.log.calls(), 0u);

    // A name that is not a digest is still a candidate, and its refusal ends the run.
    write_file(h.queue / "notes.json", "{}");
    EXPECT_EQ(h.run({"hook"}).err, "tarn-agent: share requires the exact prepared SHA-256 digest\n");
}

TEST_F(Hook, SharesTheTenSmallestNamesAndAttemptedOnesUseUpTheLimit) {
    auto digests = prepare(15);
    Outcome out = h.run({"hook"});
    ASSERT_EQ(out.status, 0) << out.err;
    std::string expected = "{\"outcomes\":[";
    for (int i = 0; i < 10; ++i) expected += (i ? "," : "") + shared(digests[i]);
    EXPECT_EQ(out.out, expected + "],\"status\":\"processed\"}\n");
    EXPECT_EQ(h.log.calls(), 10u);
    for (int i = 10; i < 15; ++i) EXPECT_FALSE(fs::exists(h.file(digests[i], ".attempt")));

    // The ten attempted names still come first, so the other five wait.
    EXPECT_EQ(h.run({"hook"}).out, processed_nothing);
    EXPECT_EQ(h.log.calls(), 10u);
}

TEST_F(Hook, FirstFailureStopsTheRunAndKeepsEarlierReceipts) {
    auto digests = prepare(5);
    h.env["FAKE_TARN_FAIL_ON"] = digests[2];
    Outcome out = h.run({"hook"});
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.out, "");
    EXPECT_EQ(out.err, "tarn-agent: registry operation failed; check credentials, recipe validity and connectivity\n");
    EXPECT_EQ(h.log.calls(), 3u);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(read_file(h.file(digests[i], ".receipt")), "published\n");
    EXPECT_TRUE(fs::exists(h.file(digests[2], ".attempt")));
    EXPECT_FALSE(fs::exists(h.file(digests[2], ".receipt")));
    for (int i = 3; i < 5; ++i) EXPECT_FALSE(fs::exists(h.file(digests[i], ".attempt")));

    // The failed one is skipped from now on; the rest are shared.
    h.env.erase("FAKE_TARN_FAIL_ON");
    EXPECT_EQ(h.run({"hook"}).out, "{\"outcomes\":[" + shared(digests[3]) + "," + shared(digests[4]) +
                                       "],\"status\":\"processed\"}\n");
}

TEST(HookHere, UnlistableQueue) {
    TempDir dir;
    App app;
    app.config.mode = "hook";
    app.queue = dir / "gone";
    auto v = hook_drain(app);
    ASSERT_FALSE(v);
    EXPECT_EQ(v.error(), "queue unavailable");
}

}  // namespace
