// The emulated phone's speed: each scenario run on the host build and on
// the ARM klavor.exe under the emulator, in this one process, timed over
// repeated runs; prints both and their ratio, and what the emulated run
// did (calls of the phone, the program's loads and stores). The timelines
// must be the same, or the numbers would compare different work. Then what
// one guest instruction, load and store costs here, from loops of a
// million on hand-made programs: the floor under the ratio.
//
//   klavor_emu_bench [--once] EXE [SCENARIO...]
// Without scenarios: examples/demo.scenario and one hour of phone time.
// --once: each run once, untimed, for counting instructions under callgrind
// (tests/emu/emu_callgrind.sh).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/emu/emu.h"
#include "platform/sim/phone.h"
#include "scenario/disk.h"
#include "scenario/run.h"
#include "tiny_pe.h"

namespace {

using Clock = std::chrono::steady_clock;

// The median time of one run, in milliseconds, over enough runs to fill
// about half a second (at least five).
double MedianMs(const scenario::Scenario& s, const scenario::Program& program, std::string* timeline, bool once) {
    std::vector<double> times;
    double total = 0;
    while (times.size() < (once ? 1 : 5) || (!once && total < 500)) {
        auto start = Clock::now();
        scenario::RunOptions options;
        options.program = program;
        scenario::Outcome o = scenario::Run(s, options);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        times.push_back(ms);
        total += ms;
        *timeline = o.timeline + (o.fault.empty() ? "" : "fault: " + o.fault + "\n");
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A million rounds of a loop on the emulated CPU, with `body` (0: none)
// in each; the median time of one round in nanoseconds, over five runs.
double LoopNs(std::uint32_t body) {
    constexpr std::uint32_t kRounds = 1000000;
    tiny::Program p;
    p.Op(tiny::kPushR4Lr).Load(2, kRounds);
    if (body) p.Op(body);
    p.Op(0xE2522001)                       // subs r2, r2, #1
        .Op(body ? 0x1AFFFFFC : 0x1AFFFFFD)  // bne to the loop's start
        .Op(tiny::kPopR4Pc);
    std::string error;
    auto image = emu::ParsePeImage(p.Build(), "loop.exe", &error);
    if (!image) throw std::runtime_error(error);
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        sim::Reset();
        auto start = Clock::now();
        emu::RunProgram(*image, sim::ProgramInstance(), u"", 5);
        times.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kRounds);
    }
    std::sort(times.begin(), times.end());
    return times[2];
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
    std::printf("%-32s %11s %11s %8s   %s\n", "scenario (one run, median)", "host", "emulated", "ratio",
                "the emulated run: calls, loads, stores");
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
        emu::RunCounts n = emu::LastRunCounts();
        std::string name = file.substr(file.find_last_of('/') + 1);
        std::printf("%-32s %8.2f ms %8.2f ms %7.1fx   %llu, %llu, %llu\n", name.c_str(), host, emulated,
                    emulated / host, static_cast<unsigned long long>(n.calls),
                    static_cast<unsigned long long>(n.loads), static_cast<unsigned long long>(n.stores));
        if (hostLine != phoneLine) {
            std::fprintf(stderr, "klavor_emu_bench: %s: the emulated run's timeline differs from the host's\n",
                         file.c_str());
            status = 1;
        }
    }
    if (once) return status;
    double loop = LoopNs(0);
    double load = LoopNs(0xE59D0000) - loop;   // ldr r0, [sp]
    double store = LoopNs(0xE58D0000) - loop;  // str r0, [sp]
    std::printf("one guest instruction %.1f ns (a round of a two-instruction loop / 2), load %.1f ns, store %.1f ns\n",
                loop / 2, load, store);
    return status;
}
