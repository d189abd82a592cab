// The credentials file: line rules, value rules, token format, environment overrides.
#include <gtest/gtest.h>

#include <cstdlib>

#include "setup/credentials.hpp"
#include "support/process.hpp"

namespace {

class Credentials_ : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("TARN_URL");
        unsetenv("TARN_TOKEN");
    }
    void TearDown() override { SetUp(); }
    Result<Credentials> read(const std::string& text, fs::perms mode = fs::perms(0600)) {
        write_file(dir / "production.env", text, mode);
        return credentials(dir / "config.json");
    }
    std::string error(const std::string& text) {
        auto r = read(text);
        return r ? "no error" : r.error();
    }
    TempDir dir;
};

using Pairs = Credentials;

TEST_F(Credentials_, NoFileAndNoEnvironmentIsEmpty) {
    auto r = credentials(dir / "config.json");
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->empty());
}

TEST_F(Credentials_, TemplateAndLineRules) {
    EXPECT_EQ(*read(credentials_template("https://larder.example")),
              (Pairs{{"TARN_TOKEN", ""}, {"TARN_URL", "https://larder.example"}}));
    EXPECT_EQ(*read("# c\n\n   # indented comment\r\nTARN_TOKEN=  tl_a-B_9  \r\n \u00a0\nTARN_URL=x#y"),
              (Pairs{{"TARN_TOKEN", "tl_a-B_9"}, {"TARN_URL", "x#y"}}));
    EXPECT_EQ(*read("TARN_URL=a\r\nTARN_TOKEN=tl_\r\n"), *read("TARN_URL=a\nTARN_TOKEN=tl_\n"));
    EXPECT_EQ(*read("TARN_TOKEN=   \n"), (Pairs{{"TARN_TOKEN", ""}}));
}

TEST_F(Credentials_, LineFailuresInOrder) {
    EXPECT_EQ(error("TARN_URL\n"), "credential file requires literal KEY=value lines");
    EXPECT_EQ(error("TARN_URL =x\n"), "unknown or duplicate credential key");
    EXPECT_EQ(error("tarn_url=x\n"), "unknown or duplicate credential key");
    EXPECT_EQ(error("TARN_URL=a\nTARN_URL=a\n"), "unknown or duplicate credential key");
    EXPECT_EQ(error("OTHER=1\n"), "unknown or duplicate credential key");
    EXPECT_EQ(error("TARN_TOKEN=tl_x # note\n"), "credential values must be literal, unquoted and contain no whitespace");
    EXPECT_EQ(error("TARN_TOKEN=\"tl_x\"\n"), "credential values must be literal, unquoted and contain no whitespace");
    for (std::string c : {"$", "'", ";", "\\", "`", "\u2003"})
        EXPECT_EQ(error("TARN_URL=a" + c + "b\n"), "credential values must be literal, unquoted and contain no whitespace");
    // The first failing line ends reading.
    EXPECT_EQ(error("BAD\nOTHER=1\n"), "credential file requires literal KEY=value lines");
    EXPECT_EQ(error("TARN_URL=\xff\n"), "invalid credential file");
}

TEST_F(Credentials_, TokenFormat) {
    EXPECT_TRUE(read("TARN_TOKEN=tl_" + std::string(253, 'a')));
    EXPECT_EQ(error("TARN_TOKEN=tl_" + std::string(254, 'a')), "invalid Tarn token format");
    for (std::string bad : {"TL_abc", "tl-abc", "tl_a.b", "tl_a=b", "t", "xtl_", "tl_\u00e9"})
        EXPECT_EQ(error("TARN_TOKEN=" + bad), "invalid Tarn token format") << bad;
}

TEST_F(Credentials_, FileMustBePrivateAndRegular) {
    EXPECT_EQ(read("TARN_URL=a\n", fs::perms(0640)).error(),
              "local configuration and candidates must be private (chmod 600)");
    fs::remove(dir / "production.env");
    write_file(dir / "real.env", "TARN_URL=a\n");
    fs::create_symlink(dir / "real.env", dir / "production.env");
    EXPECT_EQ(credentials(dir / "config.json").error(), "expected bounded regular file");
    fs::remove(dir / "production.env");
    fs::create_symlink(dir / "missing.env", dir / "production.env");
    EXPECT_EQ(credentials(dir / "config.json").error(), "expected bounded regular file");
    EXPECT_EQ(credentials("/").error(), "invalid config path");
}

TEST_F(Credentials_, EnvironmentOverrides) {
    setenv("TARN_URL", "", 1);
    EXPECT_EQ(*read("TARN_URL=https://a.example\n"), (Pairs{{"TARN_URL", ""}}));
    setenv("TARN_TOKEN", "anything goes $ here", 1);
    EXPECT_EQ(*read("TARN_TOKEN=tl_file\n"), (Pairs{{"TARN_TOKEN", "anything goes $ here"}, {"TARN_URL", ""}}));
}

TEST_F(Credentials_, StoredTokenDoesNotFollowAnOverride) {
    const std::string msg = "registry override requires an explicit token override";
    setenv("TARN_URL", "https://other.example", 1);
    EXPECT_EQ(error("TARN_TOKEN=tl_file\nTARN_URL=https://a.example\n"), msg);
    EXPECT_EQ(error("TARN_TOKEN=tl_file\n"), msg);
    EXPECT_TRUE(read("TARN_TOKEN=tl_file\nTARN_URL=https://other.example\n"));
    EXPECT_TRUE(read("TARN_TOKEN=\nTARN_URL=https://a.example\n"));
    // A token override that is not text cannot be handed on, so it cannot stand in for the stored one.
    setenv("TARN_TOKEN", "\xff", 1);
    EXPECT_EQ(error("TARN_TOKEN=tl_file\n"), msg);
    EXPECT_EQ(*read("TARN_TOKEN=tl_file\nTARN_URL=https://other.example\n"),
              (Pairs{{"TARN_TOKEN", "tl_file"}, {"TARN_URL", "https://other.example"}}));
    setenv("TARN_TOKEN", "", 1);
    EXPECT_EQ(*read("TARN_TOKEN=tl_file\nTARN_URL=https://a.example\n"),
              (Pairs{{"TARN_TOKEN", ""}, {"TARN_URL", "https://other.example"}}));
    unsetenv("TARN_TOKEN");
    // An override that is not valid Unicode counts as absent.
    setenv("TARN_URL", "https://\xff.example", 1);
    EXPECT_EQ(*read("TARN_TOKEN=tl_file\nTARN_URL=https://a.example\n"),
              (Pairs{{"TARN_TOKEN", "tl_file"}, {"TARN_URL", "https://a.example"}}));
}

}  // namespace

namespace {

// A configuration whose path just fits the system's limit, while the
// credentials file beside it does not: the file cannot even be inspected.
TEST(CredentialsFile, UninspectableFileIsNotTakenForAMissingOne) {
    TempDir d;
    fs::path dir = d.path();
    const std::size_t target = 4095 - std::string("/config.json").size();
    while (dir.native().size() < target) {
        std::size_t room = target - dir.native().size() - 1;
        dir /= std::string(std::min<std::size_t>(room, 200), 'd');
        fs::create_directory(dir);
    }
    ASSERT_EQ(dir.native().size(), target);
    write_file(dir / "config.json", config_json());
    auto r = run_program(TARN_AGENT_BIN, {"hook"}, {{"TARN_AGENT_CONFIG", (dir / "config.json").string()}});
    EXPECT_EQ(r.err, "tarn-agent: credential file unavailable\n");
    EXPECT_EQ(r.status, 1);
}

}  // namespace
