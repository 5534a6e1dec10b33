// The engine's own cost per idle tick, per press, per firing and per
// recapture sweep, against platform calls that return at once.
//
//   engine_bench                 Google Benchmark: time per operation
//   engine_bench --count OP N    runs OP (idle, press, fire, sweep) N times
//                                and nothing else: engine_callgrind.sh
//                                counts its instructions under callgrind
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/capture.h"
#include "engine/key_table.h"
#include "engine/sequence.h"

BOOL WINAPI StubUnregisterFunc1(UINT, UINT);

namespace {

// Every slot captured with the built-in actions, as capture-all.klavor;
// slot 0 single-press is Win+0xC1: a firing makes 13 platform calls.
void SetUpTable(WORD count) {
    std::memcpy(KeyTable, DefaultKeyTable, sizeof KeyTable);
    for (auto& slot : KeyTable) {
        slot.mode = MODE_CAPTURE;
        slot.count = count;
        slot.actions[0] = static_cast<WORD>(ACTION_WITH_WIN | slot.vk);
    }
    g_hWnd = reinterpret_cast<HWND>(0x10001);
    g_pUnregisterFunc1 = &StubUnregisterFunc1;
    ResetSequence();
}

void CaptureEverySlot(WORD count) {
    SetUpTable(count);
    CaptureAll();
}

// Ticks with nothing pending and no sweep due.
void IdleTicks(long n) {
    CaptureEverySlot(2);
    for (long i = 0; i < n; ++i) {
        recaptureTicks = RECAPTURE_TICKS;
        OnTimerTick();
    }
}

// A first press of slot 0 from idle.
void Presses(long n) {
    CaptureEverySlot(2);
    for (long i = 0; i < n; ++i) {
        ResetSequence();
        OnHotKey(HOTKEY_ID_PLAIN + 0);
    }
}

// With count 0 a press fires on the next tick: the tick that fires.
void Firings(long n) {
    CaptureEverySlot(0);
    for (long i = 0; i < n; ++i) {
        recaptureTicks = RECAPTURE_TICKS;
        OnHotKey(HOTKEY_ID_PLAIN + 0);
        OnTimerTick();
    }
}

void Sweeps(long n) {
    SetUpTable(2);
    for (long i = 0; i < n; ++i) CaptureAll();
}

void BM_IdleTick(benchmark::State& state) {
    CaptureEverySlot(2);
    for (auto _ : state) {
        recaptureTicks = RECAPTURE_TICKS;
        OnTimerTick();
    }
}
BENCHMARK(BM_IdleTick);

void BM_Press(benchmark::State& state) {
    CaptureEverySlot(2);
    for (auto _ : state) {
        ResetSequence();
        OnHotKey(HOTKEY_ID_PLAIN + 0);
    }
}
BENCHMARK(BM_Press);

// A press and the tick that fires it.
void BM_PressAndFiring(benchmark::State& state) {
    CaptureEverySlot(0);
    for (auto _ : state) {
        recaptureTicks = RECAPTURE_TICKS;
        OnHotKey(HOTKEY_ID_PLAIN + 0);
        OnTimerTick();
    }
}
BENCHMARK(BM_PressAndFiring);

void BM_RecaptureSweepOf8Slots(benchmark::State& state) {
    CaptureEverySlot(2);
    for (auto _ : state) CaptureAll();
}
BENCHMARK(BM_RecaptureSweepOf8Slots);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--count") == 0) {
        long n = std::strtol(argv[3], nullptr, 10);
        std::string op = argv[2];
        if (n <= 0) return 2;
        if (op == "idle")
            IdleTicks(n);
        else if (op == "press")
            Presses(n);
        else if (op == "fire")
            Firings(n);
        else if (op == "sweep")
            Sweeps(n);
        else
            return 2;
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
