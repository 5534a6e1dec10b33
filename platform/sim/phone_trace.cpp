// What happened on the phone: the trace of API calls and the observable
// events, in one order.
#include <algorithm>

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

Event MakeEvent(Event::Kind kind) {
    Event e;
    e.kind = kind;
    e.t = P().now;
    e.order = ++P().order;
    return e;
}

void Emit(Event e) {
    e.t = P().now;
    e.order = ++P().order;
    P().events.push_back(std::move(e));
}

}  // namespace internal

using namespace internal;

std::string Call::Text() const {
    std::string s = name + "(" + args + ")";
    if (!result.empty()) s += " -> " + result;
    return s;
}

const std::vector<Call>& Trace() { return P().trace; }

std::vector<std::string> TraceOf(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const auto& c : P().trace)
        if (names.empty() || std::find(names.begin(), names.end(), c.name) != names.end())
            out.push_back(c.Text());
    return out;
}

void ClearTrace() { P().trace.clear(); }

const std::vector<Event>& Events() { return P().events; }

void AddNote(const std::string& note) {
    Event e = MakeEvent(Event::Kind::Note);
    e.note = note;
    Emit(e);
}

std::vector<Delivery> Delivered() {
    std::vector<Delivery> out;
    for (const auto& e : P().events)
        if (e.kind == Event::Kind::KeyToForeground)
            out.push_back(Delivery{e.t, e.hwnd, static_cast<BYTE>(e.vk), e.up, e.injected});
    return out;
}

}  // namespace sim
