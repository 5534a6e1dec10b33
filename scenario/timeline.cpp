#include "timeline.h"

#include <algorithm>
#include <cstdio>

#include "engine/key_table.h"

namespace scenario {
namespace {

std::string Seconds(sim::Time t) {
    char buf[32];
    // As "%8.3f" of the seconds would print them, without going through floating point.
    std::snprintf(buf, sizeof buf, "%4llu.%03llu s  ", static_cast<unsigned long long>(t / 1000),
                  static_cast<unsigned long long>(t % 1000));
    return buf;
}

std::string WindowName(HWND h) {
    if (!h) return "no window";
    std::string title = sim::Utf8(sim::TitleOf(h));
    if (sim::OwnerOf(h) == sim::kProgram) return "Klavor";
    return title.empty() ? sim::ProcessName(sim::OwnerOf(h)) : "\"" + title + "\"";
}

bool IsModifier(unsigned vk) {
    return vk == VK_LWIN || vk == VK_RWIN || vk == VK_SHIFT || vk == VK_LSHIFT || vk == VK_RSHIFT;
}

// Key events sent together, in their shortest faithful form:
// "Win+X" for Win down, X down, Win up, X up; "X" for X down, X up.
std::string DescribeKeys(const std::vector<sim::Event>& keys) {
    auto is = [&](std::size_t i, unsigned vk, bool up) {
        return i < keys.size() && keys[i].vk == vk && keys[i].up == up;
    };
    std::string out;
    for (std::size_t i = 0; i < keys.size();) {
        if (!out.empty()) out += ", ";
        unsigned vk = keys[i].vk;
        if (vk == VK_LWIN && !keys[i].up && i + 3 < keys.size() && !keys[i + 1].up &&
            is(i + 2, VK_LWIN, true) && is(i + 3, keys[i + 1].vk, true)) {
            out += "Win+" + KeyName(keys[i + 1].vk);
            i += 4;
        } else if (!keys[i].up && is(i + 1, vk, true)) {
            out += KeyName(vk);
            i += 2;
        } else {
            out += KeyName(vk) + (keys[i].up ? " up" : " down");
            i += 1;
        }
    }
    return out;
}

// The line an event (other than keys the program sent) is told by; empty
// for one the timeline passes over.
std::string EventText(const sim::Event& e) {
    using K = sim::Event::Kind;
    switch (e.kind) {
    case K::Note:
        return e.note;
    case K::HotKeyPosted:
        return "  hot key " + std::to_string(e.id) + " to " +
               (sim::OwnerOf(e.hwnd) == sim::kProgram ? std::string("Klavor") : sim::ProcessName(sim::OwnerOf(e.hwnd))) +
               (e.injected ? " (from a synthesised key)" : "");
    case K::KeyToForeground:
        if (!e.up && !IsModifier(e.vk)) return "  " + KeyName(e.vk) + " passes to " + WindowName(e.hwnd);
        return "";
    case K::WindowCreated:
        return "";
    case K::TrayAdded:
        return "tray icon " + std::to_string(e.id) + " appears";
    case K::TrayModified:
        return "tray icon " + std::to_string(e.id) + " changes";
    case K::TrayRemoved:
        return "tray icon " + std::to_string(e.id) + " disappears";
    case K::MenuOpened: {
        std::string items;
        for (const auto& item : e.items) items += (items.empty() ? "" : " | ") + sim::Utf8(item);
        return "menu opens at x " + std::to_string(e.x) + ", " +
               ((e.flags & TPM_BOTTOMALIGN) ? "bottom edge at y " : "top edge at y ") + std::to_string(e.y) + ": " +
               items;
    }
    case K::MenuClosed:
        return e.id ? "menu closes with command " + std::to_string(e.id) : "menu closes, nothing chosen";
    case K::MessageBoxShown: {
        std::string line = "message box \"" + sim::Utf8(e.caption) + "\":";
        for (const auto& l : BoxLines(e.text)) line += "\n" + std::string(14, ' ') + "| " + l;
        return line;
    }
    case K::MessageBoxClosed:
        return "message box closes";
    }
    return "";
}

}  // namespace

Teller::Teller(bool trace, std::size_t fromEvent) : trace_(trace), fromEvent_(fromEvent), nextEvent_(0) {}

void Teller::Tell(const std::function<void(TimelineLine&&)>& out, bool end) {
    static const std::deque<sim::Call> none;
    const std::deque<sim::Call>& calls = trace_ ? sim::Trace() : none;
    const std::size_t callsFirst = trace_ ? sim::FirstCall() : 0;
    const std::size_t count = sim::EventCount();
    auto call = [&](std::size_t n) -> const sim::Call* {
        return n >= callsFirst && n - callsFirst < calls.size() ? &calls[n - callsFirst] : nullptr;
    };
    if (nextCall_ < callsFirst) nextCall_ = callsFirst;

    // Lines of events before fromEvent_ were told by an earlier run, and so
    // were the calls before the first of the rest.
    if (nextEvent_ < fromEvent_) {
        if (count <= fromEvent_) return;
        nextEvent_ = fromEvent_;
        const std::uint64_t first = sim::EventAt(fromEvent_).order;
        while (const sim::Call* c = call(nextCall_)) {
            if (c->order >= first) break;
            ++nextCall_;
        }
    }

    // Nothing after a call still going on is told yet.
    std::uint64_t cut = UINT64_MAX;
    if (!end)
        for (std::size_t n = nextCall_; const sim::Call* c = call(n); ++n)
            if (!c->returned) {
                cut = c->order;
                break;
            }
    auto tellCalls = [&](std::uint64_t before) {
        for (const sim::Call* c; (c = call(nextCall_)) && c->order < before && c->order < cut; ++nextCall_) {
            TimelineLine line;
            line.t = c->t;
            line.text = Seconds(c->t) + "    | " + c->Text();
            out(std::move(line));
        }
    };

    while (nextEvent_ < count) {
        const std::size_t i = nextEvent_;
        sim::Event e = sim::EventAt(i);
        if (e.order >= cut) break;
        TimelineLine line;
        line.t = e.t;
        line.event = i;
        line.endEvent = i + 1;
        line.kind = e.kind;
        if (e.kind == sim::Event::Kind::KeyToForeground && e.injected) {
            // Everything the program sent in one go, with no other happening between.
            std::vector<sim::Event> keys{e};
            std::size_t j = i + 1;
            for (; j < count; ++j) {
                sim::Event next = sim::EventAt(j);
                if (next.kind != sim::Event::Kind::KeyToForeground || !next.injected || next.t != e.t ||
                    next.hwnd != e.hwnd)
                    break;
                keys.push_back(std::move(next));
            }
            // More of them may still come at this moment, or after a call still going on.
            if (!end && ((j == count && e.t == sim::Now()) || keys.back().order >= cut)) break;
            tellCalls(keys.back().order);
            line.endEvent = j;
            line.keys = DescribeKeys(keys);
            line.text = Seconds(e.t) + WindowName(e.hwnd) + " gets " + line.keys;
            line.first = std::move(e);
            out(std::move(line));
            nextEvent_ = j;
            continue;
        }
        tellCalls(e.order);
        std::string text = EventText(e);
        ++nextEvent_;
        if (text.empty()) continue;
        line.text = Seconds(e.t) + text;
        line.first = std::move(e);
        out(std::move(line));
    }
    tellCalls(nextEvent_ < count ? sim::EventAt(nextEvent_).order : UINT64_MAX);
}

std::uint64_t Teller::ToldBefore() const {
    std::uint64_t before = UINT64_MAX;
    if (nextEvent_ >= sim::FirstEvent() && nextEvent_ < sim::EventCount()) before = sim::EventAt(nextEvent_).order;
    if (trace_) {
        const std::deque<sim::Call>& calls = sim::Trace();
        std::size_t first = sim::FirstCall();
        if (nextCall_ >= first && nextCall_ - first < calls.size()) before = std::min(before, calls[nextCall_ - first].order);
    }
    // UINT64_MAX: everything so far is told.
    return before;
}

std::string JoinTimeline(const std::vector<TimelineLine>& lines) {
    std::string out;
    for (const TimelineLine& l : lines) {
        out += l.text;
        out += '\n';
    }
    return out;
}

std::string KeyName(unsigned vk) {
    const std::string hex = base::Hex(vk, 2);
    if (vk < ACTION_CODE_LABELS) return std::string(ActionCodeLabels[vk]) + " (" + hex + ")";
    if (vk == VK_LWIN) return "Win";
    if (vk == VK_SHIFT) return "Shift";
    for (int slot = 0; slot < KEY_SLOTS; ++slot)
        if (DefaultKeyTable[slot].vk == vk) return std::string(ButtonNames[slot]) + " key (" + hex + ")";
    return hex;
}

std::vector<std::string> BoxLines(const std::u16string& text) {
    std::vector<std::string> lines;
    const std::string all = sim::Utf8(text);
    for (std::size_t start = 0;;) {
        std::size_t sep = all.find("\n\r", start);
        lines.push_back(all.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
        if (sep == std::string::npos) return lines;
        start = sep + 2;
    }
}

}  // namespace scenario
