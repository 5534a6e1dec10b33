// The watch over one run: the pieces of watch.h put together. It follows
// the scenario's events as the program should have taken them, visits the
// phone whenever the program is idle (after every event, before and after
// every tick that may fire or sweep), and checks the end of the run.
#include <algorithm>
#include <cstdio>

#include "watch.h"

namespace soak {

// ---- Shared by the pieces ------------------------------------------------

// A look at once, then one a second, 30 in all.
sim::Time StartTime(const scenario::Scenario& s) {
    constexpr sim::Time kWait = 1000, kTries = 30;
    // The program looks for "Phone" and "Телефон"; FindWindowW ignores the
    // case of ASCII letters only.
    std::u16string title = s.phoneTitle;
    for (char16_t& c : title)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    bool found = title == u"phone" || title == u"\u0422\u0435\u043b\u0435\u0444\u043e\u043d";
    if (!found || s.phone == scenario::Scenario::Phone::Never) return kTries * kWait;
    if (s.phone == scenario::Scenario::Phone::Up) return 0;
    sim::Time k = std::max<sim::Time>(1, (s.phoneAt + kWait - 1) / kWait);
    return k < kTries ? k * kWait : kTries * kWait;
}

std::string Slot(int slot) { return "slot " + std::to_string(slot) + " (" + ButtonNames[slot] + ")"; }

std::string Seconds(sim::Time t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu.%03llu s", static_cast<unsigned long long>(t / 1000),
                  static_cast<unsigned long long>(t % 1000));
    return buf;
}

void Fail(Check check, const std::string& what) {
    Stop stop;
    stop.failure = Failure{check, sim::Now(), what};
    throw stop;
}

RunResult::Counts& RunResult::Counts::operator+=(const Counts& o) {
    firings += o.firings, firingsWithWin += o.firingsWithWin, chained += o.chained, sweeps += o.sweeps;
    restored += o.restored, steals += o.steals, menus += o.menus, aboutBoxes += o.aboutBoxes, exits += o.exits,
    closes += o.closes;
    return *this;
}

std::string RunResult::Counts::Text() const {
    return std::to_string(firings) + " firings (" + std::to_string(firingsWithWin) + " with Win, " +
           std::to_string(chained) + " pressing another button), " + std::to_string(sweeps) + " sweeps (" +
           std::to_string(restored) + " taking a stolen key back), " + std::to_string(steals) + " thefts, " +
           std::to_string(menus) + " menus, " + std::to_string(aboutBoxes) + " About boxes, " + std::to_string(exits) +
           " exits (" + std::to_string(closes) + " of them on WM_CLOSE)";
}

const char* CheckName(Check c) {
    switch (c) {
    case Check::None: return "none";
    case Check::KeyLeftDown: return "a key left down";
    case Check::HotKeys: return "hot keys";
    case Check::Firing: return "a firing";
    case Check::Timing: return "timing";
    case Check::Tray: return "the tray";
    case Check::Exit: return "the exit";
    case Check::Identity: return "the phone's binary against the host build";
    }
    return "?";
}

namespace {

// Why the soak cannot judge the scenario, or nothing.
std::string Unjudgeable(const scenario::Scenario& s) {
    if (!s.klavorRuns) return "Klavor is not running at the start";
    sim::Time last = 0;
    for (std::size_t i = 0; i < s.actions.size(); ++i) {
        const scenario::Action& a = s.actions[i];
        using A = scenario::Action::Kind;
        // The soak follows one run of the program on one start of the phone.
        if (a.kind == A::Install || a.kind == A::Reset) return "an install or a reset, at " + Seconds(a.t);
        if (a.t % kTick == 0) return "an event on the program's tick grid, at " + Seconds(a.t);
        if (a.t < last) return "events out of order";
        // The program handles an event only once the ones at the same
        // time have all run: a choice right after its tap finds no menu.
        if (i > 0 && a.t == last && a.kind != A::Press && a.kind != A::Steal)
            return "a tray event at the same time as the event before it, at " + Seconds(a.t);
        last = a.t;
    }
    return "";
}

class Watch {
public:
    explicit Watch(const scenario::Scenario& s)
        : s_(s), table_(TableOf(s)), grid_{StartTime(s)}, log_(grid_.start),
          keys_(table_, s.coredllLoads && s.coredllExports, log_), firing_(table_, grid_), why_(Unjudgeable(s)) {}

    bool unsupported() const { return !why_.empty(); }

    void Begin() {
        if (unsupported()) return;
        if (std::optional<sim::Time> next = NextVisit(0)) sim::At(*next, [this] { Visit(); });
    }

    RunResult Finish(const scenario::Outcome& o) {
        RunResult r;
        r.phoneTime = sim::Now();
        if (!failure_ && !unsupported()) {
            try {
                End(o);
            } catch (const Stop& stop) {
                failure_ = stop.failure;
            }
        }
        r.unsupported = unsupported();
        r.whyUnsupported = why_;
        r.failure = failure_;
        r.events = applied_;
        r.counts = counts_;
        return r;
    }

private:
    const scenario::Scenario& s_;
    const config::Table table_;
    const TickGrid grid_;
    PhoneLog log_;
    HotKeys keys_;
    Firing firing_;
    Tray tray_;
    std::string why_;
    std::optional<Failure> failure_;
    RunResult::Counts counts_;

    // How far the scenario has gone, as the program should have taken it.
    bool started_ = false;
    std::optional<sim::Time> exitAt_;
    std::size_t applied_ = 0;       // scenario actions taken into account
    bool actionSinceTick_ = false;  // since the last tick looked at

    // The value in force: the built-in table unless one of the right length.
    static config::Table TableOf(const scenario::Scenario& s) {
        if (s.configValue)
            if (std::optional<config::Table> t = config::DecodeValue(*s.configValue)) return *t;
        return config::DefaultTable();
    }

    bool SecondCopy() const { return s_.anotherCopy; }
    bool Running() const { return started_ && !SecondCopy() && !exitAt_; }
    bool IsTick(sim::Time t) const { return Running() && grid_.On(t); }

    // ---- the scenario's events, as they should have acted ----

    void StartProgram() {
        started_ = true;
        if (SecondCopy()) return;
        keys_.Sweep();
        keys_.context = "after the start-up sweep at " + Seconds(grid_.start);
    }

    void Apply(const scenario::Action& a) {
        ++applied_;
        actionSinceTick_ = true;
        if (a.kind == scenario::Action::Kind::Steal) {
            keys_.Steal(a.mods, a.vk);
            ++counts_.steals;
            keys_.context = "after \"" + a.text + "\" at " + Seconds(a.t);
        } else if (tray_.Apply(a, Running())) {
            exitAt_ = a.t;
            if (a.kind == scenario::Action::Kind::Close) ++counts_.closes;
        }
    }

    // Everything due by `now`, in the order the phone ran it.
    void Advance(sim::Time now) {
        const auto& actions = s_.actions;
        for (;;) {
            bool startDue = !started_ && grid_.start <= now;
            bool actionDue = applied_ < actions.size() && actions[applied_].t <= now &&
                             !(exitAt_ && actions[applied_].t > *exitAt_);
            if (startDue && (!actionDue || grid_.start < actions[applied_].t)) {
                StartProgram();
            } else if (actionDue) {
                Apply(actions[applied_]);
            } else {
                break;
            }
        }
    }

    // ---- the ticks ----

    // The tick looked at has run: judge what it sent, then let the model
    // follow its firing and its sweep.
    void JudgeTick() {
        Tick tick = firing_.TakeLooked();
        firing_.Judge(tick, log_.sent, log_.program, counts_);
        if (tick.slot >= 0) {
            keys_.Release(tick.slot);
            keys_.Capture(tick.slot);
        }
        if (tick.sweep) {
            ++counts_.sweeps;
            counts_.restored += keys_.HeldByThief();
            keys_.Sweep();
            counts_.restored -= keys_.HeldByThief();
        }
        if (tick.slot >= 0 || tick.sweep) keys_.context = tick.Context();
    }

    void Look(sim::Time t) {
        if (t > grid_.start && !SecondCopy() && !log_.program)
            Fail(Check::Timing, "the program has no window after its start");
        if (!IsTick(t)) return;
        tray_.Check(Running(), log_.boxes, true);
        firing_.Look(t, grid_.Sweeps(t));
        actionSinceTick_ = false;
    }

    std::optional<sim::Time> NextVisit(sim::Time now) const {
        std::optional<sim::Time> next;
        auto consider = [&](sim::Time t) {
            if (t > now && (!next || t < *next)) next = t;
        };
        if (applied_ < s_.actions.size()) consider(s_.actions[applied_].t);
        if (!started_) consider(grid_.start + kTick);
        const std::optional<Tick>& looked = firing_.looked();
        if (looked && (looked->slot >= 0 || looked->sweep)) consider(looked->t + 1);
        if (Running() || !started_) {
            // Ticks where nothing can fire are not looked at: nothing is
            // pending and no event has come since the last look.
            sim::Time base = std::max(now, grid_.start);
            consider(actionSinceTick_ ? grid_.TickAfter(base) : grid_.SweepAfter(base));
            if (firing_.pending()) consider(firing_.due());
        }
        return next;
    }

    // What the phone did since the last visit, judged and taken into the
    // model, up to `now`.
    void CatchUp(sim::Time now, bool lastTick) {
        log_.Read(counts_);
        if (firing_.looked() && (lastTick || firing_.looked()->t < now)) JudgeTick();
        Firing::JudgeStray(log_.sent);
        firing_.Count(log_.presses);
        Advance(now);
    }

    void Visit() {
        try {
            sim::Time now = sim::Now();
            CatchUp(now, false);
            log_.CheckKeys();
            keys_.Compare();
            Look(now);
            if (std::optional<sim::Time> next = NextVisit(now)) sim::At(*next, [this] { Visit(); });
        } catch (const Stop& stop) {
            failure_ = stop.failure;
            throw;
        }
    }

    // ---- the end of the run ----

    void End(const scenario::Outcome& o) {
        sim::Time now = sim::Now();
        CatchUp(now, true);
        CheckExit(o, now);
        log_.CheckKeys();
        keys_.Compare();
        tray_.Check(Running(), log_.boxes, o.exited);
    }

    // The program exits when the stream says (Exit: code 1, at once;
    // another copy running: code 0) and not otherwise, and keeps no hot key.
    void CheckExit(const scenario::Outcome& o, sim::Time now) {
        bool wantExit = (SecondCopy() && started_) || exitAt_.has_value();
        if (o.exited != wantExit)
            Fail(Check::Exit, o.exited ? "the program exited with code " + std::to_string(o.exitCode) + " at " +
                                             Seconds(now) + ", and nothing asked it to"
                                       : "the program is still running, though Exit was chosen");
        if (!wantExit) return;
        int code = SecondCopy() ? 0 : kExitCodeMenu;
        sim::Time at = SecondCopy() ? grid_.start : *exitAt_;
        ++counts_.exits;
        if (o.exitCode != code || now != at)
            Fail(Check::Exit, "the program exited with code " + std::to_string(o.exitCode) + " at " + Seconds(now) +
                                  ", not " + std::to_string(code) + " at " + Seconds(at));
        if (!SecondCopy()) {
            for (int s = 0; s < KEY_SLOTS; ++s)
                if (table_[s].mode == MODE_CAPTURE) keys_.Release(s);
            keys_.context = "after the exit at " + Seconds(at);
        }
        if (keys_.ProgramHoldsAny()) Fail(Check::Exit, "the program keeps a hot key after its exit");
    }
};

}  // namespace

std::optional<Failure> CompareTimelines(const std::string& host, const std::string& phone) {
    std::size_t h = 0, p = 0, line = 0;
    sim::Time t = 0;
    // Lines begin with the time, "  12.345 s"; those that go on with a
    // message box's text do not.
    auto timeOf = [&t](const std::string& l) {
        unsigned long long sec = 0, ms = 0;
        if (std::sscanf(l.c_str(), "%llu.%3llu s", &sec, &ms) == 2) t = sec * 1000 + ms;
    };
    auto next = [](const std::string& text, std::size_t& at, std::string* out) {
        if (at >= text.size()) return false;
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        *out = text.substr(at, end - at);
        at = end + 1;
        return true;
    };
    for (;;) {
        std::string a, b;
        bool moreHost = next(host, h, &a), morePhone = next(phone, p, &b);
        ++line;
        if (!moreHost && !morePhone) return std::nullopt;
        if (moreHost && morePhone && a == b) {
            timeOf(a);
            continue;
        }
        if (morePhone) timeOf(b);
        if (moreHost) timeOf(a);
        auto shown = [](bool more, const std::string& l) { return more ? "\"" + l + "\"" : "nothing (its timeline has ended)"; };
        return Failure{Check::Identity, t,
                       "the timelines part at line " + std::to_string(line) + ": the host build has " + shown(moreHost, a) +
                           ", the phone's binary " + shown(morePhone, b)};
    }
}

RunResult CheckRun(const scenario::Scenario& s, const std::function<void()>& tamper, const Phone& phone) {
    Watch watch(s);
    if (watch.unsupported()) return watch.Finish({});
    // The host build's run, calls included, for the phone's to match.
    std::string host;
    if (phone) host = scenario::Run(s, /*trace=*/true).timeline;
    scenario::RunOptions options;
    options.started = [&] {
        watch.Begin();
        if (tamper) tamper();
    };
    options.program = phone;
    options.trace = phone != nullptr;
    options.timeline = phone != nullptr;
    scenario::Outcome o = scenario::Run(s, options);
    RunResult r = watch.Finish(o);
    if (!phone || r.unsupported) return r;
    // A fault of the emulated program is what went wrong, whatever the
    // checks made of the program's stopping.
    if (!o.fault.empty())
        r.failure = Failure{Check::Identity, r.phoneTime, "the phone's binary was stopped by a fault: " + o.fault};
    else if (!r.failure)
        r.failure = CompareTimelines(host, o.timeline);
    return r;
}

RunResult CheckScript(const scenario::Script& run, const std::function<void()>& tamper, const Phone& phone) {
    return CheckRun(ScenarioOf(run), tamper, phone);
}

}  // namespace soak
