// The configurator page's C API, called natively as the page calls it from
// WebAssembly: byte buffers and strings in, one result buffer out.
#include <gtest/gtest.h>

#include "config/config_check.h"
#include "config/config_text.h"
#include "config/klavor_cab.h"
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

Bytes Open(const std::string& name, const std::string& content, int expect = 1) {
    EXPECT_EQ(klavor_open(name.c_str(), reinterpret_cast<const unsigned char*>(content.data()),
                          static_cast<unsigned>(content.size())),
              expect)
        << Result();
    return ResultBytes();
}

TEST(WebApi, OpensWhatKlavorcfgOpensAndRefusesWithItsWords) {
    const std::string text = "# mine\nGreen capture single TTalk double Win+D\nRecord free\n";
    Bytes table = TableOf(text);
    EXPECT_EQ(Open("mine.klavor", text), table);
    EXPECT_EQ(Open("mine.reg", config::FormatRegFile(table)), table);
    EXPECT_EQ(Open("mine.bin", std::string(table.begin(), table.end())), table);

    Bytes exe(klavor_exe, klavor_exe + klavor_exe_size);
    Bytes cab = *config::BuildKlavorCabinet(exe, table, klavor_exe_modified, nullptr);
    EXPECT_EQ(Open("Klavor.cab", std::string(cab.begin(), cab.end())), table);
    Bytes bare = *config::BuildKlavorCabinet(exe, std::nullopt, klavor_exe_modified, nullptr);

    struct Bad {
        std::string name, content, message;
    } bad[] = {
        {"bare.cab", std::string(bare.begin(), bare.end()), "bare.cab: the cabinet sets no klavorKeyTable value"},
        {"bad.klavor", "\nRed capture single \"red*2\"\n",
         "bad.klavor:2: unknown action label \"red*2\" for Red single; did you mean \"Red*2\"?"},
        {"short.bin", std::string(127, '\0'), "short.bin: the value is 127 bytes long; the program takes only 128"},
        {"long.reg", config::FormatRegFile(Bytes(129, 1)),
         "long.reg: the value is 129 bytes long; the program takes only 128"},
    };
    for (const Bad& b : bad) {
        Open(b.name, b.content, 0);
        EXPECT_EQ(Result(), b.message);
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

TEST(WebApi, ExportsWhatKlavorcfgWrites) {
    Bytes fine = TableOf("Green capture single TTalk\n");
    Bytes exe(klavor_exe, klavor_exe + klavor_exe_size);
    Bytes setup(klavor_setup_dll, klavor_setup_dll + klavor_setup_dll_size);
    Bytes cab = *config::BuildKlavorCabinet(exe, setup, fine, klavor_exe_modified, nullptr);
    ASSERT_EQ(klavor_export(fine.data(), 128, "reg", "Klavor.reg", 0), 1);
    EXPECT_EQ(Result(), config::FormatRegFile(fine));
    ASSERT_EQ(klavor_export(fine.data(), 128, "cab", "Klavor.cab", 0), 1);
    EXPECT_EQ(ResultBytes(), cab);
    ASSERT_EQ(klavor_export(fine.data(), 128, "text", "Klavor.klavor", 0), 1);
    EXPECT_EQ(Result(), config::DescribeValue(fine, "Klavor.klavor"));
    // An error: no .reg or .cab unless forced; the text is still the user's to keep.
    Bytes loop = TableOf("Calendar capture single App2\nContacts capture single App1\n");
    for (const char* kind : {"reg", "cab"}) {
        std::string name = std::string("Klavor.") + kind;
        EXPECT_EQ(klavor_export(loop.data(), 128, kind, name.c_str(), 0), 0);
        EXPECT_EQ(Result(), name + ": not written: the check finds an error (make it anyway to write it)");
    }
    ASSERT_EQ(klavor_export(loop.data(), 128, "reg", "Klavor.reg", 1), 1);
    EXPECT_EQ(Result(), config::FormatRegFile(loop));
    ASSERT_EQ(klavor_export(loop.data(), 128, "cab", "Klavor.cab", 1), 1);
    EXPECT_EQ(ResultBytes(), *config::BuildKlavorCabinet(exe, setup, loop, klavor_exe_modified, nullptr));
    EXPECT_EQ(klavor_export(loop.data(), 128, "text", "Klavor.klavor", 0), 1);
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
    ASSERT_EQ(klavor_defaults(), 1);
    EXPECT_EQ(ResultBytes(), config::EncodeTable(config::DefaultTable()));
    ASSERT_EQ(klavor_program(), 1);
    EXPECT_EQ(ResultBytes(), Bytes(klavor_exe, klavor_exe + klavor_exe_size));
}

}  // namespace
