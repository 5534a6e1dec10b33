// Virtual time: scheduled events, timers, and waiting for the next message.
//
// Both the scheduled events and the timers are kept in order, so a step of
// virtual time costs O(log n) however many events a scenario holds.
#include <stdexcept>

#include "phone_state.h"

namespace sim {
namespace internal {
namespace {

// The earliest timer, if any.
const std::pair<const TimerKey, Timer>* FirstTimer() {
    auto& timers = P().timers;
    return timers.empty() ? nullptr : &*timers.begin();
}

// A WM_TIMER for the earliest timer that is due. Missed periods are not
// made up: one WM_TIMER now, and the next on the timer's own grid, as
// Windows does.
// (Every tick comes here: it holds nothing with a destructor, which in the
// page's WebAssembly build would route each call below through JavaScript.)
bool TakeDueTimer(MSG* out) {
    Phone& p = P();
    auto first = FirstTimer();
    if (!first || first->first.first > p.now) return false;
    TimerKey key = first->first;
    const Timer t = first->second;
    p.timers.erase(p.timers.begin());
    while (key.first <= p.now) key.first += t.period;
    p.timers.emplace(key, t);
    p.timerOf[{t.hwnd, t.id}] = key;
    *out = MSG{};
    out->hwnd = t.hwnd;
    out->message = WM_TIMER;
    out->wParam = t.id;
    out->time = static_cast<DWORD>(p.now);
    return true;
}

// When something next happens: a scheduled event or a timer.
std::optional<Time> NextWake() {
    Phone& p = P();
    std::optional<Time> next;
    if (!p.scheduled.empty()) next = p.scheduled.begin()->first.first;
    if (auto first = FirstTimer(); first && (!next || first->first.first < *next)) next = first->first.first;
    return next;
}

}  // namespace

void MoveClock(Time t) {
    Phone& p = P();
    p.now = t;
    if (p.clockWatch) p.clockWatch();
}

// Runs the scheduled events due by time t, in order, moving the clock to
// each event's time. Events may schedule further events.
void RunEventsUntil(Time t) {
    auto& s = P().scheduled;
    while (!s.empty() && s.begin()->first.first <= t) {
        auto node = s.extract(s.begin());
        if (node.key().first > P().now) MoveClock(node.key().first);
        node.mapped()();
    }
    if (t > P().now) MoveClock(t);
}

// Waits for the program's next message, letting virtual time pass to the
// next timer or scheduled event. Returns false, without a message, as soon
// as stop() holds after events have run. Throws Halted at the end of a run.
bool NextMessage(MSG* out, const std::function<bool()>& stop) {
    Phone& p = P();
    if (p.running) throw std::logic_error(ProcessName(p.running->pid) + "'s thread waits for messages, which threads here do not take");
    for (;;) {
        if (stop && stop()) return false;
        if (!p.queue.empty()) {
            *out = p.queue.front();
            p.queue.pop_front();
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
        if (TakeDueTimer(out)) return true;
        std::optional<Time> next = NextWake();
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
void WatchClock(ClockWatch watch) { P().clockWatch = std::move(watch); }
void SetRunLimit(Time limit) { P().limit = limit; }

void Idle() {
    Phone& p = P();
    while (!p.scheduled.empty() && p.scheduled.begin()->first.first <= p.limit) RunEventsUntil(p.scheduled.begin()->first.first);
    RunEventsUntil(p.limit);
    throw Halted{"run limit reached"};
}

void At(Time t, std::function<void()> fn) {
    Phone& p = P();
    p.scheduled.emplace(ScheduleKey{t, p.seq++}, std::move(fn));
}

std::uint64_t ReservePlaces(std::size_t n) {
    Phone& p = P();
    std::uint64_t first = p.seq;
    p.seq += n;
    return first;
}

void AtPlace(Time t, std::uint64_t place, std::function<void()> fn) { P().scheduled.emplace(ScheduleKey{t, place}, std::move(fn)); }

}  // namespace sim

using namespace sim;
using namespace sim::internal;

extern "C" {

UINT WINAPI SetTimer(HWND hWnd, UINT nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    Traced tr("SetTimer",
              [&] { return Join({H(hWnd), Num(nIDEvent), Num(uElapse), lpTimerFunc ? "proc" : "NULL"}); });
    if (!Win(hWnd) || uElapse == 0) return tr.Returns<UINT>(0, "0");
    Phone& p = P();
    // Setting a timer again replaces it, and it goes after the others set
    // before it.
    auto old = p.timerOf.find({hWnd, nIDEvent});
    if (old != p.timerOf.end()) p.timers.erase(old->second);
    TimerKey key{p.now + uElapse, p.seq++};
    p.timers.emplace(key, Timer{hWnd, nIDEvent, uElapse});
    p.timerOf[{hWnd, nIDEvent}] = key;
    return tr.Returns(nIDEvent, [&] { return Num(nIDEvent); });
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    Traced tr("Sleep", [&] { return Num(dwMilliseconds); });
    Time target = P().now + dwMilliseconds;
    if (P().running) {
        // Another program's thread: the phone goes on without it meanwhile.
        ThreadSleep(target);
        tr.Void();
        return;
    }
    if (target > P().limit) {
        RunEventsUntil(P().limit);
        throw Halted{"run limit reached"};
    }
    RunEventsUntil(target);
    tr.Void();
}

}  // extern "C"
