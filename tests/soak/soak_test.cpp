// The soak's own machinery: the runs it writes are scenarios klavor-sim
// reads, its checks fire on what goes wrong, and shrinking finds the events
// that matter.
#include <gtest/gtest.h>

#include <algorithm>

#include "config/config_text.h"
#include "scenario/disk.h"
#include "soak.h"

namespace {

const std::string kExamples = std::string(KLAVOR_SOURCE_DIR) + "/examples/";

scenario::Scenario Parse(const std::string& text) {
    auto parsed = scenario::ParseScenario(text, kExamples + "soak-test.scenario");
    if (auto* e = std::get_if<scenario::ParseError>(&parsed)) {
        ADD_FAILURE() << e->Text();
        return {};
    }
    return std::get<scenario::Scenario>(parsed);
}

TEST(SoakStream, RunsAreScenariosKlavorSimReadsWithEventsOffTheTickGrid) {
    std::size_t exits = 0, tray = 0, wrongLength = 0;
    for (unsigned seed = 1; seed <= 200; ++seed) {
        std::mt19937_64 rng(seed);
        scenario::Script run = soak::Generate(rng, {5, 60});
        const std::string saved = soak::ScenarioText(run, "seed " + std::to_string(seed));
        scenario::Scenario s = Parse(saved);
        ASSERT_EQ(s.actions.size(), run.events.size()) << seed;
        ASSERT_TRUE(s.configValue && s.end) << seed;
        // The file reads back to the very run: its lines, its times.
        scenario::Script back = scenario::ScriptOf(s);
        EXPECT_EQ(back.setUp, run.setUp) << seed;
        for (std::size_t i = 0; i < s.actions.size(); ++i)
            EXPECT_EQ(scenario::EventLine(back.events[i]), scenario::EventLine(run.events[i])) << seed;
        EXPECT_EQ(scenario::ScriptText(back), saved.substr(saved.find("\n\n") + 2)) << seed;
        wrongLength += s.configValue->size() != KEY_TABLE_BYTES;
        for (std::size_t i = 0; i < s.actions.size(); ++i) {
            const scenario::Action& a = s.actions[i];
            EXPECT_EQ(a.t, run.events[i].t);
            EXPECT_NE(a.t % 100, 0u) << seed << ": " << a.text;
            bool isTray = a.kind != scenario::Action::Kind::Press && a.kind != scenario::Action::Kind::Steal;
            tray += isTray;
            // A tray event comes after the one before it has been handled.
            if (isTray && i > 0) {
                EXPECT_GT(a.t, s.actions[i - 1].t) << seed << ": " << a.text;
            }
        }
        exits += !s.actions.empty() && s.actions.back().Item() == "Exit";
    }
    EXPECT_GT(exits, 100u);
    EXPECT_GT(tray, 500u);
    EXPECT_GT(wrongLength, 0u);
}

const std::string kCaptureAll = "config capture-all.reg\nphone up\n";

TEST(SoakCheck, TheProgramPassesAndWhatIsDoneBehindItsBackDoesNot) {
    scenario::Scenario s = Parse(kCaptureAll +
                                 "1001ms press Calendar\n2001ms press Green with Win\n+150ms press Green\n"
                                 "3001ms steal Red\n4001ms tap tray\n4501ms choose Exit\n");
    soak::RunResult ok = soak::CheckRun(s);
    ASSERT_FALSE(ok.failure) << ok.failure->what;
    EXPECT_FALSE(ok.unsupported);
    EXPECT_EQ(ok.events, 6u);
    EXPECT_EQ(ok.counts.firings, 2u);
    EXPECT_EQ(ok.counts.exits, 1u);

    // A hot key nobody asked for.
    soak::RunResult taken = soak::CheckRun(s, [] {
        sim::At(2500, [] {
            HWND other = sim::CreateWindowFor(sim::StartProcess("intruder"), u"X", u"");
            sim::RegisterHotKeyFor(other, 7, 0, 'Q');
        });
    });
    ASSERT_TRUE(taken.failure);
    EXPECT_EQ(taken.failure->check, soak::Check::HotKeys);
    // Seen at the next look: a tick or an event.
    EXPECT_GT(taken.failure->t, 2500u);
    EXPECT_LE(taken.failure->t, 3001u);
    EXPECT_NE(taken.failure->what.find("hot key 0x51 is held by"), std::string::npos) << taken.failure->what;

    // The Windows key left down.
    soak::RunResult stuck = soak::CheckRun(s, [] { sim::At(1500, [] { sim::KeyDown(VK_LWIN); }); });
    ASSERT_TRUE(stuck.failure);
    EXPECT_EQ(stuck.failure->check, soak::Check::KeyLeftDown);
    EXPECT_EQ(stuck.failure->what, "the Windows key is left down");

    // A key sent with no firing due.
    soak::RunResult sent = soak::CheckRun(s, [] { sim::At(3200, [] { keybd_event('Z', 0, 0, 0); keybd_event('Z', 0, KEYEVENTF_KEYUP, 0); }); });
    ASSERT_TRUE(sent.failure);
    EXPECT_EQ(sent.failure->check, soak::Check::Firing);
}

TEST(SoakCheck, ScenariosItCannotJudgeAreSaidSo) {
    // The demo presses on whole seconds, the program's tick grid.
    auto demo = scenario::LoadScenario(kExamples + "demo.scenario");
    ASSERT_TRUE(std::holds_alternative<scenario::Scenario>(demo));
    soak::RunResult r = soak::CheckRun(std::get<scenario::Scenario>(demo));
    EXPECT_TRUE(r.unsupported);
    EXPECT_NE(r.whyUnsupported.find("tick grid, at 5.000 s"), std::string::npos) << r.whyUnsupported;
    // A choice at the same time as its tap: the menu is not open yet.
    r = soak::CheckRun(Parse(kCaptureAll + "1001ms tap tray\n1001ms choose Exit\n"));
    EXPECT_TRUE(r.unsupported);
    EXPECT_FALSE(r.failure);
    // The soak follows one run on one start of the phone.
    r = soak::CheckRun(Parse(kCaptureAll + "1001ms reset\n"));
    EXPECT_EQ(r.whyUnsupported, "an install or a reset, at 1.001 s");
    r = soak::CheckRun(Parse("klavor not running\n1001ms press Calendar\n"));
    EXPECT_EQ(r.whyUnsupported, "Klavor is not running at the start");
    // A tap while the menu or the About box is open is the program's to ignore.
    r = soak::CheckRun(Parse(kCaptureAll + "1001ms tap tray\n1501ms tap tray\n1601ms choose \"About Klavor\"\n"
                                           "1701ms tap tray\n1801ms close about\n1901ms tap tray\n2001ms choose Exit\n"));
    EXPECT_FALSE(r.unsupported) << r.whyUnsupported;
    ASSERT_FALSE(r.failure) << r.failure->what;
    EXPECT_EQ(r.counts.menus, 2u);
    EXPECT_EQ(r.counts.aboutBoxes, 1u);
}

TEST(SoakCheck, TheWaitForThePhoneEndsAtTheFirstLookThatFindsItsWindow) {
    // The program looks once a second for "Phone" or "Телефон", ASCII case
    // ignored; a window of any other title is never found, and after 30
    // looks it starts all the same. (The fuzzer found the soak taking
    // "Телефон" for a title the program does not know.)
    for (const char* title : {"Телефон", "PHONE", "телефон", "Phone 2"}) {
        for (const char* at : {"0.5s", "7s", "31s"}) {
            std::string text = std::string("config capture-all.reg\nphone at ") + at + " titled \"" + title +
                               "\"\n40001ms press Green\n41001ms tap tray\n41501ms choose Exit\n";
            soak::RunResult r = soak::CheckRun(Parse(text));
            EXPECT_FALSE(r.unsupported) << text;
            EXPECT_FALSE(r.failure) << text << r.failure->what;
            EXPECT_EQ(r.counts.firings, 1u) << text;
        }
    }
}

TEST(SoakCheck, ALoopingConfigurationIsTheProgramsOwnBusiness) {
    // Calendar and Contacts press each other: a firing every tick until Exit.
    soak::RunResult r = soak::CheckRun(Parse("config runaway.klavor\nphone up\n1001ms press Calendar\n"
                                             "3001ms tap tray\n3051ms choose Exit\n"));
    ASSERT_FALSE(r.failure) << r.failure->what;
    EXPECT_GT(r.counts.firings, 15u);
    EXPECT_EQ(r.counts.chained, r.counts.firings);
}

// On the phone's binary a run must also be the host build's, call for call:
// a program that makes one call more, or is stopped by a fault, fails, and
// the shrunk run still does. (Host stand-ins for the emulated program.)
TEST(SoakCheck, ThePhonesBinaryMustMakeTheHostBuildsCalls) {
    const std::string events = "1001ms press Calendar\n2001ms tap tray\n2501ms choose Exit\n";
    scenario::Scenario s = Parse(kCaptureAll + events);
    soak::Phone same = [](HINSTANCE i, LPWSTR line, int show) { return WinMain(i, nullptr, line, show); };
    soak::RunResult r = soak::CheckRun(s, {}, same);
    ASSERT_FALSE(r.failure) << r.failure->what;
    EXPECT_EQ(r.counts.firings, 1u);

    soak::Phone extra = [](HINSTANCE i, LPWSTR line, int show) {
        Sleep(0);
        return WinMain(i, nullptr, line, show);
    };
    r = soak::CheckRun(s, {}, extra);
    ASSERT_TRUE(r.failure);
    EXPECT_EQ(r.failure->check, soak::Check::Identity);
    EXPECT_EQ(r.failure->t, 0u);
    EXPECT_NE(r.failure->what.find("line 4: the host build has \"   0.000 s      | FindWindowW"), std::string::npos)
        << r.failure->what;
    EXPECT_NE(r.failure->what.find("the phone's binary \"   0.000 s      | Sleep(0)\""), std::string::npos)
        << r.failure->what;

    soak::Phone faulty = [](HINSTANCE, LPWSTR, int) -> int { throw std::runtime_error("a read of 4 bytes at 0x0"); };
    r = soak::CheckRun(s, {}, faulty);
    ASSERT_TRUE(r.failure);
    EXPECT_EQ(r.failure->check, soak::Check::Identity);
    EXPECT_EQ(r.failure->what, "the phone's binary was stopped by a fault: a read of 4 bytes at 0x0");

    std::mt19937_64 rng(3);
    scenario::Script run = soak::Generate(rng, {30, 30});
    scenario::Script small = soak::ShrinkFailure(run, soak::Check::Identity, extra);
    EXPECT_TRUE(small.events.empty());
    soak::RunResult again = soak::CheckScript(small, {}, extra);
    ASSERT_TRUE(again.failure);
    EXPECT_EQ(again.failure->check, soak::Check::Identity);
}

TEST(SoakCheck, TimelinesPartAtTheFirstLineThatDiffers) {
    const std::string host = "   1.000 s  a\n   2.500 s  b\n              | more\n   3.000 s  c\n";
    EXPECT_FALSE(soak::CompareTimelines(host, host));
    struct Case {
        std::string phone, what;
        sim::Time t;
    } cases[] = {
        {"   1.000 s  a\n   2.600 s  b\n", "line 2: the host build has \"   2.500 s  b\", the phone's binary \"   2.600 s  b\"", 2500},
        {"   1.000 s  a\n   2.500 s  b\n              | less\n", "line 3: the host build has \"              | more\"", 2500},
        {"   1.000 s  a\n   2.500 s  b\n              | more\n", "line 4: the host build has \"   3.000 s  c\", the phone's binary nothing (its timeline has ended)", 3000},
        {host + "   4.000 s  d\n", "line 5: the host build has nothing (its timeline has ended), the phone's binary \"   4.000 s  d\"", 4000},
    };
    for (const Case& c : cases) {
        std::optional<soak::Failure> f = soak::CompareTimelines(host, c.phone);
        ASSERT_TRUE(f) << c.phone;
        EXPECT_EQ(f->check, soak::Check::Identity);
        std::string expected = "the timelines part at " + c.what;
        EXPECT_EQ(f->what.substr(0, expected.size()), expected) << c.phone;
        EXPECT_EQ(f->t, c.t) << c.phone;
    }
}

TEST(SoakShrink, KeepsOnlyTheEventsAndSetUpTheFailureNeeds) {
    scenario::Script lines;
    lines.setUp = {"phone up", "coredll missing", "another copy running", "end 100000ms"};
    for (int i = 0; i < 60; ++i) lines.events.push_back({1001u + 100u * i, "press Calendar"});
    lines.events[17].what = "steal Red";
    lines.events[41].what = "press Green with Win";
    std::size_t runs = 0;
    auto fails = [&](const scenario::Script& l) {
        ++runs;
        auto has = [&](const std::string& what) {
            return std::any_of(l.events.begin(), l.events.end(), [&](const scenario::Script::Event& e) { return e.what == what; });
        };
        bool missing = std::find(l.setUp.begin(), l.setUp.end(), "coredll missing") != l.setUp.end();
        return has("steal Red") && has("press Green with Win") && missing;
    };
    scenario::Script small = soak::Shrink(lines, fails);
    ASSERT_EQ(small.events.size(), 2u);
    EXPECT_EQ(small.events[0].t, 2701u);
    EXPECT_EQ(small.events[1].what, "press Green with Win");
    EXPECT_EQ(small.setUp, (std::vector<std::string>{"phone up", "coredll missing", "end 100000ms"}));
    EXPECT_LT(runs, 80u);
    // Within its budget, however small.
    runs = 0;
    soak::Shrink(lines, fails, 5);
    EXPECT_EQ(runs, 5u);

    // The configuration: every slot that does not matter as built in, every
    // action that does not matter gone, and the value written as the
    // scenario writer writes one.
    config::Table busy = config::DefaultTable();
    for (int s = 0; s < KEY_SLOTS; ++s) {
        busy[s].mode = MODE_CAPTURE;
        busy[s].count = 4;
        for (WORD& a : busy[s].actions) a = static_cast<WORD>(0x4041 + s);
    }
    busy[6].actions[0] = 'Q';
    scenario::Script configured;
    configured.setUp = {scenario::ConfigHexLine(config::EncodeTable(busy)), "phone up", "end 10s"};
    configured.events = {{1001, "press Green"}};
    auto needsGreensQ = [](const scenario::Script& l) {
        std::optional<config::Table> t = config::DecodeValue(*soak::ScenarioOf(l).configValue);
        return t && (*t)[6].mode == MODE_CAPTURE && (*t)[6].actions[0] == 'Q';
    };
    scenario::Script plain = soak::Shrink(configured, needsGreensQ);
    config::Table want = config::DefaultTable();
    for (KeyEntry& e : want)
        if (e.mode != MODE_IGNORE) e = KeyEntry{e.mode, e.vk, 0, {0, 0, 0, 0, 0}};
    want[6] = KeyEntry{MODE_CAPTURE, busy[6].vk, 0, {'Q', 0, 0, 0, 0}};
    EXPECT_EQ(plain.setUp, (std::vector<std::string>{scenario::ConfigHexLine(config::EncodeTable(want)), "phone up", "end 10s"}));
    EXPECT_TRUE(plain.events.empty());
}

}  // namespace
