#include <gtest/gtest.h>
#include <thread>

#include "main/queue.hpp"
#include "support/candidates.hpp"

namespace {

constexpr const char* marker_text = "inspect registry before any manual recovery\n";
constexpr const char* exists_already = "tarn-agent: cannot exclusively create private artifact\n";

struct Share : ::testing::Test {
    PublishHome h;
    std::string digest = h.prepare(1);
    std::string json = read_file(h.file(digest, ".json"));

    Outcome share() const { return h.run({"share", digest}); }
    void expect_failure(const Outcome& out, const std::string& message) const {
        EXPECT_EQ(out.status, 1);
        EXPECT_EQ(out.out, "");
        EXPECT_EQ(out.err, "tarn-agent: " + message + "\n");
    }
    // Only the queued recipe: no marker, no receipt, and the tool never ran.
    void expect_untouched() const {
        EXPECT_EQ(list_dir(h.queue), std::vector<std::string>{digest + ".json"});
        EXPECT_EQ(h.log.calls(), 0u);
    }
};

TEST_F(Share, PublishesThePreparedFileAndLeavesExactlyThreeFiles) {
    h.env["FAKE_TARN_OUTPUT"] = R"({"published":"retry-backoff-1@1"})";
    Outcome out = share();
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.out, R"({"digest":")" + digest + R"(","result":{"published":"retry-backoff-1@1"},"status":"shared"})"
                                                   "\n");
    EXPECT_EQ(list_dir(h.queue),
              (std::vector<std::string>{digest + ".attempt", digest + ".json", digest + ".receipt"}));
    EXPECT_EQ(read_file(h.file(digest, ".attempt")), marker_text);
    EXPECT_EQ(read_file(h.file(digest, ".receipt")), "published\n");
    EXPECT_EQ(read_file(h.file(digest, ".json")), json);
    for (const char* ext : {".attempt", ".receipt"}) EXPECT_EQ(file_mode(h.file(digest, ext)), 0600u);
    EXPECT_EQ(h.log.record("argv"), fake_tarn_path() + "\npublish\n" + h.file(digest, ".json").string() +
                                        "\n--json\n--timeout\n10s\n");

    // Published: re-checked, then a no-op, with or without the marker.
    std::string already = R"({"digest":")" + digest + R"(","status":"already_shared"})"
                                                      "\n";
    EXPECT_EQ(share().out, already);
    fs::remove(h.file(digest, ".attempt"));
    EXPECT_EQ(share().out, already);
    EXPECT_EQ(h.log.calls(), 1u);
    EXPECT_FALSE(fs::exists(h.file(digest, ".attempt")));
}

TEST_F(Share, AttemptedDigestIsNeverPublishedAgain) {
    h.env["FAKE_TARN_MODE"] = "fail";
    expect_failure(share(), "registry operation failed; check credentials, recipe validity and connectivity");
    EXPECT_EQ(read_file(h.file(digest, ".attempt")), marker_text);
    EXPECT_FALSE(fs::exists(h.file(digest, ".receipt")));
    h.env.erase("FAKE_TARN_MODE");
    Outcome again = share();
    EXPECT_EQ(again.err, exists_already);
    EXPECT_EQ(h.log.calls(), 1u);
    EXPECT_EQ(list_dir(h.queue), (std::vector<std::string>{digest + ".attempt", digest + ".json"}));
}

TEST_F(Share, DigestArgumentMustBeExactLowercaseHex) {
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    for (std::string bad : {upper, digest.substr(1), digest + "0", digest.substr(1) + "g", std::string(""),
                            digest.substr(1) + "/", digest + ".json"})
        expect_failure(h.run({"share", bad}), "share requires the exact prepared SHA-256 digest");
    expect_failure(h.run({"share", std::string(64, 'a')}), "local file unavailable");
    expect_untouched();
}

TEST_F(Share, QueuedFileMustStayPrivateRegularAndUnchanged) {
    fs::path file = h.file(digest, ".json");
    fs::permissions(file, fs::perms(0644));
    expect_failure(share(), "local configuration and candidates must be private (chmod 600)");
    fs::permissions(file, fs::perms(0600));

    fs::rename(file, h.dir / "elsewhere.json");
    fs::create_symlink(h.dir / "elsewhere.json", file);
    expect_failure(share(), "expected bounded regular file");
    fs::remove(file);

    std::string changed = json;
    changed.replace(changed.find("Cap the delay"), 3, "Cup");
    write_file(file, changed);
    expect_failure(share(), "candidate changed since preview");
    write_file(file, json.substr(0, json.size() - 1));
    expect_failure(share(), "invalid JSON");
    expect_untouched();

    // Insignificant whitespace is not a change: the canonical form decides.
    write_file(file, pretty(*parse(json)) + "\n");
    EXPECT_EQ(share().status, 0);
}

TEST_F(Share, ValidJsonThatIsNotAnObjectIsRefusedAfterItsDigestMatches) {
    Json array = Json::array({"retry"});
    std::string name = ::digest(array);
    write_file(h.file(name, ".json"), compact(array));
    expect_failure(h.run({"share", name}), "invalid candidate");
    EXPECT_FALSE(fs::exists(h.file(name, ".attempt")));
}

TEST_F(Share, RecipeIsCheckedAgainstTheCurrentConfiguration) {
    h.configure(R"({"tarn_bin":")" + fake_tarn_path() + R"(","documentation_hosts":["docs.rs"]})");
    expect_failure(share(), "source URL must use an explicitly allowed public HTTPS documentation host without "
                            "credentials/query");
    h.configure(R"({"tarn_bin":")" + fake_tarn_path() + R"(","private_terms":["orchid","asyncio"]})");
    expect_failure(share(), "private identifier or invalid text; generalize locally before sharing");
    expect_untouched();
}

TEST_F(Share, OperandIsThePathAsTextEvenWhenNotUtf8) {
    fs::path config_dir = h.dir / "caf\xff";
    fs::create_directory(config_dir, h.dir.path());
    fs::permissions(config_dir, fs::perms::owner_all);
    fs::copy_file(h.config, config_dir / "config.json");
    h.env["TARN_AGENT_CONFIG"] = (config_dir / "config.json").string();
    std::string d = h.prepare(2);
    ASSERT_EQ(h.run({"share", d}).status, 0);
    EXPECT_EQ(h.log.record("calls"),
              (h.dir / "caf\xEF\xBF\xBD" / "tarn-agent-queue" / (d + ".json")).string() + "\n");
}

TEST_F(Share, ConcurrentSharesOfOneDigestPublishItOnce) {
    std::vector<Outcome> outs(8);
    std::vector<std::thread> threads;
    for (auto& out : outs) threads.emplace_back([&] { out = share(); });
    for (auto& t : threads) t.join();
    int shared = 0;
    for (auto& out : outs) {
        if (out.status == 0 && out.out.find("\"status\":\"shared\"") != std::string::npos) ++shared;
        else if (out.status != 0) EXPECT_EQ(out.err, exists_already);
        else EXPECT_NE(out.out.find("already_shared"), std::string::npos) << out.out;
    }
    EXPECT_EQ(shared, 1);
    EXPECT_EQ(h.log.calls(), 1u);
}

}  // namespace
