#include "engine_watch.h"

#include <memory>

#include "engine/key_table.h"
#include "engine/sequence.h"

namespace scenario {

void WatchEngine(std::vector<EngineStep>* steps) {
    struct Before {
        SequenceState sequence{};
        std::size_t events = 0;
    };
    auto before = std::make_shared<Before>();
    sim::WatchDispatch([steps, before](const MSG& m, bool done) {
        if (sim::OwnerOf(m.hwnd) != sim::kProgram) return;
        bool hotKey = m.message == WM_HOTKEY;
        if (!hotKey && !(m.message == WM_TIMER && m.wParam == TIMER_ID)) return;
        if (!done) {
            // Hot keys and ticks never run inside one another.
            before->sequence = g_sequence;
            before->events = sim::EventCount();
            return;
        }
        EngineStep s;
        s.t = sim::Now();
        s.before = before->sequence.currentButton;
        if (hotKey) {
            s.press = true;
            s.slot = g_sequence.currentButton;
            s.index = g_sequence.pressIndex;
            s.count = EffectiveCount(&KeyTable[s.slot]);
            s.id = static_cast<int>(m.wParam);
            s.event = before->events;
            steps->push_back(s);
        } else if (before->sequence.currentButton >= 0 && g_sequence.currentButton == NO_BUTTON) {
            s.slot = before->sequence.currentButton;
            s.index = g_sequence.pressIndex;
            s.action = KeyTable[s.slot].actions[s.index];
            s.event = before->events;
            s.endEvent = sim::EventCount();
            steps->push_back(s);
        }
    });
}

}  // namespace scenario
