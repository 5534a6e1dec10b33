// The configurator page's C API, called natively as the page calls it from
// WebAssembly: byte buffers and strings in, one result buffer out.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/config_check.h"
#include "config/config_text.h"
#include "config/klavor_cab.h"
#include "engine/key_table.h"
#include "web/api/klavor_api.h"

// What the page build embeds from the phone build; here, a stand-in.
extern "C" const unsigned char klavor_exe[] = {'M', 'Z', 0, 1, 2};
extern "C" const unsigned klavor_exe_size = sizeof klavor_exe;
extern "C" const long long klavor_exe_modified = 1700000000;
extern "C" const unsigned char klavor_setup_dll[] = {'M', 'Z', 9, 9};
extern "C" const unsigned klavor_setup_dll_size = sizeof klavor_setup_dll;

namespace {

using config::Bytes;

std::string Result() { return std::string(reinterpret_cast<const char*>(klavor_result()), klavor_result_size()); }

Bytes ResultBytes() { return Bytes(klavor_result(), klavor_result() + klavor_result_size()); }

Bytes TableOf(const std::string& text) {
    std::string error;
    std::optional<config::Table> table = config::ParseConfigText(text, "t", &error);
    EXPECT_TRUE(table) << error;
    return config::EncodeTable(table ? *table : config::DefaultTable());
}

// A folder of the test's own, for files klavorcfg reads and writes.
struct Folder {
    std::filesystem::path path = std::filesystem::path(testing::TempDir()) /
                                 ("klavor-web-api-" + std::to_string(::getpid()) + "-" +
                                  testing::UnitTest::GetInstance()->current_test_info()->name());
    Folder() { std::filesystem::create_directories(path); }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string Read(const std::string& name) const {
        std::ifstream in(path / name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Write(const std::string& name, const std::string& content) const {
        std::ofstream(path / name, std::ios::binary) << content;
    }
};

struct Ran {
    int status;
    std::string out, err;
};

// klavorcfg as a user runs it, in the folder.
Ran Klavorcfg(const Folder& folder, const std::string& args) {
    std::string command = "cd '" + folder.path.string() + "' && '" KLAVORCFG_PATH "' " + args + " >stdout 2>stderr";
    int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, folder.Read("stdout"), folder.Read("stderr")};
}

Bytes Open(const std::string& name, const std::string& content, int expect = 1) {
    EXPECT_EQ(klavor_open(name.c_str(), reinterpret_cast<const unsigned char*>(content.data()),
                          static_cast<unsigned>(content.size())),
              expect)
        << Result();
    return ResultBytes();
}

// The page opens the table klavorcfg opens from the same file, and refuses
// what klavorcfg refuses, in its words.
TEST(WebApi, OpensWhatKlavorcfgOpensAndRefusesWithItsWords) {
    const std::string text = "# mine\nGreen capture single TTalk double Win+D\nRecord free\n";
    const Bytes table = TableOf(text);
    const Bytes exe(klavor_exe, klavor_exe + klavor_exe_size);
    const Bytes cab = *config::BuildKlavorCabinet(exe, table, klavor_exe_modified, nullptr);
    const Bytes bare = *config::BuildKlavorCabinet(exe, std::nullopt, klavor_exe_modified, nullptr);
    const struct {
        std::string name, content;
        std::optional<Bytes> table;  // none: refused
        std::string message;
    } files[] = {
        {"mine.klavor", text, table, ""},
        {"mine.reg", config::FormatRegFile(table), table, ""},
        {"mine.bin", std::string(table.begin(), table.end()), table, ""},
        {"Klavor.cab", std::string(cab.begin(), cab.end()), table, ""},
        {"bare.cab", std::string(bare.begin(), bare.end()), std::nullopt, "bare.cab: the cabinet sets no klavorKeyTable value"},
        {"bad.klavor", "\nRed capture single \"red*2\"\n", std::nullopt,
         "bad.klavor:2: unknown action label \"red*2\" for Red single; did you mean \"Red*2\"?"},
        {"short.bin", std::string(127, '\0'), std::nullopt, "short.bin: the value is 127 bytes long; the program takes only 128"},
        {"long.reg", config::FormatRegFile(Bytes(129, 1)), std::nullopt,
         "long.reg: the value is 129 bytes long; the program takes only 128"},
    };
    Folder folder;
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        Bytes opened = Open(f.name, f.content, f.table ? 1 : 0);
        folder.Write(f.name, f.content);
        Ran theirs = Klavorcfg(folder, "reg --no-check " + f.name);
        if (f.table) {
            EXPECT_EQ(opened, *f.table);
            ASSERT_EQ(theirs.status, 0) << theirs.err;
            EXPECT_EQ(theirs.out, config::FormatRegFile(opened));
        } else {
            EXPECT_EQ(Result(), f.message);
            EXPECT_EQ(theirs.status, 2);
            EXPECT_EQ(theirs.err, f.message + "\n");
        }
    }
}

TEST(WebApi, EachEditIsTheTextFormsWord) {
    // Each edit on the built-in table against the same table written as text.
    struct Case {
        int slot;
        const char* field;
        int press;
        const char* word;
        const char* text;  // the table after it, as text; null: refused
        const char* message;
    } cases[] = {
        {6, "mode", 0, "capture", "Green capture", nullptr},
        {6, "mode", 0, "CAPTURE", "Green capture", nullptr},
        {6, "key", 0, "TEnd", "Green leave key TEnd", nullptr},
        {6, "presses", 0, "4", "Green leave presses 4", nullptr},
        {6, "action", 1, "Enter", "Green leave single \"Green Btn\" double Enter triple \"Green*3\" presses 2", nullptr},
        {6, "action", 4, "\"Calendar*2\"", "Green leave single \"Green Btn\" double \"Green*2\" triple \"Green*3\" 5x \"Calendar*2\" presses 2", nullptr},
        {0, "action", 0, "0x12C1", "Calendar leave single 0x12C1 double \"Calendar*2\" triple \"Calendar*3\"", nullptr},
        {0, "win-action", 0, "D", "Calendar leave single Win+D double \"Calendar*2\" triple \"Calendar*3\"", nullptr},
        {0, "win-action", 1, "\"Camera*3\"", "Calendar leave single Win+App1 double Win+0x0D triple \"Calendar*3\"", nullptr},
        {6, "mode", 0, "grab", nullptr, "unknown mode \"grab\"; say leave, free or capture"},
        {6, "mode", 0, "", nullptr, "nothing given"},
        {6, "key", 0, "Bogus", nullptr,
         "unknown key \"Bogus\" for the key (a key name such as A, Enter, TTalk or App1, see klavorcfg --help, or hex 0x00-0xFF)"},
        {6, "presses", 0, "x", nullptr, "presses must be a number, not \"x\""},
        {6, "action", 0, "Win+", nullptr, "Win+ needs a key after it for the action"},
        {6, "win-action", 0, "0x12C1", nullptr, "Win+ takes a one-byte key, not 0x12C1"},
        {6, "action", 5, "A", nullptr, "no press 5; a button has 5"},
        {6, "action", 0, "A B", nullptr, "one word only, not \"A B\""},
        {8, "mode", 0, "free", nullptr, "no button 8"},
        {6, "colour", 0, "red", nullptr, "no field colour"},
    };
    Bytes table = TableOf("");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.word);
        int ok = klavor_edit(table.data(), static_cast<unsigned>(table.size()), c.slot, c.field, c.press, c.word);
        if (c.text) {
            EXPECT_EQ(ok, 1) << Result();
            EXPECT_EQ(ResultBytes(), TableOf(c.text));
        } else {
            EXPECT_EQ(ok, 0);
            EXPECT_EQ(Result(), c.message);
        }
    }
    EXPECT_EQ(klavor_edit(table.data(), 100, 0, "mode", 0, "free"), 0);
    EXPECT_EQ(Result(), "a table is 128 bytes, not 100");
}

TEST(WebApi, ViewSaysWhatTheCheckAndTheTimingSay) {
    Bytes table = TableOf("Calendar capture single App2\nContacts capture single App1\nGreen capture single \"FAKE\" double A\n");
    ASSERT_EQ(klavor_view(table.data(), static_cast<unsigned>(table.size())), 1);
    std::string view = Result();
    // The loop, at Calendar's single press, naming Contacts; buttons by name alone.
    EXPECT_NE(view.find("{\"error\":true,\"slot\":0,\"presses\":[0],\"others\":[1],\"message\":\"Calendar single sends "
                        "App2, a press of Contacts; Contacts single sends App1, a press of Calendar again: from one "
                        "press Klavor would send actions on its own forever, one every tick, until it exits\"}"),
              std::string::npos)
        << view;
    // Code 0 at Green's single press: quotes escaped.
    EXPECT_NE(view.find("{\"error\":false,\"slot\":6,\"presses\":[0],\"others\":[],\"message\":\"Green single sends "
                        "code 0 (\\\"FAKE\\\"), which nothing receives\"}"),
              std::string::npos)
        << view;
    EXPECT_NE(view.find("\"errors\":1,\"warnings\":1}"), std::string::npos);
    // Green's presses: what each sends and when, from the check's own model.
    config::ButtonTiming timing = config::Timing(*config::DecodeValue(table), 6);
    ASSERT_EQ(timing.presses.size(), 2u);
    EXPECT_NE(view.find("{\"index\":1,\"word\":\"double\",\"code\":65,\"action\":\"A\",\"win\":false,\"base\":\"A\","
                        "\"sameKey\":\"\",\"timing\":\"" + timing.presses[1] + "\"}"),
              std::string::npos)
        << view;
    EXPECT_EQ(timing.presses[1], "sent within 0.1 s of the second press");
    // A left button: its note, and the presses it would send.
    EXPECT_NE(view.find("\"name\":\"Red\",\"mode\":0,\"modeWord\":\"leave\",\"key\":\"TEnd\",\"vk\":115,\"count\":2,"
                        "\"used\":2,\"note\":\"left alone: its presses do what they did without Klavor\""),
              std::string::npos)
        << view;
    EXPECT_NE(view.find("\"code\":16,\"action\":\"\\\"Red*3\\\"\""), std::string::npos);
}

// The page's files are byte for byte what klavorcfg writes for the same
// table and the same klavor.exe: the .reg, the cabinet (dated by the
// program's modification time), the text show prints. What klavorcfg does
// not write without --no-check, the page does not write unforced.
TEST(WebApi, ExportsWhatKlavorcfgWrites) {
    Folder folder;
    folder.Write("klavor.exe", std::string(klavor_exe, klavor_exe + klavor_exe_size));
    folder.Write("klavor_setup.dll", std::string(klavor_setup_dll, klavor_setup_dll + klavor_setup_dll_size));
    const utimbuf modified{static_cast<time_t>(klavor_exe_modified), static_cast<time_t>(klavor_exe_modified)};
    ASSERT_EQ(::utime((folder.path / "klavor.exe").c_str(), &modified), 0);
    const Bytes fine = TableOf("Green capture single TTalk\n");
    const Bytes loop = TableOf("Calendar capture single App2\nContacts capture single App1\n");
    const std::string cab = "cab Klavor.klavor -o Klavor.cab --exe klavor.exe";
    const struct {
        const char* table;
        const char* kind;
        int force;
        std::string klavorcfg;
    } cases[] = {
        {"fine", "reg", 0, "reg Klavor.klavor"},
        {"fine", "cab", 0, cab},
        {"fine", "text", 0, "show Klavor.klavor"},
        // An error: no .reg or .cab unless forced; the text is still the user's to keep.
        {"loop", "reg", 0, "reg Klavor.klavor"},
        {"loop", "cab", 0, cab},
        {"loop", "reg", 1, "reg --no-check Klavor.klavor"},
        {"loop", "cab", 1, cab + " --no-check"},
        {"loop", "text", 0, "show --no-check Klavor.klavor"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.table) + " " + c.kind + (c.force ? " forced" : ""));
        const Bytes& table = std::string(c.table) == "fine" ? fine : loop;
        // The page's table, as the raw image klavorcfg reads.
        folder.Write("Klavor.klavor", std::string(table.begin(), table.end()));
        std::filesystem::remove(folder.path / "Klavor.cab");
        std::string name = std::string(c.kind) == "text" ? "Klavor.klavor" : std::string("Klavor.") + c.kind;
        int written = klavor_export(table.data(), 128, c.kind, name.c_str(), c.force);
        Ran theirs = Klavorcfg(folder, c.klavorcfg);
        EXPECT_EQ(written == 1, theirs.status == 0) << theirs.err;
        if (written != 1) {
            EXPECT_EQ(Result(), name + ": not written: the check finds an error (make it anyway to write it)");
            continue;
        }
        std::string file = std::string(c.kind) == "cab" ? folder.Read("Klavor.cab") : theirs.out;
        EXPECT_FALSE(file.empty());
        EXPECT_TRUE(Result() == file) << "the page's " << Result().size() << " bytes, klavorcfg's " << file.size();
    }
    EXPECT_EQ(klavor_export(loop.data(), 128, "zip", "x", 1), 0);
    EXPECT_EQ(Result(), "no kind of file zip");
}

TEST(WebApi, CatalogAndTheCarriedProgram) {
    ASSERT_EQ(klavor_catalog(), 1);
    std::string catalog = Result();
    EXPECT_EQ(catalog.rfind("{\"buttons\":[\"Calendar\",\"Contacts\",\"Camera\",\"Record\",\"Volume Up\",\"Volume Dn\","
                            "\"Green\",\"Red\"],\"modes\":[{\"mode\":0,\"word\":\"leave\"},{\"mode\":1,\"word\":"
                            "\"free\"},{\"mode\":2,\"word\":\"capture\"}],",
                            0),
              0u)
        << catalog;
    EXPECT_NE(catalog.find("\"pressWords\":[\"single\",\"double\",\"triple\",\"4x\",\"5x\"]"), std::string::npos);
    // Each name in the group a picker files it under; an alias says its printed name.
    EXPECT_NE(catalog.find("{\"name\":\"phone keys\",\"keys\":[{\"name\":\"TAction\",\"vk\":13,\"printed\":\"Enter\"}"),
              std::string::npos)
        << catalog;
    EXPECT_NE(catalog.find("{\"name\":\"function keys\",\"keys\":[{\"name\":\"F1\",\"vk\":112,\"printed\":\"TSoft1\"}"),
              std::string::npos);
    EXPECT_NE(catalog.find("\"labels\":[{\"code\":0,\"word\":\"\\\"FAKE\\\"\"}"), std::string::npos);
    // A new configuration starts as the program's own built-in table.
    ASSERT_EQ(klavor_defaults(), 1);
    ASSERT_EQ(klavor_result_size(), sizeof DefaultKeyTable);
    EXPECT_EQ(std::memcmp(klavor_result(), DefaultKeyTable, sizeof DefaultKeyTable), 0);
    ASSERT_EQ(klavor_program(), 1);
    EXPECT_EQ(ResultBytes(), Bytes(klavor_exe, klavor_exe + klavor_exe_size));
}

}  // namespace
