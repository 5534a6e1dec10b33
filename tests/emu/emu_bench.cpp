// The emulated phone's speed: each scenario run on the host build and on
// the ARM klavor.exe under the emulator, in this one process, timed over
// repeated runs; prints both and their ratio. The timelines must be the
// same, or the numbers would compare different work.
//
//   klavor_emu_bench [--once] EXE [SCENARIO...]
// Without scenarios: examples/demo.scenario and one hour of phone time.
// --once: each run once, untimed, for counting instructions under callgrind
// (tests/emu/emu_callgrind.sh).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "emu.h"
#include "scenario.h"

namespace {

using Clock = std::chrono::steady_clock;

// The median time of one run, in milliseconds, over enough runs to fill
// about half a second (at least five).
double MedianMs(const scenario::Scenario& s, const scenario::Program& program, std::string* timeline, bool once) {
    std::vector<double> times;
    double total = 0;
    while (times.size() < (once ? 1 : 5) || (!once && total < 500)) {
        auto start = Clock::now();
        scenario::Outcome o = scenario::Run(s, false, program);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        times.push_back(ms);
        total += ms;
        *timeline = o.timeline + (o.fault.empty() ? "" : "fault: " + o.fault + "\n");
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    bool once = argc > 1 && std::string(argv[1]) == "--once";
    if (once) --argc, ++argv;
    if (argc < 2) {
        std::fprintf(stderr, "usage: klavor_emu_bench [--once] EXE [SCENARIO...]\n");
        return 2;
    }
    std::string error;
    auto image = emu::LoadPeImage(argv[1], &error);
    if (!image) {
        std::fprintf(stderr, "klavor_emu_bench: %s\n", error.c_str());
        return 2;
    }
    std::vector<std::string> files(argv + 2, argv + argc);
    if (files.empty())
        files = {std::string(KLAVOR_SOURCE_DIR) + "/examples/demo.scenario",
                 std::string(KLAVOR_SOURCE_DIR) + "/tests/emu/scenarios/one-hour.scenario"};

    scenario::Program phone = [&image](HINSTANCE instance, LPWSTR commandLine, int show) {
        sim::SetProgramIcons(image->iconGroups);
        return emu::RunProgram(*image, instance, commandLine, show);
    };
    std::printf("%-40s %12s %12s %8s\n", "scenario (one run, median)", "host", "emulated", "ratio");
    int status = 0;
    for (const std::string& file : files) {
        auto loaded = scenario::LoadScenario(file);
        if (auto* e = std::get_if<scenario::ParseError>(&loaded)) {
            std::fprintf(stderr, "%s\n", e->Text().c_str());
            return 2;
        }
        const auto& s = std::get<scenario::Scenario>(loaded);
        std::string hostLine, phoneLine;
        double host = MedianMs(s, nullptr, &hostLine, once);
        double emulated = MedianMs(s, phone, &phoneLine, once);
        std::string name = file.substr(file.find_last_of('/') + 1);
        std::printf("%-40s %9.2f ms %9.2f ms %7.1fx\n", name.c_str(), host, emulated, emulated / host);
        if (hostLine != phoneLine) {
            std::fprintf(stderr, "klavor_emu_bench: %s: the emulated run's timeline differs from the host's\n",
                         file.c_str());
            status = 1;
        }
    }
    return status;
}
