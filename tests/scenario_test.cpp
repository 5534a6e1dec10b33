// The whole program through klavor-sim's scenarios: timelines, the runner's
// own rules, and its command line.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <random>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "config/config_check.h"
#include "config/config_text.h"
#include "config/klavor_cab.h"
#include "scenario/disk.h"
#include "scenario/run.h"

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

scenario::Scenario ParseText(const std::string& text) {
    auto parsed = scenario::ParseScenario(text, kExamples + "inline.scenario");
    if (auto* e = std::get_if<scenario::ParseError>(&parsed)) {
        ADD_FAILURE() << e->Text();
        return {};
    }
    return std::get<scenario::Scenario>(parsed);
}

scenario::Outcome RunText(const std::string& text) { return scenario::Run(ParseText(text)); }

// What the phone application got from Klavor, and when.
using scenario::Got;
std::vector<Got> AppGot(const std::string& text) { return scenario::AppGot(ParseText(text)); }

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
    EXPECT_EQ(AppGot("config hex" + hex128 + "\n1s press Calendar\n"), (std::vector<Got>{{1500, "Win+Calendar key (0xC1)"}}));
    const std::string bad = "config hex" + hex129 + "\n1s press Calendar\n";
    EXPECT_EQ(AppGot(bad), std::vector<Got>{});
    std::string timeline = RunText(bad).timeline;
    EXPECT_TRUE(Has(timeline, "   1.000 s    Calendar key (0xC1) passes to \"Phone\"")) << timeline;
}

TEST(ScenarioTimeline, StolenButtonComesBackAtTheNextSweep) {
    const std::string text =
        "config capture-all.reg\n"
        "1s steal Green\n"
        "2s press Green\n"
        "31s press Green\n";
    scenario::Outcome o = RunText(text);
    EXPECT_TRUE(Has(o.timeline, "   2.000 s    hot key 1 to another program")) << o.timeline;
    // The sweep 301 ticks after start-up, at 30.1 s, took it back.
    EXPECT_TRUE(Has(o.timeline, "  31.000 s    hot key 6 to Klavor")) << o.timeline;
    EXPECT_EQ(AppGot(text), (std::vector<Got>{{31500, "Green Btn (0x03)"}}));
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
        {"1s press Enterr\n", "s.scenario:1: unknown button 'Enterr'"},
        {"1s press 65\n", "s.scenario:1: unknown button '65': write key codes in hex (0x65?) or by name"},
        {"1s press key 0x00\n", "s.scenario:1: unknown button 'key 0x00'"},
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
        {"klavor running\n", "s.scenario:1: did you mean 'klavor not running'?"},
        {"klavor not running\nklavor not running\n", "s.scenario:2: 'klavor not running' given twice (first on line 1)"},
        {"1s install \"\"\n", "s.scenario:1: install: which cabinet?"},
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
        "3s steal Camera\n4s press Enter\n5s press tTalk with Win\n6s press key 5\n7s steal key TVolumeUp\n"
        "999999999.998s press Red\n+1ms press Red\n999999999999ms press Red\n",
        "t");
    ASSERT_TRUE(std::holds_alternative<scenario::Scenario>(parsed));
    const auto& a = std::get<scenario::Scenario>(parsed).actions;
    ASSERT_EQ(a.size(), 11u);
    // A millisecond count reaches as far as a second count does.
    EXPECT_EQ(a[8].t, 999999999998u);
    EXPECT_EQ(a[9].t, 999999999999u);
    EXPECT_EQ(a[10].t, 999999999999u);
    EXPECT_EQ(a[0].t, 1500u);
    EXPECT_EQ(a[0].vk, 0x76);
    EXPECT_EQ(a[1].t, 1750u);
    EXPECT_EQ(a[1].vk, 0x75);
    EXPECT_EQ(a[1].mods, static_cast<UINT>(MOD_SHIFT));
    EXPECT_EQ(a[2].t, 2750u);
    EXPECT_EQ(a[2].vk, 0x41);
    EXPECT_EQ(a[2].mods, static_cast<UINT>(MOD_WIN));
    EXPECT_EQ(a[3].kind, scenario::Action::Kind::Steal);
    // Any key by the names configurations use.
    EXPECT_EQ(a[4].vk, 0x0D);
    EXPECT_EQ(a[5].vk, 0x72);
    EXPECT_EQ(a[5].mods, static_cast<UINT>(MOD_WIN));
    EXPECT_EQ(a[6].vk, 0x35);
    EXPECT_EQ(a[7].vk, 0x75);
    EXPECT_EQ(a[7].kind, scenario::Action::Kind::Steal);
}

TEST(ScenarioParse, FilesThatCannotBeReadAreSaidWithTheReason) {
    const std::string dir = testing::TempDir() + "scenario-dir";
    std::filesystem::create_directories(dir);
    auto loaded = scenario::LoadScenario(dir);
    ASSERT_TRUE(std::holds_alternative<scenario::ParseError>(loaded));
    EXPECT_EQ(std::get<scenario::ParseError>(loaded).Text(), dir + ": cannot read: Is a directory");
    loaded = scenario::LoadScenario(dir + "/missing.scenario");
    ASSERT_TRUE(std::holds_alternative<scenario::ParseError>(loaded));
    EXPECT_EQ(std::get<scenario::ParseError>(loaded).Text(),
              dir + "/missing.scenario: cannot open: No such file or directory");
    auto parsed = scenario::ParseScenario("phone up\nconfig " + dir + "\n", "s.scenario");
    ASSERT_TRUE(std::holds_alternative<scenario::ParseError>(parsed));
    EXPECT_EQ(std::get<scenario::ParseError>(parsed).Text(),
              "s.scenario:2: config: " + dir + ": cannot read: Is a directory");
    parsed = scenario::ParseScenario("1s install " + dir + "\n", "s.scenario");
    ASSERT_TRUE(std::holds_alternative<scenario::ParseError>(parsed));
    EXPECT_EQ(std::get<scenario::ParseError>(parsed).Text(), "s.scenario:1: install: " + dir + ": cannot read: Is a directory");
    // A cabinet is read, as an installation, before anything runs.
    parsed = scenario::ParseScenario("1s install capture-all.reg\n", kExamples + "s.scenario");
    ASSERT_TRUE(std::holds_alternative<scenario::ParseError>(parsed));
    EXPECT_EQ(std::get<scenario::ParseError>(parsed).Text(), kExamples + "s.scenario:1: install: " + kExamples +
                                                                  "capture-all.reg: not a cabinet (it does not start with MSCF)");
    std::filesystem::remove_all(dir);
}

// ---- The configuration check against the real program ---------------------

TEST(ScenarioCheck, TheRunawayTheCheckRefusesSendsAKeyEveryTickUntilTheEnd) {
    scenario::Outcome o = RunFile(kExamples + "runaway.scenario");
    EXPECT_EQ(o.timeline, ReadFile(kExamples + "runaway.expected"));
    EXPECT_FALSE(o.exited);
    // From the press at 1 s, on every tick to the end: one of the two
    // buttons catches the other's key.
    for (int tick = 10; tick <= 20; ++tick) {
        char at[16];
        std::snprintf(at, sizeof at, "%8.3f s", tick / 10.0);
        int slot = tick % 2 ? 0 : 1;
        EXPECT_TRUE(Has(o.timeline, std::string(at) + "    hot key " + std::to_string(slot) +
                                        " to Klavor (from a synthesised key)"))
            << at << "\n" << o.timeline;
    }
    auto parsed = scenario::LoadScenario(kExamples + "runaway.scenario");
    ASSERT_TRUE(std::holds_alternative<scenario::Scenario>(parsed));
    std::vector<std::string> said = scenario::CheckConfiguration(std::get<scenario::Scenario>(parsed));
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].rfind(kExamples + "runaway.klavor:7: error: Calendar single sends App2, a press of Contacts "
                                        "(line 8); Contacts single sends App1, a press of Calendar (line 7) again",
                            0),
              0u)
        << said[0];
}

TEST(ScenarioCheck, ConfigurationsInTheScenarioAreCheckedWhereTheyAreWritten) {
    // Calendar captured, single press Win+App2; Contacts captured, single A.
    std::string hex = "config hex 02 00 c1 00 00 00 c2 40 00 00 00 00 00 00 00 00"
                      "  02 00 c2 00 00 00 41 00 00 00 00 00 00 00 00 00";
    for (int i = 0; i < 6 * KEY_ENTRY_BYTES; ++i) hex += " 00";
    auto parsed = scenario::ParseScenario("# a hex value\n" + hex + "\n", "s.scenario");
    ASSERT_TRUE(std::holds_alternative<scenario::Scenario>(parsed)) << std::get<scenario::ParseError>(parsed).Text();
    EXPECT_EQ(scenario::CheckConfiguration(std::get<scenario::Scenario>(parsed)),
              std::vector<std::string>{"s.scenario:2: warning: Calendar (slot 0) single sends Win+App2, a press of "
                                       "Contacts (slot 1); Contacts single then sends A"});
    // No value, or one the program ignores: the built-in table, nothing to say.
    for (const char* text : {"phone up\n", "config hex 02 00 c1 00\n", "config none\n"}) {
        auto plain = scenario::ParseScenario(text, "s.scenario");
        ASSERT_TRUE(std::holds_alternative<scenario::Scenario>(plain));
        EXPECT_EQ(scenario::CheckConfiguration(std::get<scenario::Scenario>(plain)), std::vector<std::string>{});
    }
}

// One firing of a sequence, read from the trace: the slot that let go of
// its hot keys and the action it sent before taking them again.
struct Fire {
    sim::Time t;
    int slot;
    unsigned key;
    bool win;
    bool operator==(const Fire& o) const { return slot == o.slot && key == o.key && win == o.win; }
};

std::vector<Fire> FiresInTrace() {
    std::vector<Fire> fires;
    const auto& calls = sim::Trace();
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].name != "UnregisterHotKey") continue;
        int id = std::stoi(calls[i].args.substr(calls[i].args.find(", ") + 2));
        if (id >= KEY_SLOTS) continue;  // the Win and Shift ones follow
        std::vector<std::pair<unsigned, unsigned>> keys;  // vk, flags
        for (std::size_t j = i + 1; j < calls.size() && calls[j].name != "UnregisterFunc1" &&
                                    calls[j].name != "RegisterHotKey";
             ++j) {
            if (calls[j].name != "keybd_event") continue;
            std::istringstream args(calls[j].args);
            std::string vk, scan, flags;
            std::getline(args, vk, ',');
            std::getline(args, scan, ',');
            std::getline(args, flags, ',');
            keys.push_back({static_cast<unsigned>(std::stoul(vk, nullptr, 16)),
                            static_cast<unsigned>(std::stoul(flags))});
        }
        bool win = keys.size() == 4;
        fires.push_back({calls[i].t, id, keys.empty() ? 0u : keys[win ? 1 : 0].first, win});
    }
    return fires;
}

TEST(ScenarioCheck, TheChecksModelIsWhatTheProgramDoes) {
    // Random tables over a few keys that the slots share, and a few that are
    // nobody's: every press a user can make, run on the phone, fires the
    // sequences FollowPress foretells, at the ticks TicksToFire says.
    std::mt19937 rng(20261208);
    const WORD pool[] = {0xC1, 0xC2, 0xC3, VK_LWIN, 0x41};
    int loops = 0, chains = 0, doublePresses = 0;
    for (int n = 0; n < 120; ++n) {
        config::Table t = config::DefaultTable();
        for (int s = 0; s < 5; ++s) {
            unsigned m = rng() % 10;
            t[s].mode = m == 0 ? MODE_IGNORE : m == 1 ? MODE_FREE : MODE_CAPTURE;
            t[s].vk = pool[rng() % 5];
            t[s].count = static_cast<WORD>(rng() % 8 == 0 ? 6 : rng() % 3);
            for (WORD& a : t[s].actions) {
                a = pool[rng() % 5];
                if (rng() % 3 == 0) a |= ACTION_WITH_WIN;
            }
        }
        for (int s = 0; s < KEY_SLOTS; ++s) {
            if (!config::Pressable(t, s)) continue;
            for (WORD p = 0; p <= EffectiveCount(&t[s]); ++p) {
                config::PressRoad road = config::FollowPress(t, {s, p});
                std::vector<config::Press> expected = road.presses;
                for (std::size_t k = road.presses.size(); road.loopsTo >= 0 && expected.size() < 12; ++k)
                    expected.push_back(road.presses[static_cast<std::size_t>(road.loopsTo) +
                                                    (k - road.presses.size()) %
                                                        (road.presses.size() - static_cast<std::size_t>(road.loopsTo))]);
                loops += road.loopsTo >= 0;
                chains += road.loopsTo < 0 && road.presses.size() > 1;
                for (const auto& x : expected) doublePresses += x.index == 1 && &x != &expected[0];

                scenario::Scenario sc;
                sc.configValue = config::EncodeTable(t);
                sc.configSource = "random";
                for (WORD k = 0; k <= p; ++k) {
                    scenario::Action press;
                    press.t = 1000 + 100 * k;
                    press.vk = static_cast<BYTE>(t[s].vk);
                    press.text = "press";
                    sc.actions.push_back(press);
                }
                sc.end = 1000 + 100 * p + 100 * 6 * 12;
                scenario::Run(sc, /*trace=*/true);
                std::vector<Fire> fires = FiresInTrace();
                if (road.loopsTo >= 0) {
                    ASSERT_GE(fires.size(), expected.size()) << "table " << n << ", slot " << s << ", press " << p;
                    fires.resize(expected.size());
                }
                ASSERT_EQ(fires.size(), expected.size()) << "table " << n << ", slot " << s << ", press " << p;
                for (std::size_t k = 0; k < expected.size(); ++k) {
                    const KeyEntry& e = t[expected[k].slot];
                    WORD action = e.actions[std::min<WORD>(expected[k].index, EffectiveCount(&e))];
                    Fire want{0, expected[k].slot, static_cast<unsigned>(action & ACTION_KEY_MASK),
                              (action & ACTION_FLAG_MASK) == ACTION_WITH_WIN};
                    ASSERT_EQ(fires[k], want) << "table " << n << ", slot " << s << ", press " << p << ", fire " << k;
                    if (k > 0) {
                        ASSERT_EQ(fires[k].t - fires[k - 1].t,
                                  static_cast<sim::Time>(100 * config::TicksToFire(t, expected[k])))
                            << "table " << n << ", slot " << s << ", press " << p << ", fire " << k;
                    }
                }
            }
        }
    }
    // The tables gave loops, chains and Win presses doubling up.
    EXPECT_GT(loops, 50);
    EXPECT_GT(chains, 50);
    EXPECT_GT(doublePresses, 5);
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
    std::ofstream(open) << "klavor not running\n1s press Calendar\n";
    EXPECT_EQ(Shell(sim + " " + open + " > /dev/null").status, 5);
    EXPECT_EQ(Shell(sim + " > /dev/null 2>&1").status, 2);
}

TEST(ScenarioCommand, UnreadableScenariosAndUnwritableTimelinesAreFailures) {
    const std::string sim = KLAVOR_SIM_PATH;
    const std::string dir = testing::TempDir() + "sim-command-dir";
    std::filesystem::create_directories(dir);
    Command c = Shell(sim + " " + dir + " 2>&1");
    EXPECT_EQ(c.status, 2);
    EXPECT_EQ(c.out, dir + ": cannot read: Is a directory\n");
    c = Shell(sim + " " + dir + "/missing.scenario 2>&1");
    EXPECT_EQ(c.status, 2);
    EXPECT_EQ(c.out, dir + "/missing.scenario: cannot open: No such file or directory\n");
    for (const std::string& args : std::vector<std::string>{kExamples + "demo.scenario", "--help",
                                                           "--trace " + kExamples + "demo.scenario"}) {
        c = Shell(sim + " " + args + " 2>&1 >/dev/full");
        EXPECT_EQ(c.status, 2) << args;
        EXPECT_NE(c.out.find("klavor-sim: standard output: No space left on device\n"), std::string::npos) << c.out;
    }
    std::filesystem::remove_all(dir);
}

TEST(ScenarioCommand, TheChecksFindingsComeBeforeTheRunAndDoNotStopIt) {
    const std::string sim = KLAVOR_SIM_PATH;
    const std::string err = testing::TempDir() + "runaway.err";
    Command c = Shell(sim + " " + kExamples + "runaway.scenario 2>" + err);
    EXPECT_EQ(c.status, 3);
    EXPECT_EQ(c.out, ReadFile(kExamples + "runaway.expected"));
    std::string said = ReadFile(err);
    EXPECT_EQ(said.rfind(kExamples + "runaway.klavor:7: error: Calendar single sends App2", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    // The demo's configuration has only warnings.
    c = Shell(sim + " " + kExamples + "demo.scenario 2>&1 >/dev/null");
    EXPECT_EQ(c.out, kExamples + "capture-all.reg: warning: Volume Up (slot 4) double and triple send code 0 "
                                 "(\"FAKE\"), which nothing receives\n" +
                         kExamples + "capture-all.reg: warning: Volume Dn (slot 5) double and triple send code 0 "
                                     "(\"FAKE\"), which nothing receives\n");
    std::remove(err.c_str());
}
#endif

// ---- Installing and resetting the phone ------------------------------------

// Noise behind the headers of a Windows CE program for `machine`.
std::vector<std::uint8_t> Exe(unsigned machine) {
    std::vector<std::uint8_t> exe(3000);
    std::mt19937 rng(5);
    for (auto& b : exe) b = static_cast<std::uint8_t>(rng());
    auto put = [&exe](std::size_t at, unsigned v, int width) {
        for (int i = 0; i < width; ++i) exe[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    exe[0] = 'M', exe[1] = 'Z';
    put(0x3C, 0x80, 4);
    put(0x80, 0x00004550, 4);
    put(0x84, machine, 2);
    put(0x80 + 92, 9, 2);
    return exe;
}

void SaveCab(const std::string& path, const cecab::CeSetup& setup, const std::vector<std::uint8_t>& exe) {
    std::string error;
    std::optional<config::Bytes> control = cecab::EncodeCeSetup(setup, &error);
    ASSERT_TRUE(control) << error;
    std::optional<config::Bytes> cab = cecab::WriteCabinet({{"KLAVOR.000", *control}, {"KLAVOR.001", exe}}, 0, &error);
    ASSERT_TRUE(cab) << error;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(cab->data()), static_cast<std::streamsize>(cab->size()));
}

// The phone does what the cabinet's control file says, and after a reset
// starts what \Windows\StartUp holds as .lnk shortcuts.
TEST(ScenarioInstall, ThePhoneFollowsTheCabinetAndStartsItsStartUpShortcuts) {
    const std::string dir = testing::TempDir() + "install-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    config::Table table = config::DefaultTable();
    table[0].mode = MODE_CAPTURE;
    const config::Bytes value = config::EncodeTable(table), arm = Exe(0x01C0);
    SaveCab(dir + "/good.cab", config::KlavorSetup(value), arm);
    cecab::CeSetup before = config::KlavorSetup(value);  // as klavorcfg wrote it before: "Klavor", no .lnk
    before.links = {{1, 0, 4, 1, cecab::kCeLinkToFile, {2}}};
    SaveCab(dir + "/before.cab", before, arm);
    SaveCab(dir + "/desktop.cab", config::KlavorSetup(value), Exe(0x014C));
    cecab::CeSetup newer = config::KlavorSetup(value);
    newer.minVersionMajor = 5;
    SaveCab(dir + "/newer.cab", newer, arm);

    const std::string startUp = "\\Windows\\StartUp\\Klavor.lnk starts \\Program Files\\Klavor\\klavor.exe";
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> lines, absent;
        std::vector<Got> got;  // what the phone application got from Klavor
        bool started, running;
    } cases[] = {
        {"the cabinet klavorcfg makes", "klavor not running\n1s install good.cab\n2s reset\n5s press Calendar\n",
         {"   2.000 s  " + startUp, "   2.000 s  Klavor starts"},
         {"Start Menu\\Programs\\Klavor.lnk starts"}, {{5500, "Win+Calendar key (0xC1)"}}, true, true},
        {"a shortcut not named .lnk", "klavor not running\n1s install before.cab\n2s reset\n5s press Calendar\n",
         {"   2.000 s  \\Windows\\StartUp\\Klavor is not a shortcut (.lnk): it starts nothing", "   5.000 s    Calendar key (0xC1) passes to \"Phone\""},
         {"Klavor starts"}, {}, false, false},
        {"a program for another processor", "klavor not running\n1s install desktop.cab\n2s reset\n",
         {"   2.000 s  " + startUp + ": not a program the phone can run: a program for x86, not ARM"}, {"Klavor starts"}, {}, false, false},
        {"a cabinet for newer phones",
         "klavor not running\n1s install newer.cab\n2s reset\n",
         {"   1.000 s  install newer.cab: \"Klavor\" from \"Klavor project\": not for this phone (Windows CE 4.20, older than the "
          "cabinet's minimum); nothing installed"},
         {"Klavor starts", "| file"}, {}, false, false},
        {"a reset ends Klavor, and the phone application comes up again as at the start",
         "phone at 3s\n1s reset\n5s reset\n20s press Calendar\n",
         {"   0.000 s  Klavor starts", "   1.000 s  reset: every process ends",
          "   4.000 s  the phone application's window \"Phone\" is up",
          "   8.000 s  the phone application's window \"Phone\" is up", "  30.000 s  the scenario ends"},
         {"   3.000 s  the phone", "Klavor exits"}, {}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto parsed = scenario::ParseScenario(c.text, dir + "/s.scenario");
        ASSERT_TRUE(std::holds_alternative<scenario::Scenario>(parsed)) << std::get<scenario::ParseError>(parsed).Text();
        const scenario::Scenario& s = std::get<scenario::Scenario>(parsed);
        scenario::Outcome o = scenario::Run(s);
        for (const std::string& line : c.lines) EXPECT_TRUE(Has(o.timeline, line)) << line << "\n---\n" << o.timeline;
        for (const std::string& text : c.absent) EXPECT_EQ(o.timeline.find(text), std::string::npos) << text << "\n---\n" << o.timeline;
        EXPECT_EQ(o.started, c.started);
        EXPECT_EQ(o.running, c.running);
        EXPECT_EQ(scenario::AppGot(s), c.got);
    }

    // What the good cabinet left on the phone: every byte as the cabinet says.
    auto parsed = scenario::ParseScenario("klavor not running\n1s install good.cab\n", dir + "/s.scenario");
    scenario::Run(std::get<scenario::Scenario>(parsed));
    EXPECT_EQ(sim::ReadFile(u"\\Program Files\\Klavor\\klavor.exe"), arm);
    const std::vector<std::uint8_t> shortcut = sim::ShortcutFile(u"\"\\Program Files\\Klavor\\klavor.exe\"");
    EXPECT_EQ(sim::ReadFile(u"\\Windows\\StartUp\\Klavor.lnk"), shortcut);
    EXPECT_EQ(sim::ReadFile(u"\\Windows\\Start Menu\\Programs\\Klavor.lnk"), shortcut);
    std::optional<sim::RegistryData> installed = sim::RegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane", u"klavorKeyTable");
    ASSERT_TRUE(installed);
    EXPECT_EQ(installed->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(installed->data, value);
    std::filesystem::remove_all(dir);
}

}  // namespace
