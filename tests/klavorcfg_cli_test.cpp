// The klavorcfg command as a user runs it: the built binary, its output
// streams, exit status and the files it leaves behind.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "config_text.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out, err;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class KlavorcfgTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() /
                   ("klavorcfg-cli-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    std::string Write(const std::string& name, const std::string& content) {
        std::ofstream((dir / name).string(), std::ios::binary) << content;
        return (dir / name).string();
    }
    Outcome Klavorcfg(const std::string& args) {
        std::string command = "cd '" + dir.string() + "' && '" KLAVORCFG_PATH "' " + args + " >stdout 2>stderr";
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(dir / "stdout"), ReadAll(dir / "stderr")};
    }
    std::vector<std::string> Files() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().filename() != "stdout" && entry.path().filename() != "stderr")
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(KlavorcfgTest, CommittedExampleRegIsWhatTheToolMakesOfTheExample) {
    const std::string example = KLAVOR_SOURCE_DIR "/examples/capture-all";
    const std::string committed = ReadAll(example + ".reg");
    ASSERT_FALSE(committed.empty());
    Outcome toStdout = Klavorcfg("reg '" + example + ".klavor'");
    EXPECT_EQ(toStdout.status, 0);
    EXPECT_EQ(toStdout.err, "");
    EXPECT_EQ(toStdout.out, committed);
    Outcome toFile = Klavorcfg("reg -o out.reg '" + example + ".klavor'");
    EXPECT_EQ(toFile.status, 0);
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(ReadAll(dir / "out.reg"), committed);
    EXPECT_EQ(Files(), std::vector<std::string>{"out.reg"});
    // And show reads it back as every button captured.
    Outcome shown = Klavorcfg("show '" + example + ".reg'");
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(std::count(shown.out.begin(), shown.out.end(), '\n'), KEY_SLOTS + 1) << shown.out;
    EXPECT_EQ(shown.out.find("leave"), std::string::npos) << shown.out;
}

TEST_F(KlavorcfgTest, RegRefusesABadFileAndWritesNothing) {
    Write("bad.klavor", "Red capture\nGreen capture single \"green*2\"\n");
    Write("old.reg", "kept");
    Write("short.bin", std::string(127, '\0'));
    for (std::string out : {"old.reg", "new.reg"}) {
        Outcome run = Klavorcfg("reg bad.klavor -o " + out);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("bad.klavor:2: unknown action label \"green*2\" for Green single; did you mean "
                                "\"Green*2\"?\n", 0), 0u) << run.err;
    }
    Outcome run = Klavorcfg("reg short.bin -o new.reg");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "short.bin: the value is 127 bytes long; the program takes only 128\n");
    run = Klavorcfg("reg missing.klavor -o new.reg");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("missing.klavor: cannot open: ", 0), 0u) << run.err;
    EXPECT_EQ(ReadAll(dir / "old.reg"), "kept");
    EXPECT_EQ(Files(), (std::vector<std::string>{"bad.klavor", "old.reg", "short.bin"}));
}

TEST_F(KlavorcfgTest, ShowOutputFedToRegGivesBackTheSameValue) {
    klavorcfg::Bytes image = klavorcfg::EncodeTable(klavorcfg::DefaultTable());
    image[2 * KEY_ENTRY_BYTES] = 7;          // Camera: mode 7
    image[3 * KEY_ENTRY_BYTES + 4] = 9;      // Record: count 9
    image[4 * KEY_ENTRY_BYTES + 15] = 0x12;  // Volume Up: a stray fifth action
    Write("odd.bin", std::string(image.begin(), image.end()));
    Outcome shown = Klavorcfg("show odd.bin");
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find("# warning: Camera: mode 7 is not leave, free or capture"), std::string::npos);
    EXPECT_NE(shown.out.find("# warning: Record: presses 9 acts as presses 4"), std::string::npos);
    Write("shown.klavor", shown.out);
    Outcome reg = Klavorcfg("reg shown.klavor");
    EXPECT_EQ(reg.status, 0);
    EXPECT_EQ(reg.out, klavorcfg::FormatRegFile(image));
    // reg still writes it, but says what the program will do differently.
    EXPECT_NE(reg.err.find("shown.klavor: warning: Camera: mode 7"), std::string::npos) << reg.err;
    EXPECT_NE(reg.err.find("shown.klavor: warning: Record: presses 9"), std::string::npos) << reg.err;

    Outcome defaults = Klavorcfg("defaults");
    Write("defaults.klavor", defaults.out);
    EXPECT_EQ(Klavorcfg("reg defaults.klavor").out,
              klavorcfg::FormatRegFile(klavorcfg::EncodeTable(klavorcfg::DefaultTable())));
}

TEST_F(KlavorcfgTest, UsageMistakesExitTwo) {
    for (std::string args : {"", "frobnicate", "reg", "reg a b", "reg a -o", "reg a -o x -o y", "reg -x a",
                                    "show", "show a b", "defaults extra"}) {
        Outcome run = Klavorcfg(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out, "") << args;
        EXPECT_EQ(run.err.rfind("klavorcfg: ", 0), 0u) << args << ": " << run.err;
    }
    Outcome help = Klavorcfg("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: klavorcfg reg CONFIG [-o OUT]"), std::string::npos);
    EXPECT_NE(help.out.find("\"Volume Dn\""), std::string::npos);
    EXPECT_EQ(Files(), std::vector<std::string>{});
}

}  // namespace
