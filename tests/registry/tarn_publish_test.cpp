#include <future>

#include "registry/registry_fixture.hpp"

namespace {

using Usage = RegistryFixture;
using Publish = RegistryFixture;
using Store = RegistryFixture;

TEST_F(Usage, ErrorsExitTwoWithOneLine) {
    std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "missing operation; see tarn --help"},
        {{"find", "x"}, "unknown operation 'find'; see tarn --help"},
        {{"search"}, "search needs an operand; see tarn --help"},
        {{"inspect", "a", "b"}, "unexpected argument 'b'; see tarn --help"},
        {{"search", "x", "--verbose"}, "unknown option '--verbose'; see tarn --help"},
        {{"search", "x", "--timeout"}, "--timeout needs a duration such as 10s or 500ms"},
    };
    for (const auto& [args, message] : cases) {
        auto out = tarn(args);
        EXPECT_EQ(out.status, 2) << message;
        EXPECT_EQ(out.err, "tarn: " + message + "\n");
        EXPECT_EQ(out.out, "");
    }
    EXPECT_FALSE(fs::exists(db.parent_path()));
}

TEST_F(Usage, DurationsAreSecondsOrMilliseconds) {
    for (std::string good : {"10s", "500ms", "0s", "3600s", "--timeout=2s"}) {
        auto args = good.starts_with("--") ? std::vector<std::string>{"search", "x", good}
                                           : std::vector<std::string>{"search", "x", "--timeout", good};
        EXPECT_EQ(tarn(args).status, 0) << good;
    }
    for (std::string bad : {"10", "1.5s", "-1s", "10m", "s", "ms", "3601s", "99999999999999999999s", " 1s"}) {
        auto out = tarn({"search", "x", "--timeout", bad});
        EXPECT_EQ(out.status, 2) << bad;
        EXPECT_EQ(out.err, "tarn: invalid duration '" + bad + "'; use e.g. 10s or 500ms (at most 1 hour)\n");
    }
}

TEST_F(Usage, HelpDocumentsTheContract) {
    for (std::string word : {"--help", "-h", "help"}) {
        auto out = tarn({word});
        EXPECT_EQ(out.status, 0);
        EXPECT_TRUE(out.out.starts_with("usage: tarn OPERATION OPERAND [--json] [--timeout DURATION]\n"));
        for (std::string name : {"search", "inspect", "context", "publish", "TARN_URL", "TARN_TOKEN", "TARN_REGISTRY_DB"})
            EXPECT_NE(out.out.find(name), std::string::npos) << name;
    }
}

TEST_F(Store, OriginIsRequired) {
    for (std::string url : {"", "/"}) {
        env["TARN_URL"] = url;
        auto out = tarn({"search", "x"});
        EXPECT_EQ(out.status, 1);
        EXPECT_EQ(out.err, "tarn: registry origin required; set TARN_URL\n");
    }
    env.erase("TARN_URL");
    EXPECT_EQ(tarn({"publish", "/nonexistent"}).err, "tarn: registry origin required; set TARN_URL\n");
}

TEST_F(Store, CreatedPrivateInWalModeAtEachDefaultLocation) {
    ASSERT_EQ(publish(recipe("a", 1, "A")).status, 0);
    EXPECT_EQ(file_mode(db.parent_path()), 0700u);
    EXPECT_EQ(file_mode(db), 0600u);
    // Bytes 18 and 19 of an SQLite header are 2 when the file is in WAL mode.
    auto header = read_file(db);
    ASSERT_GE(header.size(), 20u);
    EXPECT_EQ(header[18], 2);
    EXPECT_EQ(header[19], 2);

    env.erase("TARN_REGISTRY_DB");
    env["XDG_DATA_HOME"] = (dir / "xdg").string();
    ASSERT_EQ(publish(recipe("a", 1, "A")).status, 0);
    EXPECT_EQ(file_mode(dir / "xdg/tarn"), 0700u);
    EXPECT_EQ(file_mode(dir / "xdg/tarn/registry.sqlite3"), 0600u);

    env.erase("XDG_DATA_HOME");
    ASSERT_EQ(publish(recipe("a", 1, "A")).status, 0);
    for (std::string d : {".local", ".local/share", ".local/share/tarn"}) EXPECT_EQ(file_mode(dir / d), 0700u) << d;
    EXPECT_EQ(file_mode(dir / ".local/share/tarn/registry.sqlite3"), 0600u);
    // The WAL and shared-memory files stay between runs; they hold recipes too.
    EXPECT_EQ(list_dir(dir / ".local/share/tarn"),
              (std::vector<std::string>{"registry.sqlite3", "registry.sqlite3-shm", "registry.sqlite3-wal"}));
    for (const auto& name : list_dir(dir / ".local/share/tarn"))
        EXPECT_EQ(file_mode(dir / ".local/share/tarn" / name), 0600u) << name;
    // Each run replays the WAL when it opens the store; publications leave it empty.
    EXPECT_EQ(fs::file_size(dir / ".local/share/tarn/registry.sqlite3-wal"), 0u);
}

TEST_F(Store, LookupsNeverCreateTheStore) {
    EXPECT_EQ(compact(ok({"search", "anything"})), R"({"hits":[],"mode":"lexical","warnings":["lexical_degraded"]})");
    auto out = tarn({"inspect", "a"});
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.err, "tarn: recipe not found\n");
    EXPECT_EQ(tarn({"context", "a@1"}).err, "tarn: recipe not found\n");
    EXPECT_FALSE(fs::exists(db.parent_path()));
}

TEST_F(Publish, SameContentIsUnchangedOtherContentConflicts) {
    auto first = publish(recipe("go/retry", 1, "Retry"));
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, "{\"ref\":\"go/retry@1\",\"status\":\"published\"}\n");
    // Member order and spacing do not count; only the content does.
    auto again = publish_text("{ \"version\": 1,\n" + compact(recipe("go/retry", 1, "Retry")).substr(1));
    EXPECT_EQ(again.out, "{\"ref\":\"go/retry@1\",\"status\":\"unchanged\"}\n");
    auto changed = publish(recipe("go/retry", 1, "Retry "));
    EXPECT_EQ(changed.status, 1);
    EXPECT_EQ(changed.err, "tarn: version already published with different content\n");
    EXPECT_EQ(changed.out, "");
    EXPECT_EQ(publish(recipe("go/retry", 2, "Retry ")).out, "{\"ref\":\"go/retry@2\",\"status\":\"published\"}\n");
    EXPECT_EQ(ok({"inspect", "go/retry@1"})["title"], "Retry");
}

TEST_F(Publish, RequiresANonEmptyTokenBeforeReadingAnything) {
    env["TARN_TOKEN"] = "";
    auto out = publish(recipe("a", 1, "A"));
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.err, "tarn: publishing requires a token\n");
    env.erase("TARN_TOKEN");
    EXPECT_EQ(tarn({"publish", "/nonexistent"}).err, "tarn: publishing requires a token\n");
    EXPECT_FALSE(fs::exists(db.parent_path()));
}

TEST_F(Publish, RefusesBadFilesAndRecipes) {
    std::string padded = compact(recipe("a", 1, "A", {{"pad", ""}}));
    std::string exact = compact(recipe("a", 1, "A", {{"pad", std::string(65536 - padded.size(), 'x')}}));
    std::vector<std::pair<std::string, std::string>> cases = {
        {exact + " ", "recipe file exceeds 64 KiB"},
        {"{\"id\":", "recipe file is not valid JSON"},
        {"[1]", "recipe must be a JSON object"},
        {compact(recipe("", 1, "A")), "recipe id must be a non-empty string without '@'"},
        {compact(recipe("a@b", 1, "A")), "recipe id must be a non-empty string without '@'"},
        {compact(recipe("a", 0, "A")), "recipe version must be an integer from 1 to 2147483647"},
        {compact(recipe("a", 1, "A", {{"version", 1.5}})), "recipe version must be an integer from 1 to 2147483647"},
        {compact(recipe("a", 1, "A", {{"version", "1"}})), "recipe version must be an integer from 1 to 2147483647"},
        {compact(recipe("a", 1, "A", {{"version", 2147483648LL}})), "recipe version must be an integer from 1 to 2147483647"},
        {compact(recipe("a", 1, "A", {{"title", nullptr}})), "recipe title must be a string"},
    };
    for (const auto& [bytes, message] : cases) {
        auto out = publish_text(bytes);
        EXPECT_EQ(out.status, 1) << message;
        EXPECT_EQ(out.err, "tarn: " + message + "\n");
    }
    EXPECT_EQ(tarn({"publish", (dir / "missing.json").string()}).err, "tarn: cannot read recipe file\n");
    EXPECT_EQ(tarn({"publish", dir.path().string()}).err, "tarn: recipe file must be a regular file\n");
    fs::create_symlink(dir / "missing.json", dir / "link.json");
    EXPECT_EQ(tarn({"publish", (dir / "link.json").string()}).err, "tarn: recipe file must be a regular file\n");
    EXPECT_FALSE(fs::exists(db.parent_path()));
    EXPECT_EQ(exact.size(), 65536u);
    EXPECT_EQ(publish_text(exact).status, 0);
}

TEST_F(Publish, EightConcurrentPublicationsAllLand) {
    // Each round starts from no store at all, where creating it races too.
    for (int round = 0; round < 3; ++round) {
        env["TARN_REGISTRY_DB"] = (dir / ("round" + std::to_string(round)) / "registry.sqlite3").string();
        std::vector<std::future<Outcome>> runs;
        for (int i = 0; i < 8; ++i) {
            auto name = "r" + std::to_string(i) + ".json";
            write_file(dir / name, compact(recipe("concurrent/r" + std::to_string(i), 1, "Concurrent lesson")));
            runs.push_back(std::async(std::launch::async, [this, name] {
                return tarn({"publish", (dir / name).string(), "--json", "--timeout", "10s"});
            }));
        }
        for (auto& run : runs) {
            auto out = run.get();
            EXPECT_EQ(out.status, 0) << out.err;
            EXPECT_TRUE(out.out.ends_with(R"(,"status":"published"})" "\n")) << out.out;
        }
        EXPECT_EQ(refs("concurrent lesson").size(), 8u);
    }
}

}  // namespace
