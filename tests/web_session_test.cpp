// Trying a configuration on the page's simulated phone (web/api/session.*),
// and the share code and cheat sheet the page offers, called natively.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "config/config_text.h"
#include "web/api/klavor_api.h"
#include "scenario/disk.h"
#include "scenario/run.h"
#include "web/api/session.h"
#include "config/share.h"

namespace {

const std::string kExamples = std::string(KLAVOR_SOURCE_DIR) + "/examples/";

config::Table TableOf(const std::string& text) {
    std::string error;
    std::optional<config::Table> table = config::ParseConfigText(text, "t", &error);
    EXPECT_TRUE(table) << error;
    return table ? *table : config::DefaultTable();
}

// Green: single TTalk, double Space, triple Win+D (count 2); Camera fires
// at its first press (count 0); Red is captured with its built-in codes.
const char kConfig[] = "Green capture single TTalk double Space triple Win+D\nCamera capture single A\nRed capture\n";

// What klavor-sim prints for a scenario file.
std::string KlavorSimPrints(const std::string& file) {
    FILE* p = ::popen(("'" KLAVOR_SIM_PATH "' '" + file + "' 2>/dev/null").c_str(), "r");
    if (!p) return "klavor-sim did not start";
    std::string out;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
    return out;
}

// What klavor-sim prints for the session saved as a scenario.
std::string KlavorSim(const page::Session& s) {
    const std::string file = testing::TempDir() + "session-" + std::to_string(::getpid()) + ".scenario";
    std::ofstream(file, std::ios::binary) << s.ScenarioText();
    std::string out = KlavorSimPrints(file);
    std::remove(file.c_str());
    return out;
}

scenario::Scenario Saved(const page::Session& s) {
    auto parsed = scenario::ParseScenario(s.ScenarioText(), "session.scenario");
    if (auto* e = std::get_if<scenario::ParseError>(&parsed)) ADD_FAILURE() << e->Text();
    return std::holds_alternative<scenario::Scenario>(parsed) ? std::get<scenario::Scenario>(parsed) : scenario::Scenario{};
}

std::string Joined(page::Session& s) { return scenario::JoinTimeline(s.Lines()); }

TEST(WebSession, ItsTimelineIsKlavorSimsForTheSavedScenarioHoweverItIsViewed) {
    page::Session s;
    s.Start(TableOf(kConfig), "Телефон");
    // Inputs as an owner makes them, the page looking in between: a view
    // before a press keeps lines the next run must tell again (a press at
    // the very time of a line, one after the run's old end).
    struct Step {
        sim::Time t;
        int slot;  // -1: the tray
        const char* tray;
        const char* item;
    } steps[] = {
        {1000, 6, nullptr, nullptr}, {1200, 6, nullptr, nullptr}, {1700, 6, nullptr, nullptr},  // at the double's tick
        {2500, 2, nullptr, nullptr}, {4000, -1, "tap", nullptr},  {4300, 6, nullptr, nullptr},   // counted in the menu
        {5000, -1, "choose", "About Klavor"}, {25000, -1, "close", nullptr},  // after the old end (15 s)
        {25001, 7, nullptr, nullptr}, {25100, 7, nullptr, nullptr}, {25150, 7, nullptr, nullptr},
    };
    for (const Step& step : steps) {
        s.View(step.t, false);
        std::optional<std::string> refused =
            step.slot >= 0 ? s.Press(step.t, step.slot, step.slot == 7 ? MOD_SHIFT : 0) : s.Tray(step.t, step.tray, step.item ? step.item : "");
        ASSERT_FALSE(refused) << *refused;
        EXPECT_EQ(Joined(s), KlavorSim(s)) << "after the input at " << step.t;
    }
    const std::string timeline = Joined(s);
    for (const char* line : {"   1.700 s  press Green\n   1.700 s    hot key 6 to Klavor\n",  // counted before that tick
                             "  25.150 s    hot key 519 to Klavor\n",  // Red with Shift: Red's third press
                             "  35.150 s  the scenario ends; Klavor is still running\n"})
        EXPECT_NE(timeline.find(line), std::string::npos) << line << "\n" << timeline;
    // The third press sends Win+D at once; Camera's single at the tick of
    // its press; the press in the menu's time is counted; Red's triple on
    // the tick after its third press.
    EXPECT_EQ(scenario::AppGot(Saved(s)), (std::vector<scenario::Got>{
                                              {1700, "Win+0x44"},
                                              {2500, "0x41"},
                                              {4800, "Green key (0x72)"},
                                              {25200, "Red*3 (0x10)"},
                                          }));
    EXPECT_EQ(timeline.find("  15.000 s  the scenario ends"), std::string::npos);
    // Exit ends the run; nothing comes after it.
    ASSERT_FALSE(s.Tray(30000, "tap", ""));
    ASSERT_FALSE(s.Tray(30500, "choose", "Exit"));
    EXPECT_EQ(Joined(s), KlavorSim(s));
    EXPECT_EQ(s.Lines().back().text, "  30.500 s  Klavor exits with code 1");
    // Inputs out of order, and words a scenario cannot hold, are refused.
    EXPECT_EQ(*s.Press(29999, 6, 0), "a press before the last input");
    EXPECT_EQ(*s.Press(31000, 8, 0), "no button 8");
    EXPECT_EQ(*s.Press(31000, 6, MOD_WIN | MOD_SHIFT), "a button is pressed alone, with Win or with Shift");
    EXPECT_EQ(*s.Tray(31000, "choose", "Exit\"\n5s reset"), "nothing to do with the tray: choose");
}

TEST(WebSession, EachSequenceTellsThePressesThatMadeItAndHowItEnded) {
    using End = page::Sequence::End;
    struct Expect {
        int slot;
        std::vector<sim::Time> presses;
        End end;
        sim::Time endAt;
        WORD index;
    };
    struct Case {
        const char* what;
        std::vector<std::pair<sim::Time, int>> presses;  // time, slot
        std::vector<Expect> sequences;
    } cases[] = {
        // Klavor starts at 0 s; its ticks fall on every 100 ms.
        {"a single press on a tick: sent on the sixth tick", {{1000, 6}}, {{6, {1000}, End::Sent, 1500, 0}}},
        {"a single press just after a tick: 599 ms", {{1001, 6}}, {{6, {1001}, End::Sent, 1600, 0}}},
        {"the second press at the sending tick still counts", {{1000, 6}, {1500, 6}}, {{6, {1000, 1500}, End::Sent, 2000, 1}}},
        {"one millisecond later it is a second single", {{1000, 6}, {1501, 6}},
         {{6, {1000}, End::Sent, 1500, 0}, {6, {1501}, End::Sent, 2100, 0}}},
        {"the third press reaches the count: the next tick", {{1000, 6}, {1200, 6}, {1350, 6}},
         {{6, {1000, 1200, 1350}, End::Sent, 1400, 2}}},
        {"a fourth before that tick is still the third's", {{1000, 6}, {1200, 6}, {1350, 6}, {1380, 6}},
         {{6, {1000, 1200, 1350, 1380}, End::Sent, 1400, 2}}},
        {"another button drops the first", {{1000, 6}, {1200, 7}},
         {{6, {1000}, End::Dropped, 1200, 0}, {7, {1200}, End::Sent, 1700, 0}}},
        {"a count of 0 sends on the next tick", {{1050, 2}}, {{2, {1050}, End::Sent, 1100, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        page::Session s;
        s.Start(TableOf(kConfig), "Phone");
        for (auto [t, slot] : c.presses) ASSERT_FALSE(s.Press(t, slot, 0));
        const std::vector<page::Sequence>& got = s.Sequences();
        ASSERT_EQ(got.size(), c.sequences.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            const Expect& e = c.sequences[i];
            EXPECT_EQ(got[i].slot, e.slot);
            std::vector<sim::Time> times;
            for (const page::CountedPress& p : got[i].presses) {
                times.push_back(p.t);
                EXPECT_EQ(s.Lines()[p.line].text.substr(14), "hot key " + std::to_string(e.slot) + " to Klavor");
            }
            EXPECT_EQ(times, e.presses);
            EXPECT_EQ(got[i].end, e.end);
            EXPECT_EQ(got[i].endAt, e.endAt);
            if (e.end == End::Sent) {
                EXPECT_EQ(got[i].index, e.index);
                ASSERT_TRUE(got[i].sentLine);
                EXPECT_NE(s.Lines()[*got[i].sentLine].text.find(" gets "), std::string::npos);
                EXPECT_EQ(s.Lines()[*got[i].sentLine].t, e.endAt);
            }
        }
    }
}

TEST(WebSession, TheViewAtAMomentTellsOnlyWhatHappenedByThen) {
    page::Session s;
    s.Start(TableOf(kConfig), "Phone");
    ASSERT_FALSE(s.Press(1000, 6, 0));
    ASSERT_FALSE(s.Press(1200, 6, MOD_SHIFT));
    // Waiting at 1.3 s: two presses, Enter due at 1.7 s; the lines stop at 1.2 s.
    std::string v = s.View(1300, false);
    EXPECT_NE(v.find("\"pending\":{\"seq\":0,\"slot\":6,\"button\":\"Green\",\"presses\":2,\"count\":2,\"first\":1000,"
                     "\"last\":1200,"
                     "\"due\":1700,\"index\":1,\"code\":32,\"action\":\"Space\""),
              std::string::npos)
        << v;
    EXPECT_NE(v.find("\"from\":0,\"count\":8,"), std::string::npos) << v;
    EXPECT_NE(v.find("\"next\":1700,"), std::string::npos) << v;
    EXPECT_NE(v.find("{\"t\":1200,\"text\":\"   1.200 s    hot key 518 to Klavor\",\"note\":{\"seq\":0,\"slot\":6,"
                     "\"button\":\"Green\",\"kind\":\"press\",\"n\":2,\"injected\":false,\"gap\":200}}"),
              std::string::npos)
        << v;
    // Then only the new lines: the send, with the presses that made it.
    v = s.View(1700, false);
    EXPECT_EQ(v.find("\"pending\""), std::string::npos) << v;
    EXPECT_NE(v.find("\"from\":8,\"count\":9,\"lines\":[{\"t\":1700,\"text\":\"   1.700 s  \\\"Phone\\\" gets 0x20\",\"keys\":true,"
                     "\"note\":{\"seq\":0,\"slot\":6,\"button\":\"Green\",\"kind\":\"sent\",\"index\":1,\"presses\":[1000,1200]"),
              std::string::npos)
        << v;
    // Too late for a double: the gap, and when the single had gone.
    ASSERT_FALSE(s.Press(2300, 6, 0));
    ASSERT_FALSE(s.Press(2900, 6, 0));
    v = s.View(3000, false);
    EXPECT_NE(v.find("\"late\":{\"gap\":600,\"within\":500,\"sentAt\":2800,\"index\":0,\"count\":2}"), std::string::npos) << v;
    // Another button drops Green's press; the tray menu is open at 5 s.
    ASSERT_FALSE(s.Press(4000, 6, 0));
    ASSERT_FALSE(s.Press(4100, 7, 0));
    ASSERT_FALSE(s.Tray(4900, "tap", ""));
    v = s.View(5000, false);
    EXPECT_NE(v.find("\"drops\":{\"button\":\"Green\",\"presses\":1}"), std::string::npos) << v;
    EXPECT_NE(v.find("\"tray\":true,\"modal\":{\"kind\":\"menu\",\"caption\":\"\",\"items\":[\"About Klavor\",\"Exit\"]}"),
              std::string::npos)
        << v;
    // Asked for everything, the view starts again at the first line.
    EXPECT_NE(s.View(5000, true).find("\"from\":0,"), std::string::npos);
}

TEST(WebSession, ReplaysAScenarioWithTheFilesOpenedWithIt) {
    std::ifstream in(kExamples + "demo.scenario");
    std::stringstream text;
    text << in.rdbuf();
    std::ifstream reg(kExamples + "capture-all.reg");
    std::stringstream regText;
    regText << reg.rdbuf();
    page::Session s;
    EXPECT_EQ(*s.Replay("demo.scenario", text.str(), {}),
              "demo.scenario:7: config: capture-all.reg: not opened with the scenario (open it together with the "
              "scenario)");
    ASSERT_FALSE(s.Replay("demo.scenario", text.str(), {{"some/folder/capture-all.reg", regText.str()}}));
    // The first line names the file as the scenario does; the rest is the run.
    EXPECT_EQ(Joined(s), KlavorSimPrints(kExamples + "demo.scenario"));
    EXPECT_EQ(*s.Press(40000, 6, 0), "a replayed scenario takes no presses");
    EXPECT_NE(s.View(29000, false).find("\"exited\":true,\"exitCode\":1"), std::string::npos);
}

TEST(WebShare, ACodeGivesBackItsTableAndRefusesWhatIsNotOne) {
    const config::Table table = TableOf(kConfig);
    const std::string code = config::ShareCode(table);
    ASSERT_EQ(code.size(), 9u + 176u);
    EXPECT_EQ(code.compare(0, 9, "klavor=1."), 0);
    EXPECT_EQ(config::EncodeTable(*config::ReadShareCode(code).table), config::EncodeTable(table));
    // As a link, or wrapped by a mail program.
    std::string wrapped = "file:///home/me/klavor.html#" + code.substr(0, 60) + "\n  " + code.substr(60);
    EXPECT_EQ(config::EncodeTable(*config::ReadShareCode(wrapped).table), config::EncodeTable(table));

    std::string changed = code;
    changed[100] = changed[100] == 'A' ? 'B' : 'A';
    struct Bad {
        std::string text;
        config::ShareProblem problem;
        std::string message;
    } bad[] = {
        {"", config::ShareProblem::Foreign, "not a Klavor configuration (a Klavor code starts with klavor=)"},
        {"klavor.html#editor-title", config::ShareProblem::Foreign,
         "not a Klavor configuration (a Klavor code starts with klavor=)"},
        {"klavor=2." + code.substr(9), config::ShareProblem::Version,
         "a Klavor configuration of version 2, which this page does not read (it reads 1)"},
        {changed, config::ShareProblem::Damaged, "damaged: its check does not match its content"},
        {code.substr(0, code.size() - 1), config::ShareProblem::Damaged,
         "damaged: 175 characters where there should be 176"},
        {code.substr(0, 20) + "*" + code.substr(21), config::ShareProblem::Damaged, "damaged: '*' cannot be part of the code"},
        {"klavor=x", config::ShareProblem::Damaged, "damaged: no version number after klavor="},
    };
    for (const Bad& b : bad) {
        config::ShareRead r = config::ReadShareCode(b.text);
        EXPECT_FALSE(r.table) << b.text;
        EXPECT_EQ(r.problem, b.problem) << b.text;
        EXPECT_EQ(r.message, b.message) << b.text;
    }
    // Through the page's API: the table's bytes, or what is wrong as JSON.
    ASSERT_EQ(klavor_share_read(("#" + code).c_str()), 1);
    EXPECT_EQ(config::Bytes(klavor_result(), klavor_result() + klavor_result_size()), config::EncodeTable(table));
    ASSERT_EQ(klavor_share_read(("klavor=7." + code.substr(9)).c_str()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(klavor_result()), klavor_result_size()),
              "{\"problem\":\"version\",\"version\":7,\"message\":\"a Klavor configuration of version 7, which this "
              "page does not read (it reads 1)\"}");
}

TEST(WebShare, TheCheatSheetHasALinePerCapturedButton) {
    // Contacts is captured but Camera, later on its key, takes its presses;
    // Green counts no further than 4 presses whatever its count says.
    config::Table t = TableOf("Green capture single TTalk double Enter triple Win+D\nContacts capture key App3\n"
                              "Camera free\nRecord leave\n");
    t[6].count = 9;
    std::vector<config::SheetLine> sheet = config::CheatSheet(t);
    ASSERT_EQ(sheet.size(), 2u);
    EXPECT_EQ(sheet[0].slot, 1);
    EXPECT_EQ(sheet[0].takenBy, 2);
    EXPECT_TRUE(sheet[0].sends.empty());
    EXPECT_EQ(sheet[1].slot, 6);
    EXPECT_EQ(sheet[1].sends, (std::vector<WORD>{0x72, 0x0D, 0x4044, 0, 0}));
    config::Bytes value = config::EncodeTable(t);
    ASSERT_EQ(klavor_sheet(value.data(), 128), 1);
    const std::string json(reinterpret_cast<const char*>(klavor_result()), klavor_result_size());
    EXPECT_EQ(json.rfind("[{\"slot\":1,\"button\":\"Contacts\",\"takenBy\":2,\"takerSends\":false,\"sends\":[]},{\"slot\":6,\"button\":"
              "\"Green\",\"takenBy\":-1,\"sends\":[{\"presses\":1,\"code\":114,\"action\":\"TTalk\",\"win\":false,\"base\":"
              "\"TTalk\",\"sameKey\":\"\"},{\"presses\":2,", 0), 0u) << json;
}

}  // namespace
