// The watch over one run, in pieces: what the phone has shown (PhoneLog),
// where the hot keys should be (HotKeys), whether each tick fired and sent
// what it should (Firing), and the tray (Tray). watch.cpp puts them
// together, visits the phone whenever the program is idle and checks the
// end of the run. Internal to the soak.
#ifndef KLAVOR_TESTS_SOAK_WATCH_H
#define KLAVOR_TESTS_SOAK_WATCH_H

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/config_text.h"
#include "soak.h"

namespace soak {

// ---- The program's documented behaviour --------------------------------
// Written out here rather than taken from its headers, so that a change
// there shows as a failure.
constexpr sim::Time kTick = 100;        // the timer
constexpr sim::Time kHoldTicks = 5;     // quiet ticks before a sequence fires, on the sixth
constexpr long long kSweepTicks = 301;  // from one sweep to the next
constexpr int kTrayIconId = 5000;
constexpr int kExitCodeMenu = 1;
constexpr int kSlotMask = 0xFF;         // a hot-key id's slot
constexpr UINT kVariantMods[3] = {0, MOD_WIN, MOD_SHIFT};
constexpr int kVariantIds[3] = {0x000, 0x100, 0x200};
constexpr UINT kComboMods = MOD_ALT | MOD_CONTROL | MOD_SHIFT | MOD_WIN;

// When the program starts, after its wait for the phone.
sim::Time StartTime(const scenario::Scenario& s);
// Modes whose sweeps take the slot's key from other programs.
inline bool TakesKey(WORD mode) { return mode == MODE_FREE || mode == MODE_CAPTURE; }

// For messages: "slot 6 (Green)", "1.500 s".
std::string Slot(int slot);
std::string Seconds(sim::Time t);

// ---- Failing -----------------------------------------------------------
// Thrown out of the phone's event loop when a check fails: the run stops
// there, as at the end of a scenario.
struct Stop : sim::Halted {
    Failure failure;
};
// Fails `check` now (at sim::Now()).
[[noreturn]] void Fail(Check check, const std::string& what);

// ---- The program's ticks -----------------------------------------------
// The grid of the program's timer: a tick every kTick from its start.
struct TickGrid {
    sim::Time start;
    bool On(sim::Time t) const { return t > start && (t - start) % kTick == 0; }
    bool Sweeps(sim::Time t) const { return static_cast<long long>((t - start) / kTick) % kSweepTicks == 0; }
    sim::Time TickAfter(sim::Time t) const {
        return t < start ? start + kTick : start + ((t - start) / kTick + 1) * kTick;
    }
    sim::Time SweepAfter(sim::Time t) const {
        sim::Time period = kSweepTicks * kTick;
        return t < start ? start + period : start + ((t - start) / period + 1) * period;
    }
};

// ---- What the phone has shown ------------------------------------------
// A key the program sent, as the phone delivered it.
struct Sent {
    sim::Time t;
    UINT vk;
    bool up;
    bool hotKey;  // caught by a hot key
    HWND to;
    int id;
};
// A hot key the program got.
struct Press {
    sim::Time t;
    int id;
};

// The phone's events read as they come: the windows of the program and of
// the thief, the keys down, the keys the program sent and the hot keys it
// got (for the firing judge to take), the About boxes open.
class PhoneLog {
public:
    explicit PhoneLog(sim::Time start) : start_(start) {}
    // Reads the events since the last call. The program's window made at
    // any other time than its start fails Timing.
    void Read(RunResult::Counts& counts);
    // No key left down, the Windows key above all; every key down that
    // reached the foreground application has had its key up.
    void CheckKeys() const;

    HWND program = nullptr;
    HWND thief = nullptr;
    int boxes = 0;
    std::vector<Sent> sent;       // not yet judged
    std::vector<Press> presses;   // not yet counted

private:
    sim::Time start_;
    std::size_t cursor_ = 0;
    std::set<UINT> held_;
    std::set<UINT> foregroundDown_;
};

// ---- Where the hot keys should be --------------------------------------
// The phone's hot-key table as the program and the thief should have left
// it, from the configuration and the events alone.
class HotKeys {
public:
    // `unfree`: coredll gives UnregisterFunc1, so a slot can take its key
    // from another program.
    HotKeys(const config::Table& table, bool unfree, const PhoneLog& log) : table_(table), unfree_(unfree), log_(log) {}

    void Steal(UINT mods, UINT vk);  // the thief takes the combination
    void Capture(int slot);          // the slot's three, taken from whoever holds them
    void Release(int slot);
    void Sweep();                    // every slot of mode free or capture takes its key
    std::size_t HeldByThief() const;
    bool ProgramHoldsAny() const;
    // The phone's table against this one: the first combination whose
    // holder differs fails HotKeys.
    void Compare() const;

    std::string context;  // what last changed them, for messages

private:
    const config::Table& table_;
    bool unfree_;
    const PhoneLog& log_;
    std::vector<sim::HotKey> keys_;
    int steals_ = 0;

    void DropCombo(UINT mods, UINT vk);
    void Register(HWND hwnd, int id, UINT mods, UINT vk);
    void Unregister(HWND hwnd, int id);
    void Free(int slot);
    std::string Holder(const std::optional<sim::HotKey>& k) const;
};

// ---- Firing and timing -------------------------------------------------
// A tick looked at before it ran: what it should do.
struct Tick {
    sim::Time t;
    int slot;  // the one that fires, or -1
    WORD pressIndex;
    bool sweep;
    std::string Context() const;
};

// The press sequence the hot keys make, and the judge of each tick: a
// sequence fires on the sixth tick after its last press (the next tick
// once it reaches the slot's count) and sends exactly its action; no key
// is sent on any other tick.
class Firing {
public:
    Firing(const config::Table& table, const TickGrid& grid) : table_(table), grid_(grid) {}

    // Every hot key is one press: of the same slot it counts up, of
    // another it starts that slot's sequence afresh.
    void Count(std::vector<Press>& presses);
    // Just before the tick at t: what it will do. A sequence left past its
    // tick fails Timing.
    void Look(sim::Time t, bool sweep);
    // The tick looked at, once it has run; a firing ends the sequence.
    Tick TakeLooked();
    // The keys sent on the tick: exactly the fired slot's action, none of
    // it caught by the slot's own hot keys; nothing on a tick with no
    // firing due. Fails Firing.
    void Judge(const Tick& tick, std::vector<Sent>& sent, HWND program, RunResult::Counts& counts) const;
    // Keys sent between the ticks looked at: no firing was due.
    static void JudgeStray(const std::vector<Sent>& sent);

    const std::optional<Tick>& looked() const { return looked_; }
    bool pending() const { return button_ >= 0; }
    sim::Time due() const { return due_; }

private:
    const config::Table& table_;
    const TickGrid& grid_;
    std::optional<Tick> looked_;  // looked at before it ran, not yet judged
    int button_ = -1;             // the slot pending, or -1
    WORD pressIndex_ = 0;
    sim::Time due_ = 0;           // the tick it fires on
};

// ---- The tray ----------------------------------------------------------
// The tray icon, its menu and the About box, as the taps and choices say.
class Tray {
public:
    // A tray event, or WM_CLOSE; true when it ends the program (Exit). A tap while the menu or the
    // About box is open is ignored, as is one before the program runs.
    bool Apply(const scenario::Action& a, bool running);
    // The icon is there exactly while the program runs; with `loops`, the
    // menu and the About box are open exactly when they should be.
    void Check(bool running, int boxes, bool loops) const;

private:
    enum { Idle, Menu, About } state_ = Idle;
};

}  // namespace soak

#endif
