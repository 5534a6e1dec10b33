// Virtual time: scheduled events, timers, and waiting for the next message.
#include <algorithm>

#include "phone_state.h"

namespace sim {
namespace internal {

// Runs the scheduled events due by time t, in order, moving the clock to
// each event's time. Events may schedule further events.
void RunEventsUntil(Time t) {
    for (;;) {
        auto& s = P().scheduled;
        auto it = std::min_element(s.begin(), s.end(), [](const Scheduled& a, const Scheduled& b) {
            return a.t != b.t ? a.t < b.t : a.seq < b.seq;
        });
        if (it == s.end() || it->t > t) break;
        Scheduled ev = std::move(*it);
        s.erase(it);
        if (ev.t > P().now) P().now = ev.t;
        ev.fn();
    }
    if (t > P().now) P().now = t;
}

std::optional<Time> NextEventTime() {
    std::optional<Time> next;
    for (const auto& s : P().scheduled)
        if (!next || s.t < *next) next = s.t;
    return next;
}

// Waits for the program's next message, letting virtual time pass to the
// next timer or scheduled event. Returns false, without a message, as soon
// as stop() holds after events have run. Throws Halted at the end of a run.
bool NextMessage(MSG* out, const std::function<bool()>& stop) {
    Phone& p = P();
    for (;;) {
        if (stop && stop()) return false;
        if (!p.queue.empty()) {
            *out = p.queue.front();
            p.queue.erase(p.queue.begin());
            return true;
        }
        if (p.quitPosted) {
            p.quitPosted = false;
            *out = MSG{};
            out->message = WM_QUIT;
            out->wParam = static_cast<WPARAM>(p.quitCode);
            out->time = static_cast<DWORD>(p.now);
            return true;
        }
        Timer* due = nullptr;
        for (auto& t : p.timers)
            if (Win(t.hwnd) && t.due <= p.now && (!due || t.due < due->due)) due = &t;
        if (due) {
            // Missed periods are not made up: one WM_TIMER now, and the
            // next on the timer's own grid, as Windows does.
            while (due->due <= p.now) due->due += due->period;
            *out = MSG{};
            out->hwnd = due->hwnd;
            out->message = WM_TIMER;
            out->wParam = due->id;
            out->time = static_cast<DWORD>(p.now);
            return true;
        }
        std::optional<Time> next = NextEventTime();
        for (const auto& t : p.timers)
            if (Win(t.hwnd) && (!next || t.due < *next)) next = t.due;
        if (!next) throw Halted{"nothing left to wait for"};
        if (*next > p.limit) {
            RunEventsUntil(p.limit);
            throw Halted{"run limit reached"};
        }
        RunEventsUntil(*next);
    }
}

}  // namespace internal

using namespace internal;

Time Now() { return P().now; }
void SetRunLimit(Time limit) { P().limit = limit; }

void At(Time t, std::function<void()> fn) {
    P().scheduled.push_back(Scheduled{t, P().seq++, std::move(fn)});
}

}  // namespace sim

using namespace sim;
using namespace sim::internal;

extern "C" {

UINT WINAPI SetTimer(HWND hWnd, UINT nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    Traced tr("SetTimer", Join({H(hWnd), Num(nIDEvent), Num(uElapse), lpTimerFunc ? "proc" : "NULL"}));
    if (!Win(hWnd) || uElapse == 0) return tr.Returns<UINT>(0, "0");
    auto& timers = P().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const Timer& t) { return t.hwnd == hWnd && t.id == nIDEvent; }),
                 timers.end());
    timers.push_back(Timer{hWnd, nIDEvent, uElapse, P().now + uElapse});
    return tr.Returns(nIDEvent, Num(nIDEvent));
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    Traced tr("Sleep", Num(dwMilliseconds));
    Time target = P().now + dwMilliseconds;
    if (target > P().limit) {
        RunEventsUntil(P().limit);
        throw Halted{"run limit reached"};
    }
    RunEventsUntil(target);
    tr.Void();
}

}  // extern "C"
