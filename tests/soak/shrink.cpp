// Shrinking a failing run to a small scenario that still fails the same
// way: events dropped in halves then one by one, then the set-up and the
// configuration made plainer.
#include <algorithm>
#include <cstring>

#include "watch.h"

namespace soak {

scenario::Script Shrink(const scenario::Script& failing, const std::function<bool(const scenario::Script&)>& stillFails,
                        std::size_t budget) {
    scenario::Script best = failing;
    std::size_t runs = 0;
    auto attempt = [&](const scenario::Script& candidate) {
        if (runs >= budget) return false;
        ++runs;
        if (!stillFails(candidate)) return false;
        best = candidate;
        return true;
    };
    auto without = [](const scenario::Script& l, std::size_t from, std::size_t count) {
        scenario::Script out = l;
        out.events.erase(out.events.begin() + static_cast<std::ptrdiff_t>(from),
                         out.events.begin() + static_cast<std::ptrdiff_t>(std::min(from + count, l.events.size())));
        return out;
    };

    // Events: drop chunks, halving their size when none can go (ddmin).
    std::size_t parts = 2;
    while (!best.events.empty() && runs < budget) {
        std::size_t size = best.events.size();
        std::size_t chunk = (size + parts - 1) / parts;
        bool dropped = false;
        for (std::size_t from = 0; from < size && !dropped; from += chunk) dropped = attempt(without(best, from, chunk));
        if (dropped) {
            parts = std::max<std::size_t>(parts - 1, 2);
        } else if (chunk == 1) {
            break;
        } else {
            parts = std::min(size, parts * 2);
        }
    }

    // Set-up: the phone up at once, coredll as usual, one copy.
    for (std::size_t i = 0; i < best.setUp.size();) {
        const std::string& l = best.setUp[i];
        bool plain = l == "phone up" || l.compare(0, 6, "config") == 0 || l.compare(0, 3, "end") == 0;
        scenario::Script candidate = best;
        candidate.setUp.erase(candidate.setUp.begin() + static_cast<std::ptrdiff_t>(i));
        if (plain || !attempt(candidate)) ++i;
    }

    // The configuration, as the scenario reads it: slots left alone, then
    // plainer entries.
    auto configLine = std::find_if(best.setUp.begin(), best.setUp.end(),
                                   [](const std::string& l) { return l.compare(0, 7, "config ") == 0; });
    if (configLine == best.setUp.end()) return best;
    const std::size_t line = static_cast<std::size_t>(configLine - best.setUp.begin());
    std::optional<std::vector<std::uint8_t>> value = ScenarioOf(best).configValue;
    std::optional<config::Table> table = value ? config::DecodeValue(*value) : std::nullopt;
    if (!table) return best;
    config::Table t = *table;
    auto tryTable = [&](const config::Table& candidateTable) {
        scenario::Script candidate = best;
        candidate.setUp[line] = scenario::ConfigHexLine(config::EncodeTable(candidateTable));
        if (!attempt(candidate)) return false;
        t = candidateTable;
        return true;
    };
    for (int s = 0; s < KEY_SLOTS; ++s) {
        config::Table c = t;
        c[s] = config::DefaultTable()[s];
        if (std::memcmp(&c[s], &t[s], sizeof c[s]) != 0) tryTable(c);
    }
    for (int s = 0; s < KEY_SLOTS; ++s) {
        if (t[s].mode == MODE_IGNORE) continue;
        for (int a = KEY_ACTIONS - 1; a >= 0; --a) {
            if (t[s].actions[a] == 0) continue;
            config::Table c = t;
            c[s].actions[a] = 0;
            tryTable(c);
        }
        if (t[s].count != 0) {
            config::Table c = t;
            c[s].count = 0;
            tryTable(c);
        }
    }
    return best;
}

scenario::Script ShrinkFailure(const scenario::Script& failing, Check check, const Phone& phone, std::size_t budget) {
    auto fails = [check, &phone](const scenario::Script& l) {
        RunResult r = CheckScript(l, {}, phone);
        return !r.unsupported && r.failure && r.failure->check == check;
    };
    scenario::Script shrunk = Shrink(failing, fails, budget);
    // End the run soon after the failure.
    RunResult r = CheckScript(shrunk, {}, phone);
    if (r.failure) {
        scenario::Script shorter = shrunk;
        for (std::string& l : shorter.setUp)
            if (l.compare(0, 4, "end ") == 0) l = "end " + scenario::TimeWord(r.failure->t + 1000);
        if (fails(shorter)) shrunk = shorter;
    }
    return shrunk;
}

}  // namespace soak
