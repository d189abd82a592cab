// bounded and private_write: the rules every private artifact lives by.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "main/private_files.hpp"
#include "support/process.hpp"

namespace {

TEST(Bounded, ReadsSmallPrivateRegularFiles) {
    TempDir d;
    write_file(d / "a", std::string(65536, 'x'));
    EXPECT_EQ(bounded(d / "a")->size(), 65536u);
    write_file(d / "b", std::string(65537, 'x'));
    EXPECT_EQ(bounded(d / "b").error(), "expected bounded regular file");
    write_file(d / "c", "", fs::perms(0604));
    EXPECT_EQ(bounded(d / "c").error(), "local configuration and candidates must be private (chmod 600)");
    write_file(d / "e", "x", fs::perms(0400));
    EXPECT_EQ(*bounded(d / "e"), "x");
    EXPECT_EQ(bounded(d / "missing").error(), "local file unavailable");
    fs::create_symlink(d / "a", d / "link");
    EXPECT_EQ(bounded(d / "link").error(), "expected bounded regular file");
    EXPECT_EQ(bounded(d.path()).error(), "expected bounded regular file");
    ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(bounded(d / "fifo").error(), "expected bounded regular file");
}

TEST(PrivateWrite, CreatesExclusivelyWithMode600) {
    TempDir d;
    ASSERT_TRUE(private_write(d / "new", "bytes"));
    EXPECT_EQ(read_file(d / "new"), "bytes");
    EXPECT_EQ(file_mode(d / "new"), 0600u);
    EXPECT_EQ(private_write(d / "new", "other").error(), "cannot exclusively create private artifact");
    EXPECT_EQ(read_file(d / "new"), "bytes");
    EXPECT_TRUE(durable_write(d / "durable", ""));
    EXPECT_EQ(read_file(d / "durable"), "");
}

TEST(PrivateWrite, NeverFollowsOrReplacesAnEntry) {
    TempDir d;
    write_file(d / "target", "keep");
    fs::create_symlink(d / "target", d / "link");
    fs::create_symlink(d / "nowhere", d / "dangling");
    fs::create_directory(d / "dir");
    for (auto name : {"link", "dangling", "dir"})
        EXPECT_EQ(private_write(d / name, "x").error(), "cannot exclusively create private artifact") << name;
    EXPECT_EQ(read_file(d / "target"), "keep");
    EXPECT_FALSE(fs::exists(d / "nowhere"));
    EXPECT_EQ(private_write(d / "missing-dir/x", "x").error(), "cannot exclusively create private artifact");
}

TEST(PrivateWrite, ShortWriteIsASaveFailureAndTheFileStays) {
    TempDir d;
    // A file-size limit makes the write stop part-way, as a full disk would.
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4, 4};
        setrlimit(RLIMIT_FSIZE, &limit);
        auto r = private_write(d / "partial", "0123456789");
        _exit(!r && r.error() == "cannot save private artifact" ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(read_file(d / "partial"), "0123");
}

}  // namespace
