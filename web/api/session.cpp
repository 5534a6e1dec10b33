#include "session.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <variant>
#include <limits>

#include "engine/key_table.h"
#include "json.h"
#include "scenario/engine_watch.h"
#include "words.h"

namespace page {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// A press this soon after the same button's sequence was sent, which could
// have counted one more, is told as too late for it.
constexpr sim::Time kLateWithin = 2000;

// A word a scenario line can hold whole: no quote, comment or line break.
bool Plain(const std::string& s) { return !s.empty() && s.find_first_of("\"#\r\n") == std::string::npos; }

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A live session names no file.
scenario::FileReader NoFiles() {
    return [](const std::string& file, scenario::FileUse, std::string* error) -> std::optional<scenario::NamedFile> {
        *error = file + ": the page's own sessions name no file";
        return std::nullopt;
    };
}

}  // namespace

void Session::Start(const config::Table& table, const std::string& phoneTitle) {
    name_ = "session.scenario";
    replay_ = false;
    lastInput_ = 0;
    inputs_ = 0;
    std::string title = Plain(phoneTitle) ? phoneTitle : "Phone";
    script_ = scenario::Script{};
    script_.heading = {"Tried on Klavor's page: the configuration, the phone, and each press and tap",
                       "at its time since the start. klavor-sim " + name_ + " prints the page's timeline."};
    script_.setUp = {scenario::ConfigHexLine(config::EncodeTable(table)),
                     title == "Phone" ? std::string("phone up") : "phone up titled \"" + title + "\""};
    text_.clear();
    parsed_.reset();
    auto parsed = scenario::ParseScenario(scenario::ScriptText(script_), name_, NoFiles());
    if (auto* s = std::get_if<scenario::Scenario>(&parsed)) parsed_ = std::move(*s);
    changedAt_.reset();
    fresh_ = false;
    changedFrom_ = 0;
    shown_ = 0;
}

std::optional<std::string> Session::Replay(const std::string& name, const std::string& text,
                                           const std::map<std::string, std::string>& files) {
    std::map<std::string, std::string> byName;
    for (const auto& [path, content] : files) byName[BaseName(path)] = content;
    auto read = [&byName](const std::string& file, scenario::FileUse, std::string* error) -> std::optional<scenario::NamedFile> {
        auto it = byName.find(BaseName(file));
        if (it == byName.end()) {
            *error = file + ": not opened with the scenario (open it together with the scenario)";
            return std::nullopt;
        }
        return scenario::NamedFile{file, it->second};
    };
    auto parsed = scenario::ParseScenario(text, name, read);
    if (auto* e = std::get_if<scenario::ParseError>(&parsed)) return e->Text();
    name_ = name;
    text_ = text;
    replay_ = true;
    parsed_ = std::move(std::get<scenario::Scenario>(parsed));
    changedAt_.reset();
    lastInput_ = 0;
    inputs_ = 0;
    for (const scenario::Action& a : parsed_->actions) {
        lastInput_ = a.t;
        ++inputs_;
    }
    fresh_ = false;
    changedFrom_ = 0;
    shown_ = 0;
    return std::nullopt;
}

void Session::Add(sim::Time t, const std::string& what) {
    script_.events.push_back({t, what});
    if (parsed_) {
        auto one = scenario::ParseScenario(scenario::EventLine(script_.events.back()), name_, NoFiles());
        if (auto* s = std::get_if<scenario::Scenario>(&one); s && s->actions.size() == 1)
            parsed_->actions.push_back(std::move(s->actions.front()));
        else
            parsed_.reset();  // told by the next run, from the whole text
    }
    if (!changedAt_ || t < *changedAt_) changedAt_ = t;
    lastInput_ = t;
    ++inputs_;
    fresh_ = false;
}

std::optional<std::string> Session::Press(sim::Time t, int slot, unsigned mods) {
    if (replay_) return "a replayed scenario takes no presses";
    if (t < lastInput_) return "a press before the last input";
    if (slot < 0 || slot >= KEY_SLOTS) return "no button " + std::to_string(slot);
    if (mods != 0 && mods != MOD_WIN && mods != MOD_SHIFT) return "a button is pressed alone, with Win or with Shift";
    Add(t, scenario::PressWords(slot, mods));
    return std::nullopt;
}

std::optional<std::string> Session::Tray(sim::Time t, const std::string& what, const std::string& item) {
    if (replay_) return "a replayed scenario takes no taps";
    if (t < lastInput_) return "a tap before the last input";
    if (what == "tap") {
        Add(t, "tap tray");
    } else if (what == "dismiss") {
        Add(t, "dismiss menu");
    } else if (what == "close") {
        Add(t, "close about");
    } else if (what == "choose" && Plain(item)) {
        Add(t, "choose \"" + item + "\"");
    } else {
        return "nothing to do with the tray: " + what;
    }
    return std::nullopt;
}

void Session::Run() {
    fresh_ = true;
    if (!parsed_) {
        auto parsed = scenario::ParseScenario(ScenarioText(), name_, NoFiles());
        if (auto* e = std::get_if<scenario::ParseError>(&parsed)) {
            error_ = e->Text();
            lines_.clear();
            sequences_.clear();
            modals_.clear();
            changedFrom_ = 0;
            changedAt_.reset();
            return;
        }
        parsed_ = std::move(std::get<scenario::Scenario>(parsed));
        changedAt_.reset();
    }
    error_.reset();

    // The lines before the earliest new input are the last run's, which went
    // the same way up to there; its last line, the end of that run, is not.
    std::size_t keep = 0;
    if (changedAt_ && !lines_.empty()) {
        auto at = std::lower_bound(lines_.begin(), lines_.end(), *changedAt_,
                                   [](const scenario::TimelineLine& l, sim::Time t) { return l.t < t; });
        keep = std::min(static_cast<std::size_t>(at - lines_.begin()), lines_.size() - 1);
    }
    std::vector<scenario::TimelineLine> told;
    std::vector<scenario::EngineStep> steps;
    scenario::RunOptions options;
    options.started = [&steps] { scenario::WatchEngine(&steps); };
    options.out = [&told](scenario::TimelineLine&& line) { told.push_back(std::move(line)); };
    options.tellFrom = keep ? lines_[keep - 1].endEvent : 0;
    outcome_ = scenario::Run(*parsed_, options);
    sim::WatchDispatch(nullptr);

    std::size_t same = keep;
    while (same < lines_.size() && same - keep < told.size() && told[same - keep].text == lines_[same].text) ++same;
    changedFrom_ = std::min(changedFrom_, same);
    lines_.resize(keep);
    lines_.insert(lines_.end(), std::make_move_iterator(told.begin()), std::make_move_iterator(told.end()));
    changedAt_.reset();

    // The line that tells an event, or the first after it.
    auto lineOf = [this](std::size_t event) {
        auto it = std::lower_bound(lines_.begin(), lines_.end(), event,
                                   [](const scenario::TimelineLine& l, std::size_t e) { return l.endEvent <= e; });
        return static_cast<std::size_t>(it - lines_.begin());
    };

    // The program's queue hands hot keys over in the order they were
    // posted: a press is the first hot key posted to the program, of its
    // id, not yet taken.
    std::size_t scanned = 0;
    std::deque<std::pair<std::size_t, sim::Event>> posted;
    auto postedLine = [&](const scenario::EngineStep& s, CountedPress* p) {
        for (; scanned < lines_.size() && lines_[scanned].event < s.event; ++scanned) {
            if (lines_[scanned].kind != sim::Event::Kind::HotKeyPosted) continue;
            const sim::Event& e = lines_[scanned].first;
            if (sim::OwnerOf(e.hwnd) == sim::kProgram) posted.emplace_back(scanned, e);
        }
        while (!posted.empty()) {
            auto [line, e] = std::move(posted.front());
            posted.pop_front();
            if (e.id != s.id) continue;  // posted to a program that ended before it was handled
            p->line = line;
            p->injected = e.injected;
            return;
        }
        p->line = lineOf(s.event);
    };

    sequences_.clear();
    std::size_t open = kNone;
    for (const scenario::EngineStep& s : steps) {
        if (s.press) {
            CountedPress p{s.t, false, 0};
            postedLine(s, &p);
            if (open != kNone && s.before == s.slot && sequences_[open].slot == s.slot) {
                sequences_[open].presses.push_back(p);
                continue;
            }
            if (open != kNone) {
                Sequence& q = sequences_[open];
                q.end = s.before < 0 ? Sequence::End::Stopped : Sequence::End::Dropped;
                q.endAt = s.t;
                q.droppedBy = s.slot;
            }
            Sequence q;
            q.slot = s.slot;
            q.count = s.count;
            q.presses.push_back(p);
            sequences_.push_back(q);
            open = sequences_.size() - 1;
        } else {
            if (open == kNone || sequences_[open].slot != s.slot) continue;  // nothing the run showed started it
            Sequence& q = sequences_[open];
            q.end = Sequence::End::Sent;
            q.endAt = s.t;
            q.index = s.index;
            q.action = s.action;
            if (s.endEvent > s.event) q.sentLine = lineOf(s.event);
            open = kNone;
        }
    }

    // What the screen shows: the open menus and boxes, innermost last, and
    // the program's tray icon.
    modals_.clear();
    std::vector<Modal> stack;
    bool tray = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        using K = sim::Event::Kind;
        K kind = lines_[i].kind;
        if (kind != K::MenuOpened && kind != K::MessageBoxShown && kind != K::MenuClosed &&
            kind != K::MessageBoxClosed && kind != K::TrayAdded && kind != K::TrayRemoved)
            continue;
        const sim::Event& e = lines_[i].first;
        if (kind == K::MenuOpened) {
            Modal m;
            m.menu = m.open = true;
            for (const auto& item : e.items) m.items.push_back(sim::Utf8(item));
            stack.push_back(m);
        } else if (kind == K::MessageBoxShown) {
            Modal m;
            m.open = true;
            m.caption = sim::Utf8(e.caption);
            m.items = scenario::BoxLines(e.text);
            stack.push_back(m);
        } else if (kind == K::MenuClosed || kind == K::MessageBoxClosed) {
            if (!stack.empty()) stack.pop_back();
        } else {
            if (sim::OwnerOf(e.hwnd) != sim::kProgram) continue;
            tray = kind == K::TrayAdded;
        }
        Modal now = stack.empty() ? Modal{} : stack.back();
        now.t = e.t;
        now.line = i;
        now.tray = tray;
        modals_.push_back(now);
    }
}

const std::vector<scenario::TimelineLine>& Session::Lines() {
    if (!fresh_) Run();
    return lines_;
}

const std::vector<Sequence>& Session::Sequences() {
    if (!fresh_) Run();
    return sequences_;
}

std::string Session::View(sim::Time now, bool all) {
    if (!fresh_) Run();
    Json j;
    j.Open('{');
    j.Key("name").Str(name_).Key("replay").Bool(replay_).Key("inputs").Num(static_cast<long long>(inputs_));
    j.Key("lastInput").Num(static_cast<long long>(lastInput_));
    if (error_) {
        j.Key("error").Str(*error_);
        return j.Close('}').Take();
    }
    auto after = std::upper_bound(lines_.begin(), lines_.end(), now,
                                  [](sim::Time t, const scenario::TimelineLine& l) { return t < l.t; });
    const std::size_t visible = static_cast<std::size_t>(after - lines_.begin());
    const std::size_t from = all ? 0 : std::min({changedFrom_, shown_, visible});
    changedFrom_ = kNone;
    shown_ = visible;

    // What each line belongs to.
    std::map<std::size_t, std::pair<std::size_t, int>> notes;  // line: sequence, press index (-1: the send)
    for (std::size_t q = 0; q < sequences_.size(); ++q) {
        const Sequence& s = sequences_[q];
        for (std::size_t p = 0; p < s.presses.size(); ++p) notes.emplace(s.presses[p].line, std::make_pair(q, static_cast<int>(p)));
        if (s.sentLine) notes.emplace(*s.sentLine, std::make_pair(q, -1));
    }
    const sim::Time end = lines_.empty() ? 0 : lines_.back().t;
    j.Key("from").Num(static_cast<long long>(from)).Key("count").Num(static_cast<long long>(visible));
    j.Key("lines").Open('[');
    for (std::size_t i = from; i < visible; ++i) {
        j.Open('{').Key("t").Num(static_cast<long long>(lines_[i].t)).Key("text").Str(lines_[i].text);
        if (i + 1 == lines_.size()) j.Key("last").Bool(true);
        if (lines_[i].kind == sim::Event::Kind::KeyToForeground) j.Key("keys").Bool(true);
        auto note = notes.find(i);
        if (note != notes.end()) {
            std::size_t q = note->second.first;
            const Sequence& s = sequences_[q];
            j.Key("note").Open('{').Key("seq").Num(static_cast<long long>(q)).Key("slot").Num(s.slot);
            j.Key("button").Str(ButtonNames[s.slot]);
            if (note->second.second < 0) {
                j.Key("kind").Str("sent").Key("index").Num(s.index);
                j.Key("presses").Open('[');
                for (const CountedPress& p : s.presses) j.Num(static_cast<long long>(p.t));
                j.Close(']');
                ActionFields(j, s.action);
            } else {
                std::size_t p = static_cast<std::size_t>(note->second.second);
                j.Key("kind").Str("press").Key("n").Num(static_cast<long long>(p + 1));
                j.Key("injected").Bool(s.presses[p].injected);
                if (p > 0) j.Key("gap").Num(static_cast<long long>(s.presses[p].t - s.presses[p - 1].t));
                const Sequence* before = q > 0 ? &sequences_[q - 1] : nullptr;
                if (p == 0 && before && before->end == Sequence::End::Sent && before->slot == s.slot &&
                    before->index < before->count && s.presses[0].t - before->presses.back().t < kLateWithin) {
                    // Too late to count with the presses before: they had been sent.
                    sim::Time last = before->presses.back().t;
                    j.Key("late").Open('{').Key("gap").Num(static_cast<long long>(s.presses[0].t - last));
                    j.Key("within").Num(static_cast<long long>(before->endAt - last));
                    j.Key("sentAt").Num(static_cast<long long>(before->endAt)).Key("index").Num(before->index);
                    j.Key("count").Num(before->count).Close('}');
                }
                if (p == 0 && before && before->end == Sequence::End::Dropped && before->endAt == s.presses[0].t) {
                    j.Key("drops").Open('{').Key("button").Str(ButtonNames[before->slot]);
                    j.Key("presses").Num(static_cast<long long>(before->presses.size())).Close('}');
                }
            }
            j.Close('}');
        }
        j.Close('}');
    }
    j.Close(']');
    if (visible < lines_.size()) j.Key("next").Num(static_cast<long long>(lines_[visible].t));
    j.Key("end").Num(static_cast<long long>(end)).Key("exited").Bool(outcome_.exited && now >= end);
    j.Key("exitCode").Num(outcome_.exitCode);

    // The sequence waiting at `now`, if any.
    for (std::size_t q = sequences_.size(); q-- > 0;) {
        const Sequence& s = sequences_[q];
        if (s.presses.front().t > now) continue;
        if (s.end != Sequence::End::Open && s.endAt <= now) break;
        long long presses = 0;
        for (const CountedPress& p : s.presses) presses += p.t <= now;
        j.Key("pending").Open('{').Key("seq").Num(static_cast<long long>(q)).Key("slot").Num(s.slot);
        j.Key("button").Str(ButtonNames[s.slot]).Key("presses").Num(presses).Key("count").Num(s.count);
        j.Key("first").Num(static_cast<long long>(s.presses.front().t));
        j.Key("last").Num(static_cast<long long>(s.presses[static_cast<std::size_t>(presses - 1)].t));
        if (s.end == Sequence::End::Sent) {
            j.Key("due").Num(static_cast<long long>(s.endAt)).Key("index").Num(s.index);
            ActionFields(j, s.action);
        }
        j.Close('}');
        break;
    }

    // The screen at `now`.
    auto change = std::upper_bound(modals_.begin(), modals_.end(), now, [](sim::Time t, const Modal& m) { return t < m.t; });
    if (change != modals_.begin()) {
        const Modal& m = *std::prev(change);
        j.Key("tray").Bool(m.tray);
        if (m.open) {
            j.Key("modal").Open('{').Key("kind").Str(m.menu ? "menu" : "box").Key("caption").Str(m.caption);
            j.Key("items").Open('[');
            for (const std::string& item : m.items) j.Str(item);
            j.Close(']').Close('}');
        }
    } else {
        j.Key("tray").Bool(false);
    }
    return j.Close('}').Take();
}

}  // namespace page
