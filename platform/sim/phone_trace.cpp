// What happened on the phone: the trace of API calls (only while a caller
// asked for it) and the observable events, in one order.
#include <algorithm>
#include <stdexcept>

#include "phone_state.h"

namespace sim {
namespace internal {

std::string Quote(LPCWSTR s) {
    if (!s) return "NULL";
    if (IsIntResource(s)) return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(s));
    return "\"" + Utf8(s) + "\"";
}

std::string H(const void* h) { return h ? Hex(reinterpret_cast<ULONG_PTR>(h)) : "NULL"; }

std::string Num(long long v) { return std::to_string(v); }

std::string Join(std::initializer_list<std::string> parts) {
    std::string out;
    for (const auto& p : parts) {
        if (!out.empty()) out += ", ";
        out += p;
    }
    return out;
}

namespace {

constexpr std::uint32_t kNoExtra = UINT32_MAX;

bool HasTexts(const Event& e) {
    return e.flags || e.x || e.y || !e.text.empty() || !e.caption.empty() || !e.items.empty();
}

Event Full(const EventLog& log, const EventRecord& r) {
    Event e;
    e.kind = static_cast<Event::Kind>(r.kind);
    e.t = r.t;
    e.order = r.order;
    e.hwnd = r.hwnd;
    e.vk = r.vk;
    e.up = r.up;
    e.injected = r.injected;
    e.id = r.id;
    e.mods = r.mods;
    if (r.extra != kNoExtra) {
        if (e.kind == Event::Kind::Note) {
            e.note = log.notes[r.extra - log.notesFirst];
        } else {
            const EventTexts& x = log.texts[r.extra - log.textsFirst];
            e.flags = x.flags;
            e.x = x.x;
            e.y = x.y;
            e.text = x.text;
            e.caption = x.caption;
            e.items = x.items;
        }
    }
    return e;
}

const std::deque<Call>& RecordedTrace() {
    if (!P().tracing)
        throw std::logic_error("the phone's trace is off: call sim::SetTracing(true) before the calls to be traced");
    return P().trace;
}

}  // namespace

Event MakeEvent(Event::Kind kind) {
    Event e;
    e.kind = kind;
    return e;
}

void Emit(const Event& e) {
    Phone& p = P();
    EventLog& log = p.events;
    EventRecord r{};
    r.t = p.now;
    r.order = ++p.order;
    r.hwnd = e.hwnd;
    r.id = e.id;
    r.extra = kNoExtra;
    r.vk = static_cast<std::uint16_t>(e.vk);
    r.kind = static_cast<std::uint8_t>(e.kind);
    r.mods = static_cast<std::uint8_t>(e.mods);
    r.up = e.up;
    r.injected = e.injected;
    if (e.kind == Event::Kind::Note) {
        r.extra = static_cast<std::uint32_t>(log.notesFirst + log.notes.size());
        log.notes.push_back(e.note);
    } else if (HasTexts(e)) {
        r.extra = static_cast<std::uint32_t>(log.textsFirst + log.texts.size());
        log.texts.push_back(EventTexts{e.flags, e.x, e.y, e.text, e.caption, e.items});
    }
    log.records.push_back(r);
}

}  // namespace internal

using namespace internal;

std::string Call::Text() const {
    std::string s = name + "(" + args + ")";
    if (!result.empty()) s += " -> " + result;
    return s;
}

void SetTracing(bool on) { P().tracing = on; }
bool Tracing() { return P().tracing; }

const std::deque<Call>& Trace() { return RecordedTrace(); }

std::vector<std::string> TraceOf(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const auto& c : RecordedTrace())
        if (names.empty() || std::find(names.begin(), names.end(), c.name) != names.end())
            out.push_back(c.Text());
    return out;
}

void ClearTrace() {
    Phone& p = P();
    p.traceFirst += p.trace.size();
    p.trace.clear();
}

const std::vector<Event>& Events() {
    EventLog& log = P().events;
    for (std::size_t i = log.full.size(); i < log.records.size(); ++i) log.full.push_back(Full(log, log.records[i]));
    return log.full;
}

std::size_t EventCount() { return P().events.first + P().events.records.size(); }

std::size_t FirstEvent() { return P().events.first; }

std::size_t FirstCall() { return P().traceFirst; }

Event EventAt(std::size_t i) {
    const EventLog& log = P().events;
    if (i < log.first) throw std::out_of_range("event " + std::to_string(i) + " is forgotten");
    return Full(log, log.records.at(i - log.first));
}

void Forget(std::uint64_t order) {
    Phone& p = P();
    EventLog& log = p.events;
    while (!log.records.empty() && log.records.front().order < order) {
        const EventRecord& r = log.records.front();
        if (r.extra != kNoExtra) {
            // Each note and text belongs to one record, in the records' order.
            if (r.kind == static_cast<std::uint8_t>(Event::Kind::Note)) {
                log.notes.pop_front();
                ++log.notesFirst;
            } else {
                log.texts.pop_front();
                ++log.textsFirst;
            }
        }
        log.records.pop_front();
        ++log.first;
    }
    log.full.clear();
    while (!p.received.empty() && p.received.front().order < order) p.received.pop_front();
    while (!p.trace.empty() && p.trace.front().order < order) {
        p.trace.pop_front();
        ++p.traceFirst;
    }
}

void AddNote(const std::string& note) {
    Event e = MakeEvent(Event::Kind::Note);
    e.note = note;
    Emit(e);
}

std::vector<Delivery> Delivered() {
    std::vector<Delivery> out;
    for (const auto& r : P().events.records)
        if (r.kind == static_cast<std::uint8_t>(Event::Kind::KeyToForeground))
            out.push_back(Delivery{r.t, r.hwnd, static_cast<BYTE>(r.vk), r.up, r.injected});
    return out;
}

}  // namespace sim
