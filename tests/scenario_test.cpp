// The whole program through klavor-sim's scenarios: timelines, the runner's
// own rules, and its command line.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "scenario.h"

namespace {

const std::string kExamples = std::string(KLAVOR_SOURCE_DIR) + "/examples/";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

scenario::Outcome RunFile(const std::string& path, bool trace = false) {
    auto loaded = scenario::LoadScenario(path);
    if (auto* e = std::get_if<scenario::ParseError>(&loaded)) {
        ADD_FAILURE() << e->Text();
        return {};
    }
    return scenario::Run(std::get<scenario::Scenario>(loaded), trace);
}

scenario::Outcome RunText(const std::string& text) {
    auto parsed = scenario::ParseScenario(text, kExamples + "inline.scenario");
    if (auto* e = std::get_if<scenario::ParseError>(&parsed)) {
        ADD_FAILURE() << e->Text();
        return {};
    }
    return scenario::Run(std::get<scenario::Scenario>(parsed));
}

bool Has(const std::string& timeline, const std::string& line) {
    return timeline.find(line + "\n") != std::string::npos;
}

TEST(ScenarioTimeline, RoadOfOneDoublePressMatchesItsExpectedTimeline) {
    scenario::Outcome o = RunFile(kExamples + "road-of-one-event.scenario");
    EXPECT_TRUE(o.exited);
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.timeline, ReadFile(kExamples + "road-of-one-event.expected"));
    // The second press at 10.3 s re-arms five ticks; the sixth tick, at
    // 10.8 s, releases, sends 0x05 and captures again.
    scenario::Outcome traced = RunFile(kExamples + "road-of-one-event.scenario", true);
    std::vector<std::string> firing;
    std::istringstream lines(traced.timeline);
    for (std::string l; std::getline(lines, l);)
        if (l.rfind("  10.800 s", 0) == 0 && l.find("| GetMessageW") == std::string::npos &&
            l.find("| TranslateMessage") == std::string::npos && l.find("| DispatchMessageW") == std::string::npos)
            firing.push_back(l.substr(l.find_first_not_of(' ', 11)));
    EXPECT_EQ(firing, (std::vector<std::string>{
                          "| UnregisterHotKey(0x10001, 0) -> TRUE",
                          "| UnregisterHotKey(0x10001, 256) -> TRUE",
                          "| UnregisterHotKey(0x10001, 512) -> TRUE",
                          "| keybd_event(0x5, 0, 0, 0)",
                          "| keybd_event(0x5, 0, 2, 0)",
                          "\"Phone\" gets Calendar*2 (0x05)",
                          "| UnregisterFunc1(0, 0xC1) -> TRUE",
                          "| UnregisterFunc1(8, 0xC1) -> TRUE",
                          "| UnregisterFunc1(4, 0xC1) -> TRUE",
                          "| RegisterHotKey(0x10001, 0, 0, 0xC1) -> TRUE",
                          "| RegisterHotKey(0x10001, 256, 8, 0xC1) -> TRUE",
                          "| RegisterHotKey(0x10001, 512, 4, 0xC1) -> TRUE",
                      }));
}

TEST(ScenarioTimeline, DemoMatchesItsExpectedTimeline) {
    scenario::Outcome o = RunFile(kExamples + "demo.scenario");
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.timeline, ReadFile(kExamples + "demo.expected"));
}

TEST(ScenarioTimeline, StartUpVariants) {
    scenario::Outcome second = RunText("another copy running\nconfig capture-all.reg\n5s press Calendar\n");
    EXPECT_TRUE(second.exited);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.timeline.find("tray icon"), std::string::npos);
    EXPECT_EQ(second.timeline.find("hot key"), std::string::npos);
    EXPECT_TRUE(Has(second.timeline, "   0.000 s  Klavor exits with code 0"));

    scenario::Outcome late = RunText("phone never\n");
    EXPECT_FALSE(late.exited);
    EXPECT_TRUE(Has(late.timeline, "  30.000 s  tray icon 5000 appears"));
    EXPECT_TRUE(Has(late.timeline, "  40.000 s  the scenario ends; Klavor is still running"));
}

TEST(ScenarioTimeline, ConfigurationValueOfTheWrongLengthLeavesButtonsAlone) {
    // Slot 0 captured with count 2 and Win+Calendar on a single press.
    std::string hex128 = " 02 00 c1 00 02 00 c1 40 05 00 0b 00 00 00 00 00";
    for (int i = 1; i < 8; ++i) hex128 += " 00 00 c1 00 02 00 00 00 00 00 00 00 00 00 00 00";
    std::string hex129 = hex128 + " 00";
    scenario::Outcome good = RunText("config hex" + hex128 + "\n1s press Calendar\n");
    EXPECT_TRUE(Has(good.timeline, "   1.500 s  \"Phone\" gets Win+Calendar key (0xC1)")) << good.timeline;
    scenario::Outcome bad = RunText("config hex" + hex129 + "\n1s press Calendar\n");
    EXPECT_TRUE(Has(bad.timeline, "   1.000 s    Calendar key (0xC1) passes to \"Phone\"")) << bad.timeline;
    EXPECT_EQ(bad.timeline.find("gets"), std::string::npos);
}

TEST(ScenarioTimeline, StolenButtonComesBackAtTheNextSweep) {
    scenario::Outcome o = RunText(
        "config capture-all.reg\n"
        "1s steal Green\n"
        "2s press Green\n"
        "31s press Green\n");
    EXPECT_TRUE(Has(o.timeline, "   2.000 s    hot key 1 to another program")) << o.timeline;
    // The sweep 301 ticks after start-up, at 30.1 s, took it back.
    EXPECT_TRUE(Has(o.timeline, "  31.000 s    hot key 6 to Klavor")) << o.timeline;
    EXPECT_TRUE(Has(o.timeline, "  31.500 s  \"Phone\" gets Green Btn (0x03)")) << o.timeline;
}

TEST(ScenarioTimeline, ActionsThatFindNothingToActOnAreSaid) {
    scenario::Outcome o = RunText("1s choose Exit\n2s close about\n3s tap tray\n4s choose Nothing\n5s dismiss menu\n");
    EXPECT_TRUE(Has(o.timeline, "   1.000 s  choose Exit (no menu is open)"));
    EXPECT_TRUE(Has(o.timeline, "   2.000 s  close about (no message box is open)"));
    EXPECT_TRUE(Has(o.timeline, "   4.000 s  choose Nothing (the menu has no such item)"));
    EXPECT_TRUE(Has(o.timeline, "   5.000 s  menu closes, nothing chosen"));
}

TEST(ScenarioTimeline, ATapInsideTheAboutBoxOpensNothingAndOneCloseClosesOneBox) {
    scenario::Outcome o = RunText(
        "1s tap tray\n1.1s choose \"About Klavor\"\n"
        "2s tap tray\n2.1s choose \"About Klavor\"\n"
        "3s close about\n4s close about\n");
    EXPECT_TRUE(Has(o.timeline, "   2.100 s  choose \"About Klavor\" (no menu is open)")) << o.timeline;
    EXPECT_TRUE(Has(o.timeline, "   3.000 s  message box closes")) << o.timeline;
    EXPECT_TRUE(Has(o.timeline, "   4.000 s  close about (no message box is open)")) << o.timeline;
    std::size_t menus = 0, boxes = 0;
    for (std::size_t at = 0; (at = o.timeline.find("menu opens", at)) != std::string::npos; ++at) ++menus;
    for (std::size_t at = 0; (at = o.timeline.find("message box \"About\"", at)) != std::string::npos; ++at) ++boxes;
    EXPECT_EQ(menus, 1u);
    EXPECT_EQ(boxes, 1u);
}

TEST(ScenarioParse, MalformedLinesNameTheFileAndLine) {
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"# fine\n\n5s jump\n", "s.scenario:3: unknown event 'jump'"},
        {"5x press Calendar\n", "s.scenario:1: bad time '5x' (e.g. 5s, 2.5s, 300ms, +200ms)"},
        {"5.1234s press Red\n", "s.scenario:1: bad time '5.1234s' (e.g. 5s, 2.5s, 300ms, +200ms)"},
        {"1000000000000ms press Red\n", "s.scenario:1: bad time '1000000000000ms' (e.g. 5s, 2.5s, 300ms, +200ms)"},
        {"1000000000s press Red\n", "s.scenario:1: bad time '1000000000s' (e.g. 5s, 2.5s, 300ms, +200ms)"},
        {"5s press Red\n4s press Red\n", "s.scenario:2: events must be in time order"},
        {"1s press Enter\n", "s.scenario:1: unknown button 'Enter'"},
        {"1s press Red with Ctrl\n", "s.scenario:1: unknown modifier 'ctrl' (Win or Shift)"},
        {"1s press 0x100\n", "s.scenario:1: unknown button '0x100'"},
        {"config none\nconfig none\n", "s.scenario:2: 'config' given twice (first on line 1)"},
        {"config hex 0g\n", "s.scenario:1: bad hex byte '0g'"},
        {"screen 240 by 320\n", "s.scenario:1: screen: 'WIDTHxHEIGHT' or 'height N'"},
        {"phone sometimes\n", "s.scenario:1: phone: 'up', 'never' or 'at TIME', optionally 'titled \"...\"'"},
        {"coredll broken\n", "s.scenario:1: coredll: 'with UnregisterFunc1', 'without UnregisterFunc1' or 'missing'"},
        {"launch rockets\n", "s.scenario:1: unknown line 'launch rockets'"},
        {"5s\n", "s.scenario:1: nothing happens at 5s"},
        {"1s tray notify lots\n", "s.scenario:1: tray notify: a message number, e.g. 0x0202"},
    };
    for (const Case& c : cases) {
        auto parsed = scenario::ParseScenario(c.text, "s.scenario");
        ASSERT_TRUE(std::holds_alternative<scenario::ParseError>(parsed)) << c.text;
        EXPECT_EQ(std::get<scenario::ParseError>(parsed).Text(), c.error);
    }
    auto missing = scenario::ParseScenario("\nconfig no-such-file.reg\n", kExamples + "x.scenario");
    ASSERT_TRUE(std::holds_alternative<scenario::ParseError>(missing));
    EXPECT_EQ(std::get<scenario::ParseError>(missing).line, 2);
}

TEST(ScenarioParse, TimesAndNames) {
    auto parsed = scenario::ParseScenario(
        "at 1.5s press Volume Dn\n+250ms press volume up with Shift\n+1s press key 0x41 with Win\n"
        "3s steal Camera\n"
        "999999999.998s press Red\n+1ms press Red\n999999999999ms press Red\n",
        "t");
    ASSERT_TRUE(std::holds_alternative<scenario::Scenario>(parsed));
    const auto& a = std::get<scenario::Scenario>(parsed).actions;
    ASSERT_EQ(a.size(), 7u);
    // A millisecond count reaches as far as a second count does.
    EXPECT_EQ(a[4].t, 999999999998u);
    EXPECT_EQ(a[5].t, 999999999999u);
    EXPECT_EQ(a[6].t, 999999999999u);
    EXPECT_EQ(a[0].t, 1500u);
    EXPECT_EQ(a[0].vk, 0x76);
    EXPECT_EQ(a[1].t, 1750u);
    EXPECT_EQ(a[1].vk, 0x75);
    EXPECT_EQ(a[1].mods, static_cast<UINT>(MOD_SHIFT));
    EXPECT_EQ(a[2].t, 2750u);
    EXPECT_EQ(a[2].vk, 0x41);
    EXPECT_EQ(a[2].mods, static_cast<UINT>(MOD_WIN));
    EXPECT_EQ(a[3].kind, scenario::Action::Kind::Steal);
}

#ifdef KLAVOR_SIM_PATH
struct Command {
    int status;
    std::string out;
};

Command Shell(const std::string& command) {
    Command c{0, ""};
    FILE* p = popen(command.c_str(), "r");
    std::array<char, 4096> buf;
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p)) c.out.append(buf.data(), n);
    int raw = pclose(p);
    c.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return c;
}

TEST(ScenarioCommand, ExitStatusIsTheProgramsAndBadScenariosAreRefusedBeforeRunning) {
    const std::string sim = KLAVOR_SIM_PATH;
    EXPECT_EQ(Shell(sim + " " + kExamples + "demo.scenario > /dev/null").status, 1);
    EXPECT_EQ(Shell(sim + " --expect-exit 1 " + kExamples + "demo.scenario > /dev/null").status, 0);
    EXPECT_EQ(Shell(sim + " --expect-exit 0 " + kExamples + "demo.scenario > /dev/null 2>&1").status, 1);

    std::string bad = testing::TempDir() + "bad.scenario";
    std::ofstream(bad) << "phone up\n1s press Calendar\n2s press Nothing\n";
    Command c = Shell(sim + " " + bad + " 2>&1");
    EXPECT_EQ(c.status, 2);
    EXPECT_EQ(c.out, bad + ":3: unknown button 'Nothing'\n") << "nothing ran";

    std::string open = testing::TempDir() + "open.scenario";
    std::ofstream(open) << "1s press Calendar\n";
    EXPECT_EQ(Shell(sim + " " + open + " > /dev/null").status, 3);
    EXPECT_EQ(Shell(sim + " > /dev/null 2>&1").status, 2);
}
#endif

}  // namespace
