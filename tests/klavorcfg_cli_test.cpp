// The klavorcfg command as a user runs it: the built binary, its output
// streams, exit status and the files it leaves behind.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "config/config_text.h"
#include "config/klavor_cab.h"
#include "platform/sim/phone.h"  // UTF-8 to UTF-16

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

// Noise behind the headers of an ARM Windows CE program.
std::string ArmExe(std::size_t n = 40000) {
    std::string exe(n, '\0');
    unsigned seed = 12345;
    for (char& c : exe) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
    auto put = [&exe](std::size_t at, unsigned v, int width) {
        for (int i = 0; i < width; ++i) exe[at + i] = static_cast<char>(v >> (8 * i));
    };
    exe[0] = 'M', exe[1] = 'Z';
    put(0x3C, 0x80, 4);
    put(0x80, 0x00004550, 4);   // PE
    put(0x84, 0x01C0, 2);       // ARM
    put(0x80 + 92, 9, 2);       // Windows CE GUI
    return exe;
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
    // Runs in the test's folder; `out` is where standard output goes.
    Outcome Klavorcfg(const std::string& args, const std::string& out = "stdout", const std::string& env = "") {
        std::string command = "cd '" + dir.string() + "' && " + env + " '" KLAVORCFG_PATH "' " + args + " >" + out + " 2>stderr";
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out == "stdout" ? ReadAll(dir / "stdout") : "",
                ReadAll(dir / "stderr")};
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
    // The built-in volume actions send nothing on a double or triple press.
    EXPECT_EQ(toStdout.err, example + ".klavor:17: warning: Volume Up double and triple send code 0 (\"FAKE\"), "
                                      "which nothing receives\n" +
                                example + ".klavor:18: warning: Volume Dn double and triple send code 0 (\"FAKE\"), "
                                          "which nothing receives\n");
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
    config::Bytes image = config::EncodeTable(config::DefaultTable());
    image[2 * KEY_ENTRY_BYTES] = 7;          // Camera: mode 7
    image[3 * KEY_ENTRY_BYTES + 4] = 9;      // Record: count 9
    image[4 * KEY_ENTRY_BYTES + 15] = 0x12;  // Volume Up: a stray fifth action
    Write("odd.bin", std::string(image.begin(), image.end()));
    Outcome shown = Klavorcfg("show odd.bin");
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.err.find("odd.bin: warning: Camera (slot 2): mode 7 is not leave, free or capture"),
              std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find("odd.bin: warning: Record (slot 3): presses 9 acts as presses 4"), std::string::npos);
    Write("shown.klavor", shown.out);
    Outcome reg = Klavorcfg("reg shown.klavor");
    EXPECT_EQ(reg.status, 0);
    EXPECT_EQ(reg.out, config::FormatRegFile(image));
    // reg still writes it, but says what the program will do differently.
    EXPECT_NE(reg.err.find("shown.klavor:4: warning: Camera: mode 7"), std::string::npos) << reg.err;
    EXPECT_NE(reg.err.find("shown.klavor:5: warning: Record: presses 9"), std::string::npos) << reg.err;

    Outcome defaults = Klavorcfg("defaults");
    Write("defaults.klavor", defaults.out);
    EXPECT_EQ(Klavorcfg("reg defaults.klavor").out,
              config::FormatRegFile(config::EncodeTable(config::DefaultTable())));
}

TEST_F(KlavorcfgTest, UsageMistakesExitTwo) {
    for (std::string args : {"", "frobnicate", "reg", "reg a b", "reg a -o", "reg a -o x -o y", "reg -x a",
                             "reg a -o ''", "show", "show a b", "show -o x a", "check", "check a b",
                             "check --no-check a", "cab", "cab a", "cab a -o", "cab a b -o x",
                             "cab --no-config a -o x", "cab a -o x --exe", "cab a -o x --exe e --exe f",
                             "cab a -o ''", "defaults extra", "timing", "timing a b", "timing -o x a"}) {
        Outcome run = Klavorcfg(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out, "") << args;
        EXPECT_EQ(run.err.rfind("klavorcfg: ", 0), 0u) << args << ": " << run.err;
    }
    Outcome help = Klavorcfg("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: klavorcfg reg CONFIG [-o OUT]"), std::string::npos);
    EXPECT_NE(help.out.find("\"Volume Dn\""), std::string::npos);
    EXPECT_NE(help.out.find("TTalk (F3) 0x72"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("Enter (Return, TAction) 0x0D"), std::string::npos) << help.out;
    EXPECT_EQ(Files(), std::vector<std::string>{});
}

// ---- Files that cannot be read or written -----------------------------------

TEST_F(KlavorcfgTest, InputsThatCannotBeReadAreSaidWithTheReason) {
    fs::create_directories(dir / "folder");
    for (std::string command : {"show", "reg", "check", "reg -o out.reg"}) {
        Outcome run = Klavorcfg(command + " folder");
        EXPECT_EQ(run.status, 2) << command;
        EXPECT_EQ(run.out, "") << command;
        EXPECT_EQ(run.err, "folder: cannot read: Is a directory\n") << command;
        run = Klavorcfg(command + " missing.klavor");
        EXPECT_EQ(run.status, 2) << command;
        EXPECT_EQ(run.err, "missing.klavor: cannot open: No such file or directory\n") << command;
    }
    EXPECT_EQ(Files(), std::vector<std::string>{"folder"});
}

TEST_F(KlavorcfgTest, AnOutputThatIsTheInputIsRefusedBeforeAnythingIsWritten) {
    const std::string mine = "Red capture single Enter\n";
    Write("my.klavor", mine);
    fs::create_symlink("my.klavor", dir / "link.reg");
    fs::create_hard_link(dir / "my.klavor", dir / "hard.reg");
    for (std::string out : {"my.klavor", "./my.klavor", "link.reg", "hard.reg"}) {
        Outcome run = Klavorcfg("reg my.klavor -o " + out);
        EXPECT_EQ(run.status, 2) << out;
        EXPECT_EQ(run.err, "klavorcfg: " + out + " is the input file itself; give another output file\n") << out;
        EXPECT_EQ(ReadAll(dir / "my.klavor"), mine) << out;
    }
    EXPECT_EQ(Files(), (std::vector<std::string>{"hard.reg", "link.reg", "my.klavor"}));
}

TEST_F(KlavorcfgTest, OutputGoesWhereOWantsItWithoutLosingAFile) {
    Write("my.klavor", "Red capture single Enter\n");
    const std::string reg = Klavorcfg("reg my.klavor").out;
    ASSERT_EQ(reg.rfind("REGEDIT4", 0), 0u);
    // -o - is standard output.
    EXPECT_EQ(Klavorcfg("reg my.klavor -o -").out, reg);
    // An existing file keeps its mode; a link keeps pointing at the new file.
    Write("old.reg", "old");
    fs::permissions(dir / "old.reg", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("old.reg", dir / "link.reg");
    EXPECT_EQ(Klavorcfg("reg my.klavor -o link.reg").status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.reg"));
    EXPECT_EQ(ReadAll(dir / "old.reg"), reg);
    EXPECT_EQ(fs::status(dir / "old.reg").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // A read-only file, a folder and a full device are refused; nothing is left behind.
    Write("kept.reg", "kept");
    fs::permissions(dir / "kept.reg", fs::perms::owner_read);
    Outcome run = Klavorcfg("reg my.klavor -o kept.reg");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "klavorcfg: kept.reg: the file is read-only; it is left as it is\n");
    EXPECT_EQ(ReadAll(dir / "kept.reg"), "kept");
    fs::create_directories(dir / "folder");
    run = Klavorcfg("reg my.klavor -o folder");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "klavorcfg: folder: cannot write: Is a directory\n");
    run = Klavorcfg("reg my.klavor -o /dev/full");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "klavorcfg: /dev/full: cannot write: No space left on device\n");
    EXPECT_EQ(Files(), (std::vector<std::string>{"folder", "kept.reg", "link.reg", "my.klavor", "old.reg"}));
    // A FIFO is written in place: with its reader already there, the whole
    // file fits in the pipe.
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    int reader = ::open((dir / "pipe").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(Klavorcfg("reg my.klavor -o pipe").status, 0);
    std::string piped(4096, '\0');
    ssize_t n = ::read(reader, piped.data(), piped.size());
    ::close(reader);
    piped.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    EXPECT_EQ(piped, reg);
}

TEST_F(KlavorcfgTest, StandardOutputThatCannotBeWrittenIsAFailure) {
    Write("my.klavor", "Red capture\n");
    Write("my.exe", ArmExe());
    for (std::string args : {"defaults", "--help", "show my.klavor", "reg my.klavor", "reg my.klavor -o -",
                             "check my.klavor", "cab my.klavor --exe my.exe --no-setup -o -"}) {
        Outcome run = Klavorcfg(args, "/dev/full");
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.err, "klavorcfg: standard output: No space left on device\n") << args;
    }
}

TEST_F(KlavorcfgTest, TextSavedAsUtf16IsReadLikeUtf8) {
    const std::string text = "# \xD0\x9A\xD0\xBB\xD0\xB0\xD0\xB2\xD0\xBE\xD1\x80\r\nRed capture single Enter double Win+D\r\n";
    Write("utf8.klavor", text);
    std::u16string wide = sim::Utf16(text);
    std::string le = "\xFF\xFE";
    for (char16_t c : wide) le += static_cast<char>(c & 0xFF), le += static_cast<char>(c >> 8);
    Write("notepad.klavor", le);
    Outcome utf8 = Klavorcfg("reg utf8.klavor");
    Outcome utf16 = Klavorcfg("reg notepad.klavor");
    EXPECT_EQ(utf16.status, 0) << utf16.err;
    EXPECT_EQ(utf16.out, utf8.out);
    EXPECT_EQ(Klavorcfg("show notepad.klavor").status, 0);
}

// ---- The check ---------------------------------------------------------------

TEST_F(KlavorcfgTest, ALoopIsAnErrorAndNothingIsWrittenUnlessAskedTo) {
    Write("loop.klavor", "Calendar capture single 0xC2\nContacts capture single 0xC1\n");
    const std::string error =
        "loop.klavor:1: error: Calendar single sends App2, a press of Contacts (line 2); Contacts single sends App1, "
        "a press of Calendar (line 1) again: from one press Klavor would send actions on its own forever, one every "
        "tick, until it exits\n";
    Outcome check = Klavorcfg("check loop.klavor");
    EXPECT_EQ(check.status, 2);
    EXPECT_EQ(check.err, error);
    EXPECT_EQ(check.out, "loop.klavor: 1 error, no warnings\n");
    for (std::string args : {"reg loop.klavor -o loop.reg", "reg loop.klavor"}) {
        Outcome reg = Klavorcfg(args);
        EXPECT_EQ(reg.status, 2) << args;
        EXPECT_EQ(reg.out, "") << args;
        EXPECT_EQ(reg.err, error + "loop.klavor: not written (--no-check writes it anyway)\n") << args;
    }
    Outcome show = Klavorcfg("show loop.klavor");
    EXPECT_EQ(show.status, 2);
    EXPECT_EQ(show.out, "");
    EXPECT_EQ(Files(), std::vector<std::string>{"loop.klavor"});

    // For a user who means it.
    Outcome forced = Klavorcfg("reg --no-check loop.klavor -o loop.reg");
    EXPECT_EQ(forced.status, 0);
    EXPECT_EQ(forced.err, "");
    config::Table loop = config::DefaultTable();
    loop[0] = {MODE_CAPTURE, 0xC1, 0, {0xC2, 0, 0, 0, 0}};
    loop[1] = {MODE_CAPTURE, 0xC2, 0, {0xC1, 0, 0, 0, 0}};
    EXPECT_EQ(ReadAll(dir / "loop.reg"), config::FormatRegFile(config::EncodeTable(loop)));
    Outcome shown = Klavorcfg("show loop.reg --no-check");
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find("Calendar   capture  key App1         single App2"), std::string::npos) << shown.out;
    // And what show says of the .reg names slots, having no lines.
    EXPECT_EQ(Klavorcfg("check loop.reg").err.rfind("loop.reg: error: Calendar (slot 0) single sends App2", 0), 0u);
}

TEST_F(KlavorcfgTest, WarningsAreSaidAndTheFileWritten) {
    Write("chain.klavor", "Calendar capture single App2\nContacts capture single A\nCamera capture presses 0\n");
    const std::string warning = "chain.klavor:1: warning: Calendar single sends App2, a press of Contacts (line 2); "
                                "Contacts single then sends A\n";
    Outcome check = Klavorcfg("check chain.klavor");
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.err, warning);
    EXPECT_EQ(check.out, "chain.klavor: no errors, 1 warning\n");
    Outcome reg = Klavorcfg("reg chain.klavor -o chain.reg");
    EXPECT_EQ(reg.status, 0);
    EXPECT_EQ(reg.err, warning);
    EXPECT_EQ(Klavorcfg("reg chain.klavor --no-check").err, "");
    EXPECT_EQ(Klavorcfg("check chain.reg").status, 0);
    // A value the program ignores cannot be written, so check refuses it.
    Write("short.bin", std::string(127, '\0'));
    Outcome shortValue = Klavorcfg("check short.bin");
    EXPECT_EQ(shortValue.status, 2);
    EXPECT_EQ(shortValue.err, "short.bin: the value is 127 bytes long; the program takes only 128\n");
    Write("fine.klavor", "Red capture single Enter\n");
    Outcome fine = Klavorcfg("check fine.klavor");
    EXPECT_EQ(fine.status, 0);
    EXPECT_EQ(fine.err, "");
    EXPECT_EQ(fine.out, "fine.klavor: no errors, no warnings\n");
}

TEST_F(KlavorcfgTest, TimingSaysWhenEachPressIsSent) {
    // Green waits for a double, then a triple; Contacts loses its key to
    // Camera; a loop does not stop the timing being told.
    Write("t.klavor", "Green capture single TTalk double Enter triple Win+D\nCamera capture single A\n"
                      "Contacts capture key App3 single B\nRecord free\n"
                      "Volume Up capture single App4 presses 1\nRed capture key App4 single TVolumeUp\n");
    Outcome run = Klavorcfg("timing t.klavor");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "Calendar: left alone: its presses do what they did without Klavor\n"
              "Contacts: its presses go to Camera, later in the table on the same key\n"
              "Camera\n"
              "  single: sent within 0.1 s of the press\n"
              "Record: free: Klavor takes its presses and sends nothing\n"
              "Volume Up\n"
              "  single: sent 0.5-0.6 s after the press, since a double press is configured; for the double, press "
              "again within 0.5 s\n"
              "  double: sent within 0.1 s of the second press\n"
              "Volume Dn: left alone: its presses do what they did without Klavor\n"
              "Green\n"
              "  single: sent 0.5-0.6 s after the press, since a double press is configured; for the double, press "
              "again within 0.5 s\n"
              "  double: sent 0.5-0.6 s after the second press, since a triple press is configured; for the triple, "
              "press again within 0.5 s\n"
              "  triple: sent within 0.1 s of the third press\n"
              "Red\n"
              "  single: sent within 0.1 s of the press\n");
    Write("short.bin", std::string(127, '\0'));
    EXPECT_EQ(Klavorcfg("timing short.bin").status, 2);
}

// ---- Installation cabinets -----------------------------------------------------

config::Bytes AsBytes(const std::string& s) { return config::Bytes(s.begin(), s.end()); }

std::optional<cecab::InstallCabinet> ReadCab(const fs::path& path) {
    std::string error;
    auto cab = cecab::ReadInstallCabinet(AsBytes(ReadAll(path)), path.filename().string(), &error);
    EXPECT_TRUE(cab) << error;
    return cab;
}

const char kConfig[] = "Green capture single \"Green Btn\" double Win+D triple Enter\nRecord free\n";

TEST_F(KlavorcfgTest, CabHoldsTheExeAndExactlyTheValueRegWrites) {
    Write("my.klavor", kConfig);
    const std::string exe = ArmExe();
    const std::string setup = ArmExe(3000);
    Write("klavor.exe", exe);
    Write("klavor_setup.dll", setup);
    Outcome run = Klavorcfg("cab my.klavor --exe klavor.exe -o Klavor.cab");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "klavorcfg: klavor_setup.dll from klavor_setup.dll\n");
    EXPECT_EQ(Files(), (std::vector<std::string>{"Klavor.cab", "klavor.exe", "klavor_setup.dll", "my.klavor"}));

    // The value inside is byte for byte the one the .reg file carries.
    Outcome reg = Klavorcfg("reg my.klavor");
    std::string error;
    std::optional<config::Bytes> regValue = config::ParseRegFile(reg.out, "my.reg", &error);
    ASSERT_TRUE(regValue) << error;
    std::optional<cecab::InstallCabinet> cab = ReadCab(dir / "Klavor.cab");
    ASSERT_TRUE(cab);
    EXPECT_TRUE(cab->setup == config::KlavorSetup(*regValue));
    const cecab::CeRegValue* value = config::FindKlavorValue(cab->setup);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->data, *regValue);
    // The setup program, from beside the exe, right after the control file.
    ASSERT_EQ(cab->members.size(), 3u);
    EXPECT_EQ(cab->members[1].name, "KLAVOR.999");
    EXPECT_EQ(cab->members[1].data, AsBytes(setup));
    EXPECT_EQ(cab->members[2].data, AsBytes(exe));
    // --no-setup: the shape before it, klavor.exe alone; --setup names another.
    Write("other.dll", ArmExe(2000));
    const struct {
        const char* options;
        std::vector<std::string> members;
        std::string setupBytes;
    } shapes[] = {{"--no-setup", {"KLAVOR.000", "KLAVOR.001"}, ""},
                  {"--setup other.dll", {"KLAVOR.000", "KLAVOR.999", "KLAVOR.001"}, ArmExe(2000)}};
    for (const auto& shape : shapes) {
        Outcome made = Klavorcfg(std::string("cab my.klavor --exe klavor.exe ") + shape.options + " -o shaped.cab");
        ASSERT_EQ(made.status, 0) << shape.options << ": " << made.err;
        std::optional<cecab::InstallCabinet> shaped = ReadCab(dir / "shaped.cab");
        ASSERT_TRUE(shaped) << shape.options;
        std::vector<std::string> names;
        for (const cecab::CabMember& m : shaped->members) names.push_back(m.name);
        EXPECT_EQ(names, shape.members) << shape.options;
        if (!shape.setupBytes.empty()) {
            EXPECT_EQ(shaped->members[1].data, AsBytes(shape.setupBytes));
        }
    }
    EXPECT_EQ(Klavorcfg("cab my.klavor --exe klavor.exe --setup other.dll --no-setup -o x.cab").status, 2);

#ifdef CABEXTRACT_PATH
    for (std::string options : {"-t", "-l", "-q -d out"}) {
        std::string command = "cd '" + dir.string() + "' && '" CABEXTRACT_PATH "' " + options + " Klavor.cab >cabextract 2>&1";
        int raw = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << options << ": " << ReadAll(dir / "cabextract");
        if (options[1] != 'q') {
            EXPECT_NE(ReadAll(dir / "cabextract").find("All done, no errors."), std::string::npos) << options;
        }
    }
    EXPECT_EQ(ReadAll(dir / "out" / "KLAVOR.001"), exe);
    EXPECT_EQ(ReadAll(dir / "out" / "KLAVOR.999"), setup);
#endif

    // show lists it, and its output is the configuration again.
    Outcome shown = Klavorcfg("show Klavor.cab");
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("#   copy klavor.exe (KLAVOR.001, 40000 bytes) into \\Program Files\\Klavor (%CE1%\\Klavor)"),
              std::string::npos) << shown.out;
    for (const char* folder : {"\\Windows\\StartUp (%CE4%)", "\\Windows\\Start Menu\\Programs (%CE11%)"})
        EXPECT_NE(shown.out.find(std::string("#   make the shortcut Klavor.lnk in ") + folder + " to \\Program Files\\Klavor\\klavor.exe\n"),
                  std::string::npos) << shown.out;
    Write("shown.klavor", shown.out);
    EXPECT_EQ(Klavorcfg("reg shown.klavor").out, reg.out);
    // A cabinet is a configuration input like the others.
    EXPECT_EQ(Klavorcfg("reg Klavor.cab").out, reg.out);
    EXPECT_EQ(Klavorcfg("check Klavor.cab").out, "Klavor.cab: no errors, no warnings\n");
    // The same inputs make the same file; -o - writes it to standard output.
    EXPECT_EQ(Klavorcfg("cab my.klavor --exe klavor.exe -o again.cab").status, 0);
    EXPECT_EQ(ReadAll(dir / "again.cab"), ReadAll(dir / "Klavor.cab"));
    EXPECT_EQ(Klavorcfg("cab my.klavor --exe klavor.exe -o -").out, ReadAll(dir / "Klavor.cab"));
    // In any time zone: the date is klavor.exe's, taken in UTC.
    for (const char* zone : {"UTC", "Asia/Tokyo", "America/Los_Angeles", "Pacific/Chatham"})
        EXPECT_EQ(Klavorcfg("cab my.klavor --exe klavor.exe -o -", "stdout", std::string("TZ=") + zone).out,
                  ReadAll(dir / "Klavor.cab")) << zone;
}

TEST_F(KlavorcfgTest, CabWithoutConfigSetsNoValue) {
    Write("klavor.exe", ArmExe(400));
    Outcome run = Klavorcfg("cab --no-config --exe klavor.exe --no-setup -o Klavor.cab");
    ASSERT_EQ(run.status, 0) << run.err;
    std::optional<cecab::InstallCabinet> cab = ReadCab(dir / "Klavor.cab");
    ASSERT_TRUE(cab);
    EXPECT_TRUE(cab->setup == config::KlavorSetup(std::nullopt));
    EXPECT_TRUE(cab->setup.values.empty() && cab->setup.hives.empty());
    Outcome shown = Klavorcfg("show Klavor.cab");
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find("# It sets no klavorKeyTable value"), std::string::npos) << shown.out;
    Outcome reg = Klavorcfg("reg Klavor.cab");
    EXPECT_EQ(reg.status, 2);
    EXPECT_EQ(reg.err, "Klavor.cab: the cabinet sets no klavorKeyTable value\n");
}

TEST_F(KlavorcfgTest, CabMakesNoCabinetFromARefusedConfigurationOrABadInput) {
    Write("loop.klavor", "Calendar capture single 0xC2\nContacts capture single 0xC1\n");
    Write("bad.klavor", "Red capture single Nothing\n");
    Write("short.bin", std::string(127, '\0'));
    Write("fine.klavor", kConfig);
    Write("klavor.exe", ArmExe(400));
    Write("empty.exe", "");
    Write("Klavor.cab", "old");
    const std::vector<std::string> before = Files();
    struct Case {
        std::string args, err;
    };
    const Case cases[] = {
        {"loop.klavor --exe klavor.exe",
         "loop.klavor:1: error: Calendar single sends App2, a press of Contacts (line 2); Contacts single sends App1, a "
         "press of Calendar (line 1) again: from one press Klavor would send actions on its own forever, one every tick, "
         "until it exits\nloop.klavor: no cabinet written (--no-check writes it anyway)\n"},
        {"bad.klavor --exe klavor.exe", "bad.klavor:1: "},
        {"short.bin --exe klavor.exe", "short.bin: the value is 127 bytes long; the program takes only 128\n"},
        {"fine.klavor --exe missing.exe", "missing.exe: cannot open: No such file or directory\n"},
        {"fine.klavor --exe empty.exe", "empty.exe: the file is empty\n"},
        {"fine.klavor --exe .", ".: cannot read: Is a directory\n"},
    };
    for (const Case& c : cases) {
        for (std::string out : {"Klavor.cab", "new.cab"}) {
            Outcome run = Klavorcfg("cab " + c.args + " --no-setup -o " + out);
            EXPECT_EQ(run.status, 2) << c.args;
            EXPECT_EQ(run.out, "") << c.args;
            EXPECT_EQ(run.err.substr(0, c.err.size()), c.err) << c.args;
        }
    }
    // Nor over its own inputs, a read-only file or a full disk.
    Outcome run = Klavorcfg("cab fine.klavor --exe klavor.exe --no-setup -o klavor.exe");
    EXPECT_EQ(run.err, "klavorcfg: klavor.exe is the input file itself; give another output file\n");
    // The setup program is an input too, and must be there unless left out.
    run = Klavorcfg("cab fine.klavor --exe klavor.exe --setup klavor.exe -o klavor.exe");
    EXPECT_EQ(run.err, "klavorcfg: klavor.exe is the input file itself; give another output file\n");
    run = Klavorcfg("cab fine.klavor --exe klavor.exe -o new.cab");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "klavorcfg: no klavor_setup.dll beside klavor.exe (the phone build makes both); give --setup "
                       "DLL, or --no-setup for a cabinet without the setup program\n");
    fs::permissions(dir / "Klavor.cab", fs::perms::owner_read);
    run = Klavorcfg("cab fine.klavor --exe klavor.exe --no-setup -o Klavor.cab");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "klavorcfg: Klavor.cab: the file is read-only; it is left as it is\n");
    run = Klavorcfg("cab fine.klavor --exe klavor.exe --no-setup -o /dev/full");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "klavorcfg: /dev/full: cannot write: No space left on device\n");
    EXPECT_EQ(ReadAll(dir / "Klavor.cab"), "old");
    EXPECT_EQ(ReadAll(dir / "klavor.exe"), ArmExe(400));
    EXPECT_EQ(Files(), before);

    // For a user who means it.
    fs::permissions(dir / "Klavor.cab", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Klavorcfg("cab loop.klavor --no-check --exe klavor.exe --no-setup -o Klavor.cab").status, 0);
    EXPECT_TRUE(ReadCab(dir / "Klavor.cab"));
}

TEST_F(KlavorcfgTest, CabSaysWhenTheExeIsNotForThePhones) {
    Write("my.klavor", kConfig);
    Write("desktop.exe", "MZ and nothing else, for sure not ARM Windows CE; padding padding padding");
    Write("desktop.dll", "MZ and nothing else either");
    Outcome run = Klavorcfg("cab my.klavor --exe desktop.exe --setup desktop.dll -o Klavor.cab");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "desktop.exe: warning: not a Windows program (no PE header); the phones cannot run it\n"
                       "desktop.dll: warning: not a Windows program (no MZ header); the phones cannot run it\n");
    Outcome shown = Klavorcfg("show Klavor.cab");
    EXPECT_NE(shown.out.find("# warning: klavor.exe is not a Windows program (no PE header); the phones cannot run it\n"),
              std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("# warning: KLAVOR.999 is not a Windows program (no MZ header); the phones cannot run it\n"),
              std::string::npos) << shown.out;
}

TEST_F(KlavorcfgTest, CabTakesThePhoneBuildBesideItsOwnBuildTree) {
    // A copy of the tool where a preset's build puts it.
    const fs::path tool = dir / "src/build/default/tools/klavorcfg/klavorcfg";
    fs::create_directories(tool.parent_path());
    fs::copy_file(KLAVORCFG_PATH, tool);
    Write("my.klavor", kConfig);
    const fs::path phoneExe = fs::weakly_canonical(dir) / "src/build/phone/klavor.exe";
    auto run = [&] {
        std::string command = "cd '" + dir.string() + "' && '" + tool.string() + "' cab my.klavor -o Klavor.cab >stdout 2>stderr";
        int raw = std::system(command.c_str());
        return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(dir / "stdout"), ReadAll(dir / "stderr")};
    };
    Outcome missing = run();
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "klavorcfg: no phone build of klavor.exe at " + phoneExe.string() +
                               "; build it with `cmake --workflow --preset phone`, or give --exe EXE\n");
    EXPECT_FALSE(fs::exists(dir / "Klavor.cab"));

    fs::create_directories(phoneExe.parent_path());
    std::ofstream(phoneExe, std::ios::binary) << ArmExe(2000);
    const fs::path phoneDll = phoneExe.parent_path() / "klavor_setup.dll";
    std::ofstream(phoneDll, std::ios::binary) << ArmExe(1500);
    Outcome found = run();
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(found.err, "klavorcfg: klavor.exe from " + phoneExe.string() + "\nklavorcfg: klavor_setup.dll from " +
                             phoneDll.string() + "\n");
    std::optional<cecab::InstallCabinet> cab = ReadCab(dir / "Klavor.cab");
    ASSERT_TRUE(cab);
    EXPECT_EQ(cab->members[1].data, AsBytes(ArmExe(1500)));
    EXPECT_EQ(cab->members[2].data, AsBytes(ArmExe(2000)));
}

TEST_F(KlavorcfgTest, ShowRefusesBrokenCabinetsSayingWhatIsWrong) {
    Write("my.klavor", kConfig);
    Write("klavor.exe", ArmExe(1000));
    ASSERT_EQ(Klavorcfg("cab my.klavor --exe klavor.exe --no-setup -o good.cab").status, 0);
    const std::string good = ReadAll(dir / "good.cab");
    Write("half.cab", good.substr(0, good.size() / 2));
    Write("text.cab", "not a cabinet at all\n");
    std::string noExe = good;
    noExe.replace(noExe.find("KLAVOR.001"), 10, "KLAVOR.002");
    Write("noexe.cab", noExe);
    const struct {
        const char* file;
        std::string err;
    } cases[] = {
        {"half.cab", "half.cab: truncated: the header says the cabinet is " + std::to_string(good.size()) +
                         " bytes, the file has " + std::to_string(good.size() / 2) + " bytes\n"},
        {"text.cab", "text.cab: not a cabinet (it does not start with MSCF)\n"},
        {"noexe.cab", "noexe.cab: KLAVOR.000 installs klavor.exe from member number 1, which the cabinet does not hold\n"},
    };
    for (const auto& c : cases) {
        for (std::string command : {"show", "check", "reg"}) {
            Outcome run = Klavorcfg(command + " " + c.file);
            EXPECT_EQ(run.status, 2) << command << " " << c.file;
            EXPECT_EQ(run.out, "") << command << " " << c.file;
            EXPECT_EQ(run.err, c.err) << command << " " << c.file;
        }
    }
}

}  // namespace
