// Reading and writing the tools' files: a user's file is never lost, a
// failure is never success.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "files/files.h"

namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("klavor-files-" + std::to_string(::getpid()) + "-" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string P(const std::string& name) { return (dir / name).string(); }
    std::string Make(const std::string& name, const std::string& content, mode_t mode = 0644) {
        std::ofstream(P(name), std::ios::binary) << content;
        ::chmod(P(name).c_str(), mode);
        return P(name);
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static mode_t Mode(const std::string& path) {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
    }
    // Everything in the directory, hidden files included: no temporary
    // file may be left behind.
    std::vector<std::string> Names(const fs::path& where) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(where)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> Names() { return Names(dir); }
};

using List = std::vector<std::string>;

TEST_F(FilesTest, ANewFileIsWholeWithTheUsualMode) {
    mode_t old = ::umask(027);
    std::string error;
    bool ok = files::WriteOutput(P("new.reg"), std::string("a\0b", 3), &error);
    ::umask(old);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(Read(P("new.reg")), std::string("a\0b", 3));
    EXPECT_EQ(Mode(P("new.reg")) & 07777, 0640u);
    EXPECT_EQ(Names(), List{"new.reg"});
}

TEST_F(FilesTest, AnExistingFileIsReplacedAtOnceAndKeepsItsMode) {
    std::string target = Make("my.reg", "old", 0604);
    std::ifstream before(target);  // a reader of the old file keeps it whole
    std::string error;
    ASSERT_TRUE(files::WriteOutput(target, "new content", &error)) << error;
    EXPECT_EQ(Read(target), "new content");
    EXPECT_EQ(Mode(target) & 07777, 0604u);
    EXPECT_TRUE(S_ISREG(Mode(target)));
    std::string old{std::istreambuf_iterator<char>(before), std::istreambuf_iterator<char>()};
    EXPECT_EQ(old, "old");
    EXPECT_EQ(Names(), List{"my.reg"});
}

TEST_F(FilesTest, SymbolicLinksAreFollowedAndTheirTargetReplaced) {
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    std::string real = Make("b/real.reg", "old", 0600);
    fs::create_symlink("../b/real.reg", dir / "a" / "link");  // relative to the link's own folder
    fs::create_symlink(dir / "a" / "link", dir / "chain");
    std::string error;
    ASSERT_TRUE(files::WriteOutput(P("chain"), "new", &error)) << error;
    EXPECT_EQ(Read(real), "new");
    EXPECT_EQ(Mode(real) & 07777, 0600u);
    EXPECT_TRUE(fs::is_symlink(dir / "chain"));
    EXPECT_TRUE(fs::is_symlink(dir / "a" / "link"));
    EXPECT_EQ(Names(dir / "a"), List{"link"});
    EXPECT_EQ(Names(dir / "b"), List{"real.reg"});
    // A link to a file not there yet makes that file.
    fs::create_symlink("later.reg", dir / "dangling");
    ASSERT_TRUE(files::WriteOutput(P("dangling"), "made", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
    EXPECT_EQ(Read(P("later.reg")), "made");
    // A loop of links is an error, not a hang.
    fs::create_symlink("loop2", dir / "loop1");
    fs::create_symlink("loop1", dir / "loop2");
    EXPECT_FALSE(files::WriteOutput(P("loop1"), "x", &error));
    EXPECT_EQ(error, P("loop1") + ": cannot write: Too many levels of symbolic links");
}

TEST_F(FilesTest, FifosAndDevicesAreWrittenInPlace) {
    ASSERT_EQ(::mkfifo(P("pipe").c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] { got = Read(P("pipe")); });
    std::string error;
    EXPECT_TRUE(files::WriteOutput(P("pipe"), "through the pipe", &error)) << error;
    reader.join();
    EXPECT_EQ(got, "through the pipe");
    EXPECT_TRUE(S_ISFIFO(Mode(P("pipe"))));
    EXPECT_EQ(Names(), List{"pipe"});

    EXPECT_TRUE(files::WriteOutput("/dev/null", "gone", &error)) << error;
    EXPECT_FALSE(files::WriteOutput("/dev/full", "never", &error));
    EXPECT_EQ(error, "/dev/full: cannot write: No space left on device");
}

TEST_F(FilesTest, WhatCannotBeWrittenIsRefusedAndLeftAsItWas) {
    // Read-only: refused even where the folder would allow the rename, and
    // even for root, who could write it.
    std::string readOnly = Make("kept.reg", "kept", 0444);
    fs::create_symlink("kept.reg", dir / "to-kept");
    std::string error;
    for (const std::string& name : {readOnly, P("to-kept")}) {
        EXPECT_FALSE(files::WriteOutput(name, "lost", &error));
        EXPECT_EQ(error, name + ": the file is read-only; it is left as it is");
    }
    EXPECT_EQ(Read(readOnly), "kept");
    EXPECT_EQ(Mode(readOnly) & 07777, 0444u);

    fs::create_directories(dir / "folder");
    EXPECT_FALSE(files::WriteOutput(P("folder"), "x", &error));
    EXPECT_EQ(error, P("folder") + ": cannot write: Is a directory");
    EXPECT_FALSE(files::WriteOutput(P("no/such/dir.reg"), "x", &error));
    EXPECT_EQ(error, P("no/such/dir.reg") + ": cannot write: No such file or directory");
    EXPECT_FALSE(files::WriteOutput("", "x", &error));
    EXPECT_EQ(Names(), (List{"folder", "kept.reg", "to-kept"}));
}

TEST_F(FilesTest, AWriteThatFailsHalfwayLeavesNoPartialFile) {
    std::string existing = Make("my.reg", "the user's file");
    // In a child limited to 100-byte files: the write of 1000 bytes fails.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {100, 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        bool replaced = files::WriteOutput(existing, std::string(1000, 'x'), &error);
        bool created = files::WriteOutput(P("new.reg"), std::string(1000, 'x'), &error);
        bool said = error == P("new.reg") + ": cannot write: File too large";
        ::_exit(!replaced && !created && said ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(Read(existing), "the user's file");
    EXPECT_EQ(Names(), List{"my.reg"});
}

TEST_F(FilesTest, InputsAreReadWholeOrTheReasonIsGiven) {
    std::string binary("\0\xFF\r\n", 4);
    std::string error;
    EXPECT_EQ(files::ReadInput(Make("bin", binary), &error), binary);
    EXPECT_EQ(files::ReadInput(Make("empty", ""), &error), "");
    EXPECT_FALSE(files::ReadInput(dir.string(), &error));
    EXPECT_EQ(error, dir.string() + ": cannot read: Is a directory");
    EXPECT_FALSE(files::ReadInput(P("missing"), &error));
    EXPECT_EQ(error, P("missing") + ": cannot open: No such file or directory");
    ASSERT_EQ(::mkfifo(P("pipe").c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(P("pipe")) << "piped"; });
    EXPECT_EQ(files::ReadInput(P("pipe"), &error), "piped");
    writer.join();
    if (::geteuid() != 0) {  // root reads anything
        std::string locked = Make("locked", "x", 0);
        EXPECT_FALSE(files::ReadInput(locked, &error));
        EXPECT_EQ(error, locked + ": cannot open: Permission denied");
    }
}

TEST_F(FilesTest, SameFileSeesThroughLinks) {
    std::string a = Make("a", "1"), b = Make("b", "1");
    fs::create_symlink("a", dir / "soft");
    fs::create_hard_link(dir / "a", dir / "hard");
    EXPECT_TRUE(files::SameFile(a, a));
    EXPECT_TRUE(files::SameFile(a, P("soft")));
    EXPECT_TRUE(files::SameFile(P("hard"), P("soft")));
    EXPECT_TRUE(files::SameFile(a, dir.string() + "/./a"));
    EXPECT_FALSE(files::SameFile(a, b));
    EXPECT_FALSE(files::SameFile(a, P("missing")));
    EXPECT_FALSE(files::SameFile(P("missing"), P("missing")));
}

}  // namespace
