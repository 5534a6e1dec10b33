// Every scenario's timeline, with and without --trace, stays byte for byte
// what it was: tests/timelines/NAME.timeline and NAME.trace were made by
// klavor-sim before the phone's scheduler and trace were rebuilt, and any
// change to the phone that alters what a user sees shows up here.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/klavor_cab.h"
#include "scenario/disk.h"
#include "scenario/run.h"
#include "scenario/write.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The first line where two texts part, for a readable failure.
std::string FirstDifference(const std::string& want, const std::string& got) {
    std::istringstream a(want), b(got);
    std::string la, lb;
    for (int line = 1;; ++line) {
        bool ma = static_cast<bool>(std::getline(a, la));
        bool mb = static_cast<bool>(std::getline(b, lb));
        if (!ma && !mb) return "same lines, different bytes";
        if (la != lb || ma != mb)
            return "line " + std::to_string(line) + ":\n  want: " + (ma ? la : "(end)") + "\n  got:  " +
                   (mb ? lb : "(end)");
    }
}

// A scenario that installs a cabinet: its cabinet is made from the phone
// build's klavor.exe by the test phone.cab, and phone.identity.NAME holds
// its run to the kept timeline.
bool InstallsACabinet(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string word;
        words >> word;
        if (word == "at") words >> word;
        if (!word.empty() && (std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '+') && words >> word &&
            word == "install")
            return true;
    }
    return false;
}

TEST(KeptTimelines, EveryScenarioTellsTheSameStoryAsBefore) {
    const fs::path source = KLAVOR_SOURCE_DIR;
    const fs::path kept = source / "tests" / "timelines";
    std::vector<fs::path> scenarios;
    for (const fs::path& dir : {source / "examples", kept})
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".scenario") scenarios.push_back(entry.path());
    std::sort(scenarios.begin(), scenarios.end());
    ASSERT_GE(scenarios.size(), 6u);
    for (const fs::path& file : scenarios) {
        SCOPED_TRACE(file.string());
        std::string name = file.stem().string();
        ASSERT_TRUE(fs::exists(kept / (name + ".timeline"))) << "no kept timeline for " << name;
        if (InstallsACabinet(ReadFile(file))) continue;
        auto loaded = scenario::LoadScenario(file.string());
        ASSERT_TRUE(std::holds_alternative<scenario::Scenario>(loaded))
            << std::get<scenario::ParseError>(loaded).Text();
        const auto& s = std::get<scenario::Scenario>(loaded);
        for (bool trace : {false, true}) {
            std::string want = ReadFile(kept / (name + (trace ? ".trace" : ".timeline")));
            std::string got = scenario::Run(s, trace).timeline;
            EXPECT_TRUE(got == want) << (trace ? "--trace: " : "") << FirstDifference(want, got);
        }
    }
}

// A cabinet for the scenarios that install one: Klavor's, with a stand-in
// for the phone build's klavor.exe (the host build runs for any program).
void SaveKlavorCab(const fs::path& path) {
    std::vector<std::uint8_t> exe(3000, 0);
    auto put = [&exe](std::size_t at, unsigned v, int width) {
        for (int i = 0; i < width; ++i) exe[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    exe[0] = 'M', exe[1] = 'Z';
    put(0x3C, 0x80, 4);
    put(0x80, 0x00004550, 4);
    put(0x84, 0x01C0, 2);    // ARM
    put(0x80 + 92, 9, 2);    // Windows CE
    config::Table table = config::DefaultTable();
    for (KeyEntry& e : table) e.mode = MODE_CAPTURE;
    std::string error;
    std::optional<config::Bytes> cab = config::BuildKlavorCabinet(exe, config::EncodeTable(table), 0, &error);
    ASSERT_TRUE(cab) << error;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(cab->data()), static_cast<std::streamsize>(cab->size()));
}

// Told as it goes (RunOptions::out), the timeline is the same, line for
// line, and the phone forgets what was told: at every line it holds a few
// events and calls, where the same run told at the end holds them all.
TEST(StreamedTimelines, TheLinesToldAreTheTimelineAndThePhoneKeepsLittle) {
    const fs::path source = KLAVOR_SOURCE_DIR;
    const fs::path files = fs::path(testing::TempDir()) / ("klavor-streamed-" + std::to_string(::getpid()));
    fs::create_directories(files);
    SaveKlavorCab(files / "Klavor.cab");
    struct Case {
        std::string name;
        scenario::Scenario s;
        bool trace;
        std::size_t linesAtLeast;
        bool whole;             // also told at the end, to compare
        std::size_t heldWhole;  // events the phone then holds, at least
    };
    std::vector<Case> cases;
    for (const fs::path& dir : {source / "examples", source / "tests" / "timelines"})
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path().extension() != ".scenario") continue;
            auto loaded = scenario::LoadScenario(entry.path().string(), files.string());
            ASSERT_TRUE(std::holds_alternative<scenario::Scenario>(loaded))
                << std::get<scenario::ParseError>(loaded).Text();
            for (bool trace : {false, true})
                cases.push_back({entry.path().filename().string(), std::get<scenario::Scenario>(loaded), trace, 1, true, 0});
        }
    ASSERT_GE(cases.size(), 2u * 6);
    // Six hours of phone time, a press every 3.6 s, every button captured:
    // each press told in three lines at least (the press, the hot key, the
    // keys sent), and with the trace each tick in three calls at least.
    scenario::Script day;
    config::Table table = config::DefaultTable();
    for (KeyEntry& e : table) e.mode = MODE_CAPTURE;
    day.setUp = {scenario::ConfigHexLine(config::EncodeTable(table)), "phone up"};
    const sim::Time kHours = 6 * 3600 * 1000;
    for (sim::Time t = 1050; t < kHours; t += 3600)
        day.events.push_back({t, scenario::PressWords(static_cast<int>(t / 3600 % KEY_SLOTS), t / 3600 % 3 ? 0 : MOD_WIN)});
    day.setUp.push_back("end " + scenario::TimeWord(kHours));
    auto parsed = scenario::ParseScenario(scenario::ScriptText(day), "day.scenario");
    ASSERT_TRUE(std::holds_alternative<scenario::Scenario>(parsed)) << std::get<scenario::ParseError>(parsed).Text();
    const std::size_t presses = day.events.size(), ticks = kHours / 100;
    cases.push_back({"six hours", std::get<scenario::Scenario>(parsed), false, 3 * presses, true, 20000});
    // Its whole trace, 770,000 calls, is not kept for the comparison.
    cases.push_back({"six hours", std::get<scenario::Scenario>(parsed), true, 3 * ticks, false, 0});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + (c.trace ? " --trace" : ""));
        std::string told;
        std::size_t lines = 0, mostEvents = 0, mostCalls = 0;
        scenario::RunOptions options;
        options.trace = c.trace;
        options.out = [&](scenario::TimelineLine&& line) {
            if (c.whole) told += line.text + '\n';
            ++lines;
            mostEvents = std::max(mostEvents, sim::EventCount() - sim::FirstEvent());
            if (c.trace) mostCalls = std::max(mostCalls, sim::Trace().size());
        };
        scenario::Run(c.s, options);
        EXPECT_GE(lines, c.linesAtLeast);
        EXPECT_LT(mostEvents, 500u);
        EXPECT_LT(mostCalls, 500u);
        if (!c.whole) continue;
        std::string want = scenario::Run(c.s, c.trace).timeline;
        EXPECT_TRUE(told == want) << FirstDifference(want, told);
        EXPECT_GE(sim::EventCount() - sim::FirstEvent(), c.heldWhole);
    }
    fs::remove_all(files);
}

}  // namespace
