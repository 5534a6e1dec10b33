// Every scenario's timeline, with and without --trace, stays byte for byte
// what it was: tests/timelines/NAME.timeline and NAME.trace were made by
// klavor-sim before the phone's scheduler and trace were rebuilt, and any
// change to the phone that alters what a user sees shows up here.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "scenario/disk.h"
#include "scenario/run.h"

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

}  // namespace
