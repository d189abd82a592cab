#include "setup/safe_files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/process.hpp"

namespace {

template <class T>
std::string error_of(const Result<T>& s) {
    return s ? "" : s.error();
}

bool leftovers(const fs::path& dir) {
    for (auto& name : list_dir(dir))
        if (name.starts_with(".tarn-install-")) return true;
    return false;
}

TEST(SafePath, RefusesLinksAtTheDestinationAndAboveIt) {
    TempDir t;
    fs::create_directories(t / "real");
    write_file(t / "real/config.toml", "x");
    fs::create_directory_symlink(t / "real", t / "linked");
    fs::create_symlink(t / "real/config.toml", t / "file-link");
    EXPECT_EQ(error_of(safe_path(t / "linked/config.toml")), "refusing symlink destination: " + (t / "linked").string());
    EXPECT_EQ(error_of(safe_path(t / "file-link")), "refusing symlink destination: " + (t / "file-link").string());
    EXPECT_EQ(error_of(existing(t / "linked/config.toml")), "refusing symlink destination: " + (t / "linked").string());
    EXPECT_EQ(error_of(dir(t / "linked/sub")), "refusing symlink destination: " + (t / "linked").string());
    EXPECT_TRUE(safe_path(t / "missing/deeper/file"));
    // Below a regular file the system reports "not a directory", not "not found".
    EXPECT_EQ(error_of(safe_path(t / "real/config.toml/x")), "cannot inspect install path");
}

TEST(Existing, ReadsOnlyBoundedRegularFiles) {
    TempDir t;
    EXPECT_EQ(existing(t / "absent").value(), std::nullopt);
    write_file(t / "file", "bytes");
    EXPECT_EQ(existing(t / "file").value(), "bytes");
    EXPECT_EQ(existing(t.path()).error(), "expected bounded regular destination file");
    ASSERT_EQ(::mkfifo((t / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(existing(t / "fifo").error(), "expected bounded regular destination file");
    write_file(t / "big", "");
    fs::resize_file(t / "big", destination_limit + 1);
    EXPECT_EQ(existing(t / "big").error(), "expected bounded regular destination file");
    fs::resize_file(t / "big", destination_limit);
    EXPECT_EQ(existing(t / "big").value()->size(), destination_limit);
}

TEST(Dir, CreatesMissingDirectoriesPrivatelyAndKeepsExistingOnes) {
    TempDir t;
    fs::create_directory(t / "open");
    fs::permissions(t / "open", fs::perms(0755));
    ASSERT_TRUE(dir(t / "open/a/b"));
    EXPECT_EQ(file_mode(t / "open"), 0755u);
    EXPECT_EQ(file_mode(t / "open/a"), 0700u);
    EXPECT_EQ(file_mode(t / "open/a/b"), 0700u);
    EXPECT_TRUE(dir(t / "open/a/b"));
    write_file(t / "plain", "x");
    EXPECT_EQ(error_of(dir(t / "plain")), "cannot create installation directory");
    EXPECT_EQ(error_of(dir(t / "plain/sub")), "cannot inspect install path");
}

TEST(Atomic, ReplacesWithFixedModesAndLeavesNoTemporaryFile) {
    TempDir t;
    write_file(t / "settings.json", "old", fs::perms(0644));
    ASSERT_TRUE(atomic(t / "settings.json", "new", false));
    EXPECT_EQ(read_file(t / "settings.json"), "new");
    EXPECT_EQ(file_mode(t / "settings.json"), 0600u);
    ASSERT_TRUE(atomic(t / "bin/tool", "#!", true));
    EXPECT_EQ(file_mode(t / "bin/tool"), 0700u);
    EXPECT_EQ(file_mode(t / "bin"), 0700u);
    // A link at the destination is replaced, never written through.
    write_file(t / "target", "kept");
    fs::create_symlink(t / "target", t / "link");
    ASSERT_TRUE(atomic(t / "link", "own", false));
    EXPECT_EQ(read_file(t / "target"), "kept");
    EXPECT_FALSE(fs::is_symlink(t / "link"));
    EXPECT_FALSE(leftovers(t.path()) || leftovers(t / "bin"));
    EXPECT_EQ(error_of(atomic("/", "x", false)), "missing parent");
    EXPECT_EQ(error_of(atomic("relative", "x", false)), "missing parent");
    fs::create_directory(t / "occupied");
    write_file(t / "occupied/inside", "x");
    EXPECT_EQ(error_of(atomic(t / "occupied", "x", false)), "cannot commit installation file");
}

TEST(Add, PlansOnlyWhatMustChange) {
    TempDir t;
    write_file(t / "same", "text");
    write_file(t / "other", "mine");
    Plan plan;
    ASSERT_TRUE(add(plan, t / "same", "text", false, false, true));
    ASSERT_TRUE(add(plan, t / "other", "theirs", true, false, false));
    EXPECT_TRUE(plan.empty());
    EXPECT_EQ(error_of(add(plan, t / "other", "theirs", false, false, false)),
              "existing file conflicts; left unchanged: " + (t / "other").string());
    ASSERT_TRUE(add(plan, t / "other", "theirs", false, true, false));
    ASSERT_TRUE(add(plan, t / "new/file", "fresh", false, false, true));
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].previous, "mine");
    EXPECT_EQ(plan[1].previous, std::nullopt);
    EXPECT_TRUE(plan[1].executable);
    EXPECT_FALSE(fs::exists(t / "new"));
}

struct CommitTest : ::testing::Test {
    TempDir t;
    fs::path home = t.path();
    fs::path backups = home / ".config/tarn-agent/backups";
    Plan plan;
    void SetUp() override {
        write_file(home / "replaced", "old");
        ASSERT_TRUE(add(plan, home / "created", "A", false, false, false));
        ASSERT_TRUE(add(plan, home / "replaced", "new", false, true, false));
    }
};

TEST_F(CommitTest, RefusesDestinationsChangedSincePlanning) {
    write_file(home / "replaced", "edited");
    EXPECT_EQ(error_of(commit(plan, home)), "configuration changed during installation; retry");
    write_file(home / "replaced", "old");
    write_file(home / "created", "meanwhile");
    EXPECT_EQ(error_of(commit(plan, home)), "configuration changed during installation; retry");
    fs::remove(home / "created");
    fs::remove(home / "replaced");
    EXPECT_EQ(error_of(commit(plan, home)), "configuration changed during installation; retry");
    EXPECT_FALSE(fs::exists(home / "created"));
    EXPECT_FALSE(fs::exists(backups));
}

TEST_F(CommitTest, KeepsBackupsNamedByPlanPosition) {
    ASSERT_TRUE(commit(plan, home));
    EXPECT_EQ(read_file(home / "created"), "A");
    EXPECT_EQ(read_file(home / "replaced"), "new");
    auto runs = list_dir(backups);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], std::to_string(::getpid()) + runs[0].substr(runs[0].find('-')));
    EXPECT_EQ(list_dir(backups / runs[0]), std::vector<std::string>{"1"});
    EXPECT_EQ(read_file(backups / runs[0] / "1"), "old");
    EXPECT_EQ(file_mode(backups / runs[0] / "1"), 0600u);
    EXPECT_FALSE(leftovers(home) || leftovers(backups / runs[0]));
}

TEST_F(CommitTest, RollsBackEarlierChangesWhenAReplacementFails) {
    // Position 0 creates "created" as a file, so position 2 cannot make it a directory.
    ASSERT_TRUE(add(plan, home / "created/inner", "C", false, false, false));
    EXPECT_EQ(error_of(commit(plan, home)), "cannot create installation directory");
    EXPECT_FALSE(fs::exists(home / "created"));
    EXPECT_EQ(read_file(home / "replaced"), "old");
    auto runs = list_dir(backups);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(read_file(backups / runs[0] / "1"), "old");
}

TEST_F(CommitTest, StopsWhenABackupCannotBeWritten) {
    write_file(home / ".config/tarn-agent/backups", "in the way");
    EXPECT_EQ(error_of(commit(plan, home)), "cannot inspect install path");
    EXPECT_FALSE(fs::exists(home / "created"));  // earlier changes are undone, as after a failed replacement
    EXPECT_EQ(read_file(home / "replaced"), "old");
}

TEST(Commit, EmptyPlanWritesNothing) {
    TempDir t;
    ASSERT_TRUE(commit({}, t.path()));
    EXPECT_TRUE(list_dir(t.path()).empty());
}

}  // namespace
