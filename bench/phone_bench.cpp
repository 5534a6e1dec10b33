// The simulated phone at scale: the real WinMain on a capture-all
// configuration, with a press every 3.6 s, for 1 h and 24 h of phone time,
// with and without the trace; and a scenario of 100,000 events.
//
//   phone_bench                Google Benchmark: ticks per second, and the
//                              24 h / 1 h cost ratio of this run
//   phone_bench --peaks        each case once, in a process of its own:
//                              wall time and peak memory (maxrss)
//   phone_bench --peak CASE    one case, in this process (what --peaks runs)
//   phone_bench --scenario CASE  prints the case's scenario, for klavor-sim
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <variant>

#include "scenario/disk.h"
#include "scenario/run.h"
#include "scenario/write.h"

extern char** environ;

namespace {

struct Case {
    const char* name;
    long events;          // presses
    sim::Time spacingMs;  // between presses
    sim::Time endMs;      // phone time
    bool trace;
};

constexpr sim::Time kHour = 3600 * 1000;

const Case kCases[] = {
    {"1h", 1000, 3600, kHour, false},
    {"24h", 24000, 3600, 24 * kHour, false},
    {"1h-trace", 1000, 3600, kHour, true},
    {"24h-trace", 24000, 3600, 24 * kHour, true},
    // Every press fires before the next: 19.4 h of phone time.
    {"100k-events", 100000, 700, 100000 * 700 + 10000, false},
};

const Case* FindCase(const std::string& name) {
    for (const Case& c : kCases)
        if (name == c.name) return &c;
    return nullptr;
}

// The presses go round the eight buttons of capture-all.klavor.
std::string ScenarioText(const Case& c) {
    scenario::Script script;
    script.setUp = {"config " KLAVOR_SOURCE_DIR "/examples/capture-all.reg", "end " + scenario::TimeWord(c.endMs)};
    for (long i = 0; i < c.events; ++i)
        script.events.push_back({static_cast<sim::Time>(i + 1) * c.spacingMs, scenario::PressWords(i % 8, 0)});
    return scenario::ScriptText(script);
}

scenario::Scenario Parse(const std::string& text) {
    auto parsed = scenario::ParseScenario(text, "bench.scenario");
    if (auto* e = std::get_if<scenario::ParseError>(&parsed)) {
        std::fprintf(stderr, "%s\n", e->Text().c_str());
        std::exit(2);
    }
    return std::get<scenario::Scenario>(std::move(parsed));
}

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Seconds per run of each case, wall and CPU, as this process measured them.
struct Seconds {
    double wall = 0;
    double cpu = 0;
};
std::map<std::string, Seconds> g_seconds;

// A run as klavor-sim makes it: the timeline told as it goes, each line
// counted here instead of printed.
struct Told {
    scenario::Outcome outcome;
    std::size_t bytes = 0;
};
Told RunTold(const scenario::Scenario& s, bool trace) {
    Told told;
    scenario::RunOptions options;
    options.trace = trace;
    options.out = [&told](scenario::TimelineLine&& line) { told.bytes += line.text.size() + 1; };
    told.outcome = scenario::Run(s, options);
    return told;
}

void Check(benchmark::State& state, const Told& run) {
    // The program must still be running when the phone time is up.
    if (run.outcome.exited || run.bytes == 0) state.SkipWithError("the run did not go the distance");
}

void BM_Phone(benchmark::State& state, const Case* c) {
    scenario::Scenario s = Parse(ScenarioText(*c));
    Seconds total;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        double cpu = CpuSeconds();
        Told run = RunTold(s, c->trace);
        total.cpu += CpuSeconds() - cpu;
        total.wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Check(state, run);
        benchmark::DoNotOptimize(run.bytes);
    }
    auto runs = static_cast<double>(state.iterations());
    g_seconds[c->name] = Seconds{total.wall / runs, total.cpu / runs};
    state.counters["ticks/s"] = benchmark::Counter(static_cast<double>(c->endMs / 100),
                                                   benchmark::Counter::kIsIterationInvariantRate);
    state.counters["phone_h"] = static_cast<double>(c->endMs) / kHour;
}

// The whole of klavor-sim's work but printing: parsing the text, running,
// telling the timeline.
void BM_ScenarioEvents(benchmark::State& state, const Case* c) {
    std::string text = ScenarioText(*c);
    for (auto _ : state) {
        Told run = RunTold(Parse(text), c->trace);
        Check(state, run);
        benchmark::DoNotOptimize(run.bytes);
    }
    state.counters["events/s"] =
        benchmark::Counter(static_cast<double>(c->events), benchmark::Counter::kIsIterationInvariantRate);
}

void Register() {
    for (const char* name : {"1h", "24h", "1h-trace", "24h-trace"}) {
        const Case* c = FindCase(name);
        auto* b = benchmark::RegisterBenchmark((std::string("phone/") + name).c_str(), BM_Phone, c);
        b->Unit(benchmark::kMillisecond);
        if (c->trace && c->endMs > kHour) b->Iterations(1);  // seconds and gigabytes a run
    }
    benchmark::RegisterBenchmark("scenario/100k-events", BM_ScenarioEvents, FindCase("100k-events"))
        ->Unit(benchmark::kMillisecond);
}

int PeakOne(const Case& c) {
    auto start = std::chrono::steady_clock::now();
    Told run = RunTold(Parse(ScenarioText(c)), c.trace);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run.outcome.exited || run.bytes == 0) return 1;
    std::printf("%.3f\n", wall);
    return 0;
}

// Each case in a fresh process, so that one case's memory is not another's.
int Peaks(const char* self) {
    std::printf("%-14s %10s %12s\n", "case", "wall s", "peak MB");
    for (const Case& c : kCases) {
        int pipeFd[2];
        if (pipe(pipeFd) != 0) return 1;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFd[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeFd[0]);
        std::string name = c.name;
        char* argv[] = {const_cast<char*>(self), const_cast<char*>("--peak"), name.data(), nullptr};
        pid_t pid;
        int spawned = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFd[1]);
        if (spawned != 0) return 1;
        char buf[64] = {};
        ssize_t n = read(pipeFd[0], buf, sizeof buf - 1);
        close(pipeFd[0]);
        int status = 0;
        struct rusage usage {};
        if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || n <= 0) {
            std::printf("%-14s failed\n", c.name);
            return 1;
        }
        std::printf("%-14s %10.3f %12.1f\n", c.name, std::atof(buf), static_cast<double>(usage.ru_maxrss) / 1024.0);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--peaks") == 0) return Peaks("/proc/self/exe");
    if (argc == 3 && (std::strcmp(argv[1], "--peak") == 0 || std::strcmp(argv[1], "--scenario") == 0)) {
        const Case* c = FindCase(argv[2]);
        if (!c) {
            std::fprintf(stderr, "phone_bench: no case '%s'\n", argv[2]);
            return 2;
        }
        if (argv[1][2] == 's') {
            std::fputs(ScenarioText(*c).c_str(), stdout);
            return 0;
        }
        return PeakOne(*c);
    }
    Register();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Linear in phone time means about 24; each needs both cases in this run.
    for (const char* suffix : {"", "-trace"}) {
        auto one = g_seconds.find(std::string("1h") + suffix);
        auto day = g_seconds.find(std::string("24h") + suffix);
        if (one != g_seconds.end() && day != g_seconds.end() && one->second.wall > 0 && one->second.cpu > 0)
            std::printf("24h/1h cost ratio%s: %.1f in CPU time, %.1f in wall time\n",
                        *suffix ? " (trace on)" : " (trace off)", day->second.cpu / one->second.cpu,
                        day->second.wall / one->second.wall);
    }
    return 0;
}
