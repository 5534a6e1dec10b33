// klavorcfg's library: the readable text, .reg files and raw images.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "config/config_text.h"
#include "config/config_file.h"
#include "files/files.h"
#include "platform/sim/phone.h"  // UTF-8 to UTF-16
#include "config/key_names.h"

namespace {

using config::Bytes;
using config::Table;

const std::string kFile = "my.klavor";

Table Parse(const std::string& text) {
    std::string error;
    std::optional<Table> table = config::ParseConfigText(text, kFile, &error);
    EXPECT_TRUE(table) << error;
    return table ? *table : Table{};
}

Bytes Image(const Table& table) { return config::EncodeTable(table); }

Table WithSlot(int slot, KeyEntry entry) {
    Table table = config::DefaultTable();
    table[slot] = entry;
    return table;
}

// Images whose words hold anything, and tidy ones (modes 0..2, counts 0..4)
// whose actions are mostly labels, Win+ keys and unused zeros.
std::vector<Bytes> AssortedImages() {
    std::mt19937 rng(1234);
    std::vector<Bytes> images = {Bytes(KEY_TABLE_BYTES, 0x00), Bytes(KEY_TABLE_BYTES, 0xFF)};
    for (int n = 0; n < 300; ++n) {
        Bytes image(KEY_TABLE_BYTES);
        for (auto& b : image) b = static_cast<std::uint8_t>(rng());
        if (n % 2) {
            Table t = *config::DecodeValue(image);
            for (KeyEntry& e : t) {
                e.mode %= 3, e.count %= KEY_ACTIONS;
                for (WORD& a : e.actions) {
                    if (rng() % 4 == 0) a %= ACTION_CODE_LABELS;
                    else if (rng() % 3 == 0) a = static_cast<WORD>(ACTION_WITH_WIN | (a & ACTION_KEY_MASK));
                    else if (rng() % 2) a = 0;
                }
            }
            image = Image(t);
        }
        images.push_back(image);
    }
    return images;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ---- Round trips --------------------------------------------------------

TEST(ConfigTextRoundTrip, DefaultsAndCaptureAllSurviveTextImageRegImageText) {
    Table captureAll = config::DefaultTable();
    for (auto& e : captureAll) e.mode = MODE_CAPTURE;
    std::string example = ReadAll(KLAVOR_SOURCE_DIR "/examples/capture-all.klavor");
    ASSERT_FALSE(example.empty());
    EXPECT_EQ(Image(Parse(example)), Image(captureAll));
    // The example's lines are what the tool writes for that table.
    EXPECT_NE(example.find(config::FormatConfigText(captureAll)), std::string::npos) << example;

    for (const Table& table : {config::DefaultTable(), captureAll}) {
        std::string text = config::FormatConfigText(table);
        Bytes image = Image(Parse(text));
        EXPECT_EQ(image, Image(table)) << text;
        std::string error;
        auto fromReg = config::ParseRegFile(config::FormatRegFile(image), "x.reg", &error);
        ASSERT_TRUE(fromReg) << error;
        EXPECT_EQ(*fromReg, image);
        EXPECT_EQ(config::FormatConfigText(*config::DecodeValue(*fromReg)), text);
    }
}

TEST(ConfigTextRoundTrip, AnyImageShownAndFedBackIsTheSameBytes) {
    for (const Bytes& image : AssortedImages()) {
        std::string shown = config::DescribeValue(image, "x.bin");
        ASSERT_EQ(Image(Parse(shown)), image) << shown;
        EXPECT_EQ(*config::ParseRegFile(config::FormatRegFile(image), "x.reg", nullptr), image);
    }
}

// ---- The text form ----------------------------------------------------------

TEST(ConfigText, LinesStartFromTheButtonsBuiltInEntry) {
    const Table defaults = config::DefaultTable();
    EXPECT_EQ(Image(Parse("")), Image(defaults));
    EXPECT_EQ(Image(Parse("# nothing\n\n   \r\n")), Image(defaults));

    Table t = Parse("\xEF\xBB\xBF" "Calendar   capture  key 0xC1  single Win+0xC1  double \"Calendar*2\"  triple \"Calendar*3\"\n"
                    "Volume Up  free\n"
                    "slot 5 capture key F7 single 0x02 # the rest as built in\r\n");
    KeyEntry calendar = defaults[0];
    calendar.mode = MODE_CAPTURE;
    KeyEntry volumeUp = defaults[4];
    volumeUp.mode = MODE_FREE;
    KeyEntry slot5 = {MODE_CAPTURE, 0x76, 0, {0x0002, 0, 0, 0, 0}};
    Table expected = defaults;
    expected[0] = calendar, expected[4] = volumeUp, expected[5] = slot5;
    EXPECT_EQ(Image(t), Image(expected));

    // presses alone keeps the built-in actions; written actions replace all five.
    KeyEntry green = defaults[6];
    green.count = 1;
    EXPECT_EQ(Image(Parse("green leave presses 1")), Image(WithSlot(6, green)));
    EXPECT_EQ(Image(Parse("Green leave 5x F1")), Image(WithSlot(6, {0, 0x72, 4, {0, 0, 0, 0, 0x70}})));
}

TEST(ConfigText, KeysActionsAndRawWordsAreSpelledEveryWay) {
    Table t = Parse("\"volume dn\" mode 7 key App6 single F24 double Win+app1 triple 0x12C1 "
                    "4x Calendar*2 5x \"FAKE\" presses 9\n"
                    "RED capture key 0x1234 3x win+f1 presses 0x0\n");
    EXPECT_EQ(Image(t), Image([] {
                  Table e = config::DefaultTable();
                  e[5] = {7, 0xC6, 9, {0x87, 0x40C1, 0x12C1, 0x0005, 0x0000}};
                  e[7] = {MODE_CAPTURE, 0x1234, 0, {0, 0, 0x4070, 0, 0}};
                  return e;
              }()));
}

TEST(ConfigText, EveryMistakeIsRefusedNamingItsLine) {
    struct Case {
        std::string line, message;
    } cases[] = {
        {"Calender capture", "unknown button \"Calender\"; the buttons are Calendar, Contacts"},
        {"slot 8 capture", "slot 8 is out of range (0 to 7)"},
        {"slot capture", "slot must be a number, not \"capture\""},
        {"Camera", "Camera: say leave, free or capture"},
        {"Camera leave capture", "Camera: the mode is given twice"},
        {"Camera capture sometimes", "Camera: unknown word \"sometimes\""},
        {"Camera capture key", "Camera: \"key\" needs a value after it"},
        {"Camera capture key 0x10000", "Camera key 0x10000 is out of range (0 to 65535)"},
        {"Camera capture key F25", "unknown key \"F25\" for Camera key"},
        {"Camera capture presses many", "Camera: presses must be a number, not \"many\""},
        {"Camera capture presses 000099999999999", "Camera: presses 000099999999999 is out of range"},
        {"Camera mode -1", "Camera: mode must be a number, not \"-1\""},
        {"Camera capture single \"camera*2\"", "unknown action label \"camera*2\" for Camera single; did you mean \"Camera*2\"?"},
        {"Camera capture single fake", "did you mean \"FAKE\"?"},
        {"Camera capture single Volume Up", "unknown action \"Volume\" for Camera single"},
        {"Camera capture single 12", "Camera single 12: write key codes in hex"},
        {"Camera capture single Win+0x1C1", "Win+ takes a one-byte key, not 0x1C1"},
        {"Camera capture double F1 double F2", "Camera: double is given twice"},
        {"Camera capture 6x F1", "\"6x\": a button has actions for single to 5x presses only"},
        {"Camera capture single \"FAKE", "a quote is not closed"},
        {"Camera capture single Win+\"FAKE\"", "a quote in the middle of \"Win+\""},
        {"Camera capture \"F1\"", "Camera: \"F1\" must follow single, double, ..."},
    };
    for (const Case& c : cases) {
        // The mistake sits on line 3, after a good line and a comment.
        std::string error;
        auto table = config::ParseConfigText("Red free\n# fine\n" + c.line + "\nGreen free\n", kFile, &error);
        EXPECT_FALSE(table) << c.line;
        EXPECT_EQ(error.rfind("my.klavor:3: ", 0), 0u) << c.line << " -> " << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.line << " -> " << error;
    }
    std::string error;
    EXPECT_FALSE(config::ParseConfigText("Volume Dn free\n\nslot 1 free\nslot 5 leave\n", kFile, &error));
    EXPECT_EQ(error, "my.klavor:4: Volume Dn (slot 5) is already set on line 1");
}

// ---- Key names ---------------------------------------------------------------

// The platform's names and the phone's, as the platform documents them,
// and the aliases people type.
std::map<std::string, unsigned> DocumentedKeyNames() {
    std::map<std::string, unsigned> names = {
        {"BACK", 0x08}, {"TAB", 0x09}, {"RETURN", 0x0D}, {"ESCAPE", 0x1B}, {"SPACE", 0x20},
        {"PRIOR", 0x21}, {"NEXT", 0x22}, {"END", 0x23}, {"HOME", 0x24}, {"LEFT", 0x25},
        {"UP", 0x26}, {"RIGHT", 0x27}, {"DOWN", 0x28}, {"DELETE", 0x2E}, {"LWIN", 0x5B},
        {"TSOFT1", 0x70}, {"TSOFT2", 0x71}, {"TTALK", 0x72}, {"TEND", 0x73}, {"THOME", 0x5B},
        {"TBACK", 0x1B}, {"TACTION", 0x0D}, {"TUP", 0x26}, {"TDOWN", 0x28}, {"TLEFT", 0x25},
        {"TRIGHT", 0x27}, {"TVOLUMEUP", 0x75}, {"TVOLUMEDOWN", 0x76}, {"TSTAR", 0x77},
        {"TPOUND", 0x78}, {"TRECORD", 0x79}, {"TFLIP", 0x80}, {"TPOWER", 0x81},
        {"ENTER", 0x0D}, {"ESC", 0x1B}, {"BACKSPACE", 0x08}, {"PAGEUP", 0x21}, {"PAGEDOWN", 0x22},
    };
    for (unsigned d = 0; d <= 9; ++d) names[std::to_string(d)] = names["T" + std::to_string(d)] = 0x30 + d;
    for (char c = 'A'; c <= 'Z'; ++c) names[std::string(1, c)] = 0x41 + static_cast<unsigned>(c - 'A');
    for (unsigned f = 1; f <= 24; ++f) names["F" + std::to_string(f)] = 0x6F + f;
    for (unsigned a = 1; a <= 6; ++a) names["APP" + std::to_string(a)] = 0xC0 + a;
    return names;
}

std::string Mixed(std::string s) {
    for (std::size_t i = 0; i < s.size(); i += 2) s[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
    return s;
}

TEST(KeyNames, EveryDocumentedNameInAnyCaseAndNoOtherIsAKey) {
    std::map<std::string, unsigned> documented = DocumentedKeyNames();
    for (const auto& [name, vk] : documented) {
        for (const std::string& spelled : {name, Mixed(name)}) {
            EXPECT_EQ(keys::ByName(spelled), vk) << spelled;
            // As a button's key, as an action and with the Windows key held.
            Table t = Parse("Camera capture key " + spelled + " single " + spelled + " double Win+" + spelled);
            EXPECT_EQ(t[2].vk, vk) << spelled;
            EXPECT_EQ(t[2].actions[0], vk) << spelled;
            EXPECT_EQ(t[2].actions[1], ACTION_WITH_WIN | vk) << spelled;
        }
    }
    for (const keys::Name& n : keys::AllNames()) {
        std::string upper;
        for (char c : n.name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(documented.count(upper)) << n.name << " is not a documented name";
    }
    for (const char* none : {"F0", "F25", "App0", "App7", "T10", "VK_RETURN", "Win", "Ctrl", ""})
        EXPECT_FALSE(keys::ByName(none)) << none;
}

TEST(KeyNames, EachCodeIsPrintedByTheNameAPhoneUserKnows) {
    const std::map<unsigned, std::string> printed = {
        {0x08, "Backspace"}, {0x0D, "Enter"}, {0x1B, "Esc"}, {0x21, "PageUp"}, {0x22, "PageDown"},
        {0x25, "Left"}, {0x30, "0"}, {0x39, "9"}, {0x41, "A"}, {0x5B, "LWin"}, {0x70, "TSoft1"},
        {0x72, "TTalk"}, {0x73, "TEnd"}, {0x74, "F5"}, {0x75, "TVolumeUp"}, {0x76, "TVolumeDown"},
        {0x79, "TRecord"}, {0x81, "TPower"}, {0x87, "F24"}, {0xC1, "App1"}, {0xC6, "App6"},
    };
    for (const auto& [vk, name] : printed) EXPECT_EQ(keys::Spell(vk), name);
    for (unsigned vk : {0x00u, 0x07u, 0x5Cu, 0xC7u, 0xFFu}) EXPECT_FALSE(keys::PrintedName(vk)) << vk;
    EXPECT_EQ(keys::Spell(0x07), "0x07");
    EXPECT_EQ(keys::Spell(0x1234), "0x1234");
    // One printed name per code.
    std::map<unsigned, int> perCode;
    for (const keys::Name& n : keys::AllNames()) perCode[n.vk] += n.printed;
    for (const auto& [vk, count] : perCode) EXPECT_EQ(count, 1) << vk;

    EXPECT_EQ(config::FormatConfigText(config::DefaultTable())
                  .rfind("Calendar   leave  key App1         single Win+App1     double \"Calendar*2\"  triple", 0),
              0u);
    EXPECT_NE(config::FormatConfigText(config::DefaultTable()).find("Green      leave  key TTalk "),
              std::string::npos);
}

TEST(KeyNames, EveryActionCodeAndKeyWordIsPrintedSoThatItReadsBack) {
    // Eight key words and forty action codes a table, every 16-bit value of both.
    for (unsigned base = 0; base < 0x10000; base += KEY_SLOTS) {
        Table t = config::DefaultTable();
        for (int s = 0; s < KEY_SLOTS; ++s) {
            t[s].mode = static_cast<WORD>(s % 3);
            t[s].vk = static_cast<WORD>(base + static_cast<unsigned>(s));
            t[s].count = MAX_PRESS_INDEX;
            for (int a = 0; a < KEY_ACTIONS; ++a)
                t[s].actions[a] = static_cast<WORD>(base * KEY_ACTIONS + static_cast<unsigned>(s * KEY_ACTIONS + a));
        }
        std::string text = config::FormatConfigText(t);
        std::string error;
        std::optional<Table> back = config::ParseConfigText(text, kFile, &error);
        ASSERT_TRUE(back) << error << "\n" << text;
        ASSERT_EQ(Image(*back), Image(t)) << text;
    }
}

TEST(KeyNames, DigitsAreKeysAndLongerNumbersStillNeedHex) {
    Table t = Parse("Camera capture single 5 double Win+0 triple 0x05");
    EXPECT_EQ(t[2].actions[0], 0x35);
    EXPECT_EQ(t[2].actions[1], ACTION_WITH_WIN | 0x30);
    EXPECT_EQ(t[2].actions[2], 0x05);
    std::string error;
    EXPECT_FALSE(config::ParseConfigText("Camera capture single 12", kFile, &error));
    EXPECT_NE(error.find("Camera single 12: write key codes in hex (0x12?) or by name"), std::string::npos) << error;
    EXPECT_FALSE(config::ParseConfigText("Camera capture key Enterr", kFile, &error));
    EXPECT_NE(error.find("unknown key \"Enterr\" for Camera key (a key name such as A, Enter"), std::string::npos)
        << error;
}

TEST(ConfigText, TheLinesThatSetEachSlotAreKept) {
    config::Origin origin;
    ASSERT_TRUE(config::ParseConfigText("# c\nRed free\n\nslot 0 capture\n", kFile, nullptr, &origin));
    EXPECT_EQ(origin.file, kFile);
    EXPECT_EQ(origin.lines, (std::array<int, KEY_SLOTS>{4, 0, 0, 0, 0, 0, 0, 2}));
}

// ---- .reg files ---------------------------------------------------------------

TEST(RegFile, WrittenAsRegeditExportsIt) {
    EXPECT_EQ(config::FormatRegFile(Image(config::DefaultTable())),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvane]\r\n"
              "\"klavorKeyTable\"=hex:00,00,c1,00,02,00,c1,40,05,00,0b,00,00,00,00,00,00,00,\\\r\n"
              "  c2,00,02,00,c2,40,06,00,0c,00,00,00,00,00,00,00,c3,00,02,00,c3,40,07,00,0d,\\\r\n"
              "  00,00,00,00,00,00,00,c4,00,02,00,c4,40,08,00,0e,00,00,00,00,00,00,00,75,00,\\\r\n"
              "  02,00,01,00,00,00,00,00,00,00,00,00,00,00,76,00,02,00,02,00,00,00,00,00,00,\\\r\n"
              "  00,00,00,00,00,72,00,02,00,03,00,09,00,0f,00,00,00,00,00,00,00,73,00,02,00,\\\r\n"
              "  04,00,0a,00,10,00,00,00,00,00\r\n\r\n");
}

TEST(RegFile, ReadsWhatRegeditAndPeopleWrite) {
    Bytes image = Image(config::DefaultTable());
    std::string reg = config::FormatRegFile(image);
    // regedit 5: UTF-16LE with a byte order mark, the version header, hex(3).
    std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n; other software\r\n[HKEY_CURRENT_USER\\X]\r\n"
                     "\"klavorKeyTable\"=hex:01,\\\r\n  02\r\n@=\"z\"\r\n" +
                     reg.substr(reg.find("[HKEY")).replace(reg.find("=hex:") - reg.find("[HKEY"), 5, "=hex(3):");
    std::string wide = "\xFF\xFE";
    for (char c : v5) wide += c, wide += '\0';
    EXPECT_EQ(config::ParseRegFile(wide, "w.reg", nullptr), image);
    // LF endings, upper case, one-digit bytes, spaces and comments among the lines.
    EXPECT_EQ(config::ParseRegFile("REGEDIT4\n[hkey_local_machine\\software\\morvane]\n"
                                      "\"KLAVORKEYTABLE\"=hex: A, 0b ,\\ ; first\n; between\n  FF\n",
                                      "l.reg", nullptr),
              (Bytes{0x0A, 0x0B, 0xFF}));
    // Lengths are kept as they are, for show to judge.
    for (std::size_t n : {0u, 127u, 128u, 129u})
        EXPECT_EQ(config::ParseRegFile(config::FormatRegFile(Bytes(n, 7)), "n.reg", nullptr), Bytes(n, 7));
}

TEST(RegFile, EveryMistakeIsRefusedNamingItsLine) {
    const std::string head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvane]\n";
    struct Case {
        std::string text, error;
    } cases[] = {
        {"", "r.reg:1: empty file: expected REGEDIT4"},
        {"REGEDIT5\n", "r.reg:1: not a registry file: the first line must be REGEDIT4"},
        {head + "\"klavorKeyTable\"=hex:00,0g\n", "r.reg:4: \"0g\" is not a hex byte (00 to ff)"},
        {head + "\"klavorKeyTable\"=hex:00,\\\n  100\n", "r.reg:5: \"100\" is not a hex byte"},
        {head + "\"klavorKeyTable\"=hex:00,,01\n", "r.reg:4: two commas with no byte between them"},
        {head + "\"klavorKeyTable\"=hex:00,01\\\n  02\n", "r.reg:4: a comma must come before the \\"},
        {head + "\"klavorKeyTable\"=hex:00,\\\n 01,\n\n", "r.reg:5: the value ends with a comma"},
        {head + "\"klavorKeyTable\"=hex:00,\\\n", "r.reg:4: the file ends inside the value"},
        {head + "\"klavorKeyTable\"=hex:00\n\"klavorKeyTable\"=hex:01\n", "r.reg:5: \"klavorKeyTable\" is set again (first on line 4)"},
        {head + "\"klavorKeyTable\"=dword:00000001\n", "r.reg:4: \"klavorKeyTable\" is a dword; it must be binary"},
        {head + "\"klavorKeyTable\"=hex(4):01,00,00,00\n", "r.reg:4: \"klavorKeyTable\" is hex(4), not binary"},
        {head + "\"klavorKeyTable\"=\"text\"\n", "r.reg:4: \"klavorKeyTable\" is a string"},
        {head + "\"klavorKeyTable\"=-\n", "r.reg:4: \"klavorKeyTable\" deletes the value"},
        {head + "klavorKeyTable=hex:00\n", "r.reg:4: cannot read this line"},
        {head + "[HKEY_LOCAL_MACHINE\\Other\n", "r.reg:4: a key line must end with ]"},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"klavorKeyTable\"=hex:00\n",
         "r.reg:4: no [HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvane] key in the file"},
        {head + "\"other\"=hex:00,\\\n  01\n", "r.reg:5: no \"klavorKeyTable\" value under [HKEY_LOCAL_MACHINE"},
        {"\xFF\xFE\x52", "r.reg: UTF-16 file with an odd number of bytes"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(config::ParseRegFile(c.text, "r.reg", &error)) << c.text;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.text;
    }
}

// ---- Loading files and what show says ---------------------------------

class LoadConfigValueTest : public ::testing::Test {
protected:
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("klavorcfg-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                 "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& content) {
        std::ofstream((dir / name).string(), std::ios::binary) << content;
        return (dir / name).string();
    }
    // A file as the tools read one.
    static std::optional<config::ConfigFile> Load(const std::string& path, std::string* error) {
        std::optional<std::string> content = files::ReadInput(path, error);
        if (!content) return std::nullopt;
        return config::ReadConfigFile(*content, path, error);
    }
    static std::optional<Bytes> LoadValue(const std::string& path, std::string* error) {
        std::optional<config::ConfigFile> file = Load(path, error);
        if (!file) return std::nullopt;
        return file->config.value;
    }
};

TEST_F(LoadConfigValueTest, DecidesByHeaderExtensionAndContent) {
    Bytes image = Image(Parse("Red capture"));
    std::string raw(image.begin(), image.end());
    std::string error;
    EXPECT_EQ(LoadValue(Write("a.reg", config::FormatRegFile(image)), &error), image);
    EXPECT_EQ(LoadValue(Write("a.txt", config::FormatRegFile(image)), &error), image);
    EXPECT_EQ(LoadValue(Write("a.bin", raw), &error), image);
    EXPECT_EQ(LoadValue(Write("image", raw), &error), image);  // zero bytes: an image
    EXPECT_EQ(LoadValue(Write("a.BIN", std::string(127, 'x')), &error), Bytes(127, 'x'));
    EXPECT_EQ(LoadValue(Write("config", "Red capture\n"), &error), image);

    std::string bad = Write("b.reg", "Red capture\n");
    EXPECT_FALSE(LoadValue(bad, &error));
    EXPECT_EQ(error, bad + ":1: not a registry file: the first line must be REGEDIT4 or "
                           "Windows Registry Editor Version 5.00");
    bad = Write("b.klavor", "\nRed grab\n");
    EXPECT_FALSE(LoadValue(bad, &error));
    EXPECT_EQ(error.rfind(bad + ":2: Red: unknown word \"grab\"", 0), 0u) << error;
    EXPECT_FALSE(LoadValue((dir / "missing.reg").string(), &error));
    EXPECT_EQ(error.rfind((dir / "missing.reg").string() + ": cannot open", 0), 0u) << error;
}

TEST_F(LoadConfigValueTest, TextInEveryEncodingNotepadSaves) {
    const std::string text = "# Kalender \xC3\xA9\xE2\x82\xAC \xF0\x9F\x93\x85\r\nCalendar capture single Enter\r\nRed free\r\n";
    Bytes expected = Image(Parse(text));
    auto utf16 = [&](bool little) {
        std::u16string wide = sim::Utf16(text);
        std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
        for (char16_t c : wide) {
            char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
            out += little ? std::string{lo, hi} : std::string{hi, lo};
        }
        return out;
    };
    std::string error;
    for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
             {"plain.klavor", text}, {"bom8.klavor", "\xEF\xBB\xBF" + text}, {"le.klavor", utf16(true)},
             {"be.klavor", utf16(false)}, {"le.txt", utf16(true)}}) {
        std::optional<config::ConfigFile> file = Load(Write(name, content), &error);
        const config::LoadedConfig* loaded = file ? &file->config : nullptr;
        ASSERT_TRUE(loaded) << name << ": " << error;
        EXPECT_EQ(loaded->value, expected) << name;
        EXPECT_EQ(loaded->origin.lines[0], 2) << name;
        EXPECT_EQ(loaded->origin.lines[7], 3) << name;
    }
    // A .reg saved as UTF-16 big-endian is still a .reg.
    std::string reg = config::FormatRegFile(expected);
    std::string be = "\xFE\xFF";
    for (char c : reg) be += '\0', be += c;
    EXPECT_EQ(LoadValue(Write("be.reg", be), &error), expected) << error;
    // Broken UTF-16 is said to be so, not taken for something else.
    std::string bad = Write("lone.klavor", std::string("\xFF\xFE" "R\0" "\x00\xDC", 6));
    EXPECT_FALSE(LoadValue(bad, &error));
    EXPECT_EQ(error, bad + ": not UTF-16 text: an unpaired surrogate at byte 4");
    bad = Write("odd.klavor", "\xFF\xFER");
    EXPECT_FALSE(LoadValue(bad, &error));
    EXPECT_EQ(error, bad + ": UTF-16 file with an odd number of bytes");
    // A .bin is an image whatever its first bytes.
    Bytes image = Image(config::DefaultTable());
    image[0] = 0xFF, image[1] = 0xFE;
    EXPECT_EQ(LoadValue(Write("odd-mode.bin", std::string(image.begin(), image.end())), &error),
              image);
}

TEST_F(LoadConfigValueTest, WhatCannotBeReadIsSaidWithTheReason) {
    std::string error;
    EXPECT_FALSE(LoadValue(dir.string(), &error));
    EXPECT_EQ(error, dir.string() + ": cannot read: Is a directory");
    EXPECT_FALSE(LoadValue((dir / "missing").string(), &error));
    EXPECT_EQ(error, (dir / "missing").string() + ": cannot open: No such file or directory");
}

TEST(DescribeValue, WrongLengthsShowTheDefaultsInForce) {
    const std::string defaults = config::FormatConfigText(config::DefaultTable());
    Bytes captured = Image(Parse("Calendar capture"));
    for (std::size_t n : {0u, 127u, 129u}) {
        Bytes value = captured;
        value.resize(n, 0x02);
        std::string shown = config::DescribeValue(value, "v.bin");
        EXPECT_EQ(shown, "# v.bin: the value is " + std::to_string(n) + " bytes long, not 128.\n"
                         "# The program ignores it and keeps its built-in configuration:\n" + defaults);
    }
    EXPECT_EQ(config::DescribeValue(captured, "v.bin"),
              "# v.bin: 128 bytes; the program will use:\n" + config::FormatConfigText(Parse("Calendar capture")));
}

TEST(DescribeValue, OutOfRangeModesAndCountsAreShownRaw) {
    Table t = Parse("Camera mode 3 single F1\nRecord mode 65535 presses 9\nGreen free presses 5\n");
    std::string shown = config::DescribeValue(Image(t), "v.bin");
    // What they act as is the check's to say (config_check_test.cpp).
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '#'), 1) << shown;
    EXPECT_NE(shown.find("\nCamera     mode 3"), std::string::npos) << shown;
    EXPECT_NE(shown.find("presses 9"), std::string::npos) << shown;
    EXPECT_EQ(Image(Parse(shown)), Image(t));
}

}  // namespace
