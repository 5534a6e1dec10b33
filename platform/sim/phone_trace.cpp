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
            e.note = log.notes[r.extra];
        } else {
            const EventTexts& x = log.texts[r.extra];
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

const std::vector<Call>& RecordedTrace() {
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
        r.extra = static_cast<std::uint32_t>(log.notes.size());
        log.notes.push_back(e.note);
    } else if (HasTexts(e)) {
        r.extra = static_cast<std::uint32_t>(log.texts.size());
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

const std::vector<Call>& Trace() { return RecordedTrace(); }

std::vector<std::string> TraceOf(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const auto& c : RecordedTrace())
        if (names.empty() || std::find(names.begin(), names.end(), c.name) != names.end())
            out.push_back(c.Text());
    return out;
}

void ClearTrace() { P().trace.clear(); }

const std::vector<Event>& Events() {
    EventLog& log = P().events;
    for (std::size_t i = log.full.size(); i < log.records.size(); ++i) log.full.push_back(Full(log, log.records[i]));
    return log.full;
}

std::size_t EventCount() { return P().events.records.size(); }

Event EventAt(std::size_t i) { return Full(P().events, P().events.records.at(i)); }

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
