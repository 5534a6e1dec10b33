// The tray: the program's icon, its menu and the About box, as the taps
// and choices say; and the program's end by Exit or by WM_CLOSE.
#include "watch.h"

namespace soak {

bool Tray::Apply(const scenario::Action& a, bool running) {
    using A = scenario::Action::Kind;
    switch (a.kind) {
    case A::NotifyTray:
        if (a.Notification() != WM_LBUTTONDOWN) break;
        [[fallthrough]];  // what a tap sends first
    case A::TapTray:
        if (running && state_ == Idle) state_ = Menu;
        break;
    case A::Choose:
        if (state_ != Menu) break;
        if (a.Item() == "About Klavor") state_ = About;
        if (a.Item() == "Exit") {
            state_ = Idle;
            return true;
        }
        break;
    case A::DismissMenu:
        if (state_ == Menu) state_ = Idle;
        break;
    case A::CloseAbout:
        if (state_ == About) state_ = Idle;
        break;
    case A::Close:
        // WM_CLOSE ends the program as Exit does; an open menu or About box
        // ends with it.
        if (!running) break;
        state_ = Idle;
        return true;
    default:
        break;
    }
    return false;
}

// `loops`: the menu and the About box too. Once a run has ended inside
// one, the phone has closed its loops as the run unwound.
void Tray::Check(bool running, int boxes, bool loops) const {
    int icons = 0;
    for (const sim::TrayIcon& i : sim::TrayIcons())
        if (sim::OwnerOf(i.hwnd) == sim::kProgram) icons += i.id == kTrayIconId ? 1 : 100;
    int wantIcons = running ? 1 : 0;
    if (icons != wantIcons)
        Fail(Check::Tray, running ? "the program's tray icon is not there, or not alone" : "the tray icon is left behind");
    if (!loops) return;
    const char* state = state_ == Menu ? "open" : "closed";
    if (sim::MenuOpen() != (state_ == Menu)) Fail(Check::Tray, std::string("the menu should be ") + state);
    if (boxes != (state_ == About ? 1 : 0))
        Fail(Check::Tray, "the About box should be " + std::string(state_ == About ? "open" : "closed") + " (" +
                              std::to_string(boxes) + " open)");
}

}  // namespace soak
