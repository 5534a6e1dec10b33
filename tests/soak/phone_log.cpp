// What the phone has shown, read from its events as the run goes.
#include "watch.h"

namespace soak {

void PhoneLog::Read(RunResult::Counts& counts) {
    for (std::size_t count = sim::EventCount(); cursor_ < count; ++cursor_) {
        const sim::Event e = sim::EventAt(cursor_);
        using K = sim::Event::Kind;
        switch (e.kind) {
        case K::WindowCreated:
            if (sim::OwnerOf(e.hwnd) == sim::kProgram && e.text == u"KlavorWndClass") {
                program = e.hwnd;
                if (e.t != start_)
                    Fail(Check::Timing, "the program started at " + Seconds(e.t) + ", not at " + Seconds(start_) +
                                            " after its wait for the phone");
            }
            if (e.text == u"HotKeyThief") thief = e.hwnd;
            break;
        case K::HotKeyPosted:
            held_.insert(e.vk);
            if (e.hwnd == program && program) presses.push_back({e.t, e.id});
            if (e.injected) sent.push_back({e.t, e.vk, false, true, e.hwnd, e.id});
            if (e.injected && e.hwnd == program) ++counts.chained;
            break;
        case K::KeyToForeground:
            if (e.up)
                held_.erase(e.vk);
            else
                held_.insert(e.vk);
            if (e.hwnd) {
                if (e.up)
                    foregroundDown_.erase(e.vk);
                else
                    foregroundDown_.insert(e.vk);
            }
            if (e.injected) sent.push_back({e.t, e.vk, e.up, false, e.hwnd, 0});
            break;
        case K::MenuOpened:
            ++counts.menus;
            break;
        case K::MessageBoxShown:
            ++counts.aboutBoxes;
            ++boxes;
            break;
        case K::MessageBoxClosed:
            --boxes;
            break;
        default:
            break;
        }
    }
}

void PhoneLog::CheckKeys() const {
    if (held_.count(VK_LWIN)) Fail(Check::KeyLeftDown, "the Windows key is left down");
    if (!foregroundDown_.empty())
        Fail(Check::KeyLeftDown, "the foreground application got key " + sim::Hex(*foregroundDown_.begin()) +
                                     " down and not its key up");
    if (!held_.empty()) Fail(Check::KeyLeftDown, "key " + sim::Hex(*held_.begin()) + " is left down");
}

}  // namespace soak
