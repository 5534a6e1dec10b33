// klavor-soak: the whole program on the simulated phone under a seeded
// random stream of events, checked after every one (see soak.h).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>

#include "files/files.h"
#include "scenario/disk.h"
#include "soak.h"
#ifdef KLAVOR_PHONE_EMU
#include "platform/emu/emu.h"
#endif

namespace {

const char kUsage[] =
    "usage: klavor-soak [--phone EXE] [--seed N] [--events N] [--run-events N] [--out DIR]\n"
    "       klavor-soak [--phone EXE] --replay SCENARIO\n"
    "\n"
    "Runs Klavor's WinMain on the simulated phone, run after run, each with a\n"
    "random configuration and a random stream of presses, thefts of hot keys and\n"
    "tray taps, until N events (default 100000) have run, checking the program\n"
    "after every one. Prints the seed first (a random one unless --seed), then\n"
    "what ran and the events per second.\n"
    "\n"
    "On a failure it shrinks the run to a small scenario that fails the same\n"
    "way, prints it and writes it to DIR/soak-failure-SEED.scenario (DIR: the\n"
    "current directory unless --out), and exits 1. `klavor-sim FILE` shows that\n"
    "scenario's timeline; `klavor-soak --replay FILE` checks it again.\n"
    "\n"
    "  --run-events N  at most N events in one run of the program (default 400)\n"
    "  --phone EXE     run the ARM Windows CE executable EXE (build/phone/klavor.exe)\n"
    "                  on the emulated phone instead of this build's WinMain, with the\n"
    "                  same checks, and require of each run the host build's timeline,\n"
    "                  every call of the phone included\n"
    "\n"
    "Exit status: 0 all passed, 1 a check failed, 2 bad usage or an unreadable\n"
    "or malformed scenario, 3 a scenario the soak cannot judge.\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "klavor-soak: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

bool Number(const char* text, unsigned long long* out) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 0);
    if (errno || !*text || *end || text[0] == '-') return false;
    *out = v;
    return true;
}

std::string Describe(const soak::Failure& f) {
    return std::string(soak::CheckName(f.check)) + ", at " + std::to_string(f.t / 1000) + "." +
           std::to_string(1000 + f.t % 1000).substr(1) + " s: " + f.what;
}

int Replay(const std::string& file, const soak::Phone& phone) {
    auto loaded = scenario::LoadScenario(file);
    if (auto* e = std::get_if<scenario::ParseError>(&loaded)) {
        std::fprintf(stderr, "%s\n", e->Text().c_str());
        return 2;
    }
    soak::RunResult r = soak::CheckRun(std::get<scenario::Scenario>(loaded), {}, phone);
    if (r.unsupported) {
        std::fprintf(stderr, "klavor-soak: %s: cannot judge this scenario: %s\n", file.c_str(), r.whyUnsupported.c_str());
        return 3;
    }
    if (r.failure) {
        std::printf("%s: FAILED: %s\n", file.c_str(), Describe(*r.failure).c_str());
        return 1;
    }
    std::printf("%s: passed, %zu events\n", file.c_str(), r.events);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long seed = 0, events = 100000, runEvents = 400;
    bool seeded = false;
    std::string out = ".", replay, exe;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--seed" && more) {
            if (!Number(argv[++i], &seed)) return Usage("--seed takes a number");
            seeded = true;
        } else if (a == "--events" && more) {
            if (!Number(argv[++i], &events)) return Usage("--events takes a number");
        } else if (a == "--run-events" && more) {
            if (!Number(argv[++i], &runEvents) || runEvents < 1) return Usage("--run-events takes a number above 0");
        } else if (a == "--out" && more) {
            out = argv[++i];
        } else if (a == "--replay" && more) {
            replay = argv[++i];
        } else if (a == "--phone" && more) {
            exe = argv[++i];
        } else {
            return Usage("unexpected argument " + a);
        }
    }
    soak::Phone phone;
#ifdef KLAVOR_PHONE_EMU
    std::optional<emu::PeImage> image;
    if (!exe.empty()) {
        std::string error;
        image = emu::LoadPeImage(exe, &error);
        if (!image) {
            std::fprintf(stderr, "klavor-soak: %s\n", error.c_str());
            return 2;
        }
        phone = [&image](HINSTANCE instance, LPWSTR commandLine, int show) {
            sim::SetProgramIcons(image->iconGroups);
            return emu::RunProgram(*image, instance, commandLine, show);
        };
    }
#else
    if (!exe.empty()) {
        std::fprintf(stderr,
                     "klavor-soak: --phone needs the emulated phone, which this build lacks: "
                     "install Unicorn 2 (libunicorn-dev) and configure again\n");
        return 2;
    }
#endif
    if (!replay.empty()) return Replay(replay, phone);
    if (!seeded) seed = (static_cast<unsigned long long>(std::random_device{}()) << 32) ^ std::random_device{}();
    std::string again = exe.empty() ? "" : "--phone " + exe + " ";
    std::printf("klavor-soak: seed %llu (klavor-soak %s--seed %llu --events %llu replays this stream)\n", seed,
                again.c_str(), seed, events);
    if (!exe.empty())
        std::printf("klavor-soak: on %s, the emulated phone; each run also on the host build, for its timeline\n",
                    exe.c_str());
    std::fflush(stdout);

    std::mt19937_64 master(seed);
    soak::GenerateOptions options;
    options.maxEvents = static_cast<std::size_t>(runEvents);
    options.minEvents = std::min<std::size_t>(options.minEvents, options.maxEvents);
    unsigned long long done = 0, runs = 0;
    sim::Time phoneTime = 0;
    soak::RunResult::Counts counts;
    auto began = std::chrono::steady_clock::now();
    while (done < events) {
        std::mt19937_64 rng(master());
        scenario::Script run = soak::Generate(rng, options);
        soak::RunResult r = soak::CheckScript(run, {}, phone);
        ++runs;
        done += r.events;
        phoneTime += r.phoneTime;
        counts += r.counts;
        if (r.unsupported) {
            std::fprintf(stderr, "klavor-soak: run %llu made a scenario the soak cannot judge: %s\n%s", runs,
                         r.whyUnsupported.c_str(), soak::ScenarioText(run).c_str());
            return 3;
        }
        if (!r.failure) continue;

        std::printf("FAILED in run %llu (%zu events): %s\nshrinking...\n", runs, run.events.size(),
                    Describe(*r.failure).c_str());
        std::fflush(stdout);
        scenario::Script small = soak::ShrinkFailure(run, r.failure->check, phone);
        soak::RunResult shrunk = soak::CheckScript(small, {}, phone);
        std::string sim = exe.empty() ? "klavor-sim FILE" : "klavor-sim --trace FILE and klavor-sim --trace --phone " + exe + " FILE";
        std::string heading = "klavor-soak " + again + "--seed " + std::to_string(seed) + ", run " +
                              std::to_string(runs) + ", shrunk from " + std::to_string(run.events.size()) +
                              " events to " + std::to_string(small.events.size()) + ".\nFails: " +
                              (shrunk.failure ? Describe(*shrunk.failure) : Describe(*r.failure)) + "\nWatch it: " +
                              sim + "; check it: klavor-soak " + again + "--replay FILE";
        std::string text = soak::ScenarioText(small, heading);
        std::string path = out + "/soak-failure-" + std::to_string(seed) + ".scenario";
        std::string error;
        std::printf("\n%s\n", text.c_str());
        if (files::WriteOutput(path, text, &error))
            std::printf("written to %s\n", path.c_str());
        else
            std::fprintf(stderr, "klavor-soak: %s\n", error.c_str());
        return 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("passed: %llu events in %llu runs, %.1f hours of phone time, in %.1f s: %.0f events/s\n", done, runs,
                static_cast<double>(phoneTime) / 3.6e6, seconds, seconds > 0 ? static_cast<double>(done) / seconds : 0.0);
    std::printf("checked: %s\n", counts.Text().c_str());
    return 0;
}
