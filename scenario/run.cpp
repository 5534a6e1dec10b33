#include "run.h"

#include <algorithm>
#include <cstring>

#include "app/shell.h"
#include "app/tray.h"
#include "config/config_check.h"
#include "config/klavor_cab.h"
#include "engine/capture.h"
#include "engine/key_table.h"
#include "engine/sequence.h"
#include "platform/wceload/wceload.h"
#include "res/resource.h"
#include "setup/klavor_setup.h"

namespace scenario {
namespace {

constexpr sim::Time kSecond = 1000;
constexpr sim::Time kGrace = 10 * kSecond;      // how long a run goes on after its last event
constexpr sim::Time kPhoneWait = 30 * kSecond;  // the program's own wait for the phone

// Another program that takes hot keys for itself.
struct Thief {
    HWND window = nullptr;
    int nextId = 1;
};

// What the events of one run share: the thief, how many installs and
// resets are still to come (the run goes on after an exit for them), and
// where the scenario's events are: only the next one is scheduled at a
// time, in the place it would have had among the phone's events had all
// been scheduled at the start.
struct RunState {
    explicit RunState(wceload::SetupLoader setupLoader) : installer(std::move(setupLoader)) {}
    Thief thief;
    wceload::Installer installer;  // what it installed stays across resets
    int phoneEventsLeft = 0;
    const std::vector<Action>* actions = nullptr;
    std::uint64_t firstPlace = 0;
};

void ScheduleAction(std::size_t i, RunState* run);

void RunAction(const Action& a, RunState* run) {
    std::string note = a.text;
    Thief* thief = &run->thief;
    switch (a.kind) {
    case Action::Kind::Press:
        sim::AddNote(note);
        sim::Press(a.vk, a.mods);
        return;
    case Action::Kind::Steal:
        if (!thief->window)
            thief->window = sim::CreateWindowFor(sim::StartProcess("another program"), u"HotKeyThief", u"");
        sim::AddNote(note + ": another program takes the hot key");
        sim::StealHotKey(thief->window, thief->nextId++, a.mods, a.vk);
        return;
    case Action::Kind::TapTray:
    case Action::Kind::NotifyTray: {
        std::vector<sim::TrayIcon> icons = sim::TrayIcons();
        if (icons.empty()) {
            sim::AddNote(note + " (there is no tray icon)");
            return;
        }
        sim::AddNote(note);
        if (a.kind == Action::Kind::TapTray)
            sim::TapTrayIcon(icons.front().hwnd, icons.front().id);
        else
            sim::NotifyTrayIcon(icons.front().hwnd, icons.front().id, a.Notification());
        return;
    }
    case Action::Kind::Choose:
        if (!sim::MenuOpen())
            note += " (no menu is open)";
        else if (!sim::ChooseMenuItem(sim::Utf16(a.Item())))
            note += " (the menu has no such item)";
        sim::AddNote(note);
        return;
    case Action::Kind::DismissMenu:
        sim::AddNote(sim::DismissMenu() ? note : note + " (no menu is open)");
        return;
    case Action::Kind::CloseAbout:
        sim::AddNote(sim::CloseMessageBox() ? note : note + " (no message box is open)");
        return;
    case Action::Kind::Install:
        --run->phoneEventsLeft;
        run->installer.Install(a.rare->cabinet, note.substr(note.find(' ') + 1));
        return;
    case Action::Kind::Remove:
        --run->phoneEventsLeft;
        run->installer.Remove(a.Item());
        return;
    case Action::Kind::Close: {
        // As the system's list of running programs closes a program.
        HWND klavor = sim::FindWindowFor(std::u16string(u"KlavorWndClass"), std::u16string(u"Klavor Window"));
        if (!klavor) return sim::AddNote(note + " (there is no Klavor window)");
        sim::AddNote(note + ": WM_CLOSE to its window");
        sim::PostFor(klavor, WM_CLOSE, 0, 0);
        return;
    }
    case Action::Kind::Reset:
        --run->phoneEventsLeft;
        sim::AddNote("reset: every process ends");
        throw sim::Resetting{};
    }
}

// The event keeps only an index and a pointer, small enough for
// std::function to hold without an allocation of its own.
void ScheduleAction(std::size_t i, RunState* run) {
    const std::vector<Action>& actions = *run->actions;
    if (i >= actions.size()) return;
    sim::AtPlace(actions[i].t, run->firstPlace + i, [i, run] {
        // The next first: this one may end the run, or reset the phone.
        ScheduleAction(i + 1, run);
        RunAction((*run->actions)[i], run);
    });
}

// A shortcut's command, "\Program Files\Klavor\klavor.exe" -x: the file (quoted
// where it has spaces) and what follows it.
std::pair<std::u16string, std::u16string> SplitCommand(const std::u16string& command) {
    if (!command.empty() && command[0] == u'"') {
        std::size_t close = command.find(u'"', 1);
        if (close == std::u16string::npos) return {command.substr(1), u""};
        std::size_t args = command.find_first_not_of(u' ', close + 1);
        return {command.substr(1, close - 1), args == std::u16string::npos ? u"" : command.substr(args)};
    }
    return {command, u""};
}


std::u16string Wide(const WCHAR* s) { return std::u16string(s); }

int HostWinMain(HINSTANCE instance, LPWSTR commandLine, int show) { return WinMain(instance, nullptr, commandLine, show); }

// The host build of the setup program stands in for a cabinet's .999 as
// the host's WinMain does for klavor.exe: for any ARM Windows CE DLL.
std::optional<wceload::SetupProgram> HostSetupLoader(const std::vector<std::uint8_t>& dll, const std::string&,
                                                     std::string* why) {
    if (std::optional<std::string> problem = cecab::ExeProblem(dll)) {
        *why = *problem;
        return std::nullopt;
    }
    wceload::SetupProgram calls;
    calls.installInit = [](HWND parent, BOOL first, BOOL previously, LPCWSTR dir) {
        return static_cast<int>(Install_Init(parent, first, previously, dir));
    };
    calls.installExit = [](HWND parent, LPCWSTR dir, WORD dirs, WORD files, WORD keys, WORD values, WORD links) {
        return static_cast<int>(Install_Exit(parent, dir, dirs, files, keys, values, links));
    };
    calls.uninstallInit = [](HWND parent, LPCWSTR dir) { return static_cast<int>(Uninstall_Init(parent, dir)); };
    calls.uninstallExit = [](HWND parent) { return static_cast<int>(Uninstall_Exit(parent)); };
    return calls;
}

std::optional<Program> HostLoader(const std::vector<std::uint8_t>& file, const std::string&, std::string* why) {
    if (std::optional<std::string> problem = cecab::ExeProblem(file)) {
        *why = *problem;
        return std::nullopt;
    }
    return Program(HostWinMain);
}

// Thrown out of the phone's idling by the event that starts a program
// CreateProcessW asked for, once the program's turn is free.
struct Starting : sim::Halted {};

Outcome RunProgram(const Scenario& s, const RunOptions& options) {
    const Program& program = options.program;
    const Loader loader = options.loader ? options.loader : Loader(HostLoader);
    sim::Reset();
    sim::SetTracing(options.trace);
    NewProgramProcess();
    sim::SetCoredll(s.coredllLoads, s.coredllExports);
    sim::SetScreen(s.screenWidth, s.screenHeight);
    if (s.configValue)
        sim::SetRegistryValue(HKEY_LOCAL_MACHINE, Wide(KEY_TABLE_REG_PATH), Wide(KEY_TABLE_REG_VALUE), REG_BINARY,
                              *s.configValue);

    sim::AddNote("configuration: " + (s.configValue ? s.configSource : std::string("none (built-in defaults)")) +
                 "; coredll " +
                 (!s.coredllLoads ? "missing" : s.coredllExports ? "with UnregisterFunc1" : "without UnregisterFunc1") +
                 "; screen " + std::to_string(s.screenWidth) + "x" + std::to_string(s.screenHeight));
    // The phone application comes up as the scenario says, counted from
    // each start of the phone; a reset before then calls it off.
    int boot = 0;
    auto startPhone = [&s, &boot] {
        auto up = [title = s.phoneTitle, &boot, startedBy = boot] {
            if (startedBy != boot) return;
            HWND phone = sim::CreateWindowFor(sim::StartProcess("phone"), u"Dialog", title);
            sim::SetForeground(phone);
            sim::AddNote("the phone application's window \"" + sim::Utf8(title) + "\" is up");
        };
        if (s.phone == Scenario::Phone::Up) up();
        if (s.phone == Scenario::Phone::At) sim::At(sim::Now() + s.phoneAt, up);
    };
    if (s.anotherCopy) {
        sim::Pid copy = sim::StartProcess("klavor (first copy)");
        sim::CreateWindowFor(copy, u"KlavorWndClass", u"Klavor Window");
        sim::SetProcessImage(copy, s.anotherCopyImage);
        sim::AddNote("another copy of Klavor is running" +
                     (s.anotherCopyImage.empty() ? std::string() : " from " + sim::Utf8(s.anotherCopyImage)));
    }
    startPhone();

    RunState state(options.setupLoader ? options.setupLoader : wceload::SetupLoader(HostSetupLoader));
    state.actions = &s.actions;
    state.firstPlace = sim::ReservePlaces(s.actions.size());
    ScheduleAction(0, &state);
    sim::Time last = s.phone == Scenario::Phone::At ? s.phoneAt : 0;
    if (s.phone == Scenario::Phone::Never) last = kPhoneWait;
    for (const Action& a : s.actions) {
        if (a.kind == Action::Kind::Install || a.kind == Action::Kind::Remove || a.kind == Action::Kind::Reset)
            ++state.phoneEventsLeft;
        last = std::max(last, a.t);
    }
    sim::SetRunLimit(s.end ? *s.end : last + kGrace);

    // The program to start next, from what file, and with what command line.
    struct Start {
        Program program;
        std::u16string image;
        std::u16string commandLine;
    };
    std::optional<Start> next;
    if (s.klavorRuns) next = Start{program ? program : Program(HostWinMain), u"", u""};
    bool running = false;
    // One program at a time: a file the phone starts runs once the program
    // before it has ended.
    auto load = [&](const std::u16string& image, const std::u16string& commandLine, std::string* why) {
        std::optional<std::vector<std::uint8_t>> file = sim::ReadFile(image);
        std::optional<Program> loaded;
        if (!file)
            *why = "there is no such file";
        else if (running || next)
            *why = "the simulated phone runs one program at a time";
        else if (!(loaded = loader(*file, sim::Utf8(image), why)))
            *why = "not a program the phone can run: " + *why;
        if (loaded) next = Start{std::move(*loaded), image, commandLine};
        return loaded.has_value();
    };
    sim::SetProgramStarter([&](const std::u16string& image, const std::u16string& commandLine, DWORD* error) {
        std::string starts = sim::ProcessName(sim::CurrentProcess()) + " starts " + sim::Utf8(image);
        std::string why;
        if (!load(image, commandLine, &why)) {
            sim::AddNote(starts + ": " + why);
            *error = sim::ReadFile(image) ? 193 /* ERROR_BAD_EXE_FORMAT */ : ERROR_FILE_NOT_FOUND;
            return false;
        }
        sim::AddNote(starts);
        // The program's turn comes once the installer's code has given the
        // phone back.
        sim::At(sim::Now(), [&running] {
            if (!running) throw Starting{};
        });
        return true;
    });

    if (options.started) options.started();
    Outcome o;
    for (;;) {
        try {
            if (next && !running) {
                Start now = std::move(*next);
                next.reset();
                NewProgramProcess();
                sim::SetProgramImage(now.image);
                sim::AddNote("Klavor starts");
                running = o.started = true;
                o.exited = false;
                std::vector<WCHAR> arguments(now.commandLine.begin(), now.commandLine.end());
                arguments.push_back(0);
                o.exitCode = now.program(sim::ProgramInstance(), arguments.data(), 5 /* SW_SHOW */);
                running = false;
                o.exited = true;
                sim::AddNote("Klavor exits with code " + std::to_string(o.exitCode));
                // The run goes on while something may start the program again.
                if (state.phoneEventsLeft == 0 && sim::ThreadsRunning() == 0 && !next) break;
                // What the program left goes with its process.
                sim::EndProcess(sim::kProgram);
                continue;
            }
            sim::Idle();
        } catch (const Starting&) {
        } catch (const sim::Resetting&) {
            running = false;
            o.exited = false;
            ++boot;
            state.thief.window = nullptr;
            next.reset();
            std::vector<sim::StartUpEntry> entries = sim::SoftReset();
            startPhone();
            for (const sim::StartUpEntry& e : entries) {
                std::string entry = sim::Utf8(e.path);
                if (!e.command) {
                    sim::AddNote(entry + " is not a shortcut (.lnk): it starts nothing");
                    continue;
                }
                auto [target, arguments] = SplitCommand(*e.command);
                std::string starts = entry + " starts " + sim::Utf8(target);
                std::string why;
                sim::AddNote(load(target, arguments, &why) ? starts : starts + ": " + why);
            }
        } catch (const sim::Halted&) {
            sim::AddNote(running ? "the scenario ends; Klavor is still running" : "the scenario ends");
            break;
        } catch (const std::exception& fault) {
            running = false;
            o.fault = fault.what();
            sim::AddNote("Klavor is stopped by a fault: " + o.fault);
            break;
        }
    }
    // Another program's code still waiting (a setup program) ends with the run.
    sim::EndThreads();
    sim::SetProgramStarter(nullptr);
    o.running = running;
    return o;
}

}  // namespace

void NewProgramProcess() {
    std::memcpy(KeyTable, DefaultKeyTable, sizeof KeyTable);
    ResetSequence();
    recaptureTicks = -1;
    g_hWnd = nullptr;
    g_pUnregisterFunc1 = nullptr;
    g_hInstance = nullptr;
    g_hCoredll = nullptr;
    g_trayBusy = false;
    g_closing = false;
#define KLAVOR_ICON_ID(id) id,
    sim::SetProgramIcons({KLAVOR_ICON_IDS(KLAVOR_ICON_ID)});
#undef KLAVOR_ICON_ID
}

std::vector<std::string> CheckConfiguration(const Scenario& s) {
    std::vector<std::string> out;
    if (!s.configValue) return out;
    std::optional<config::Table> table = config::DecodeValue(*s.configValue);
    if (!table) return out;
    for (const config::Finding& f : config::CheckTable(*table, s.configOrigin)) out.push_back(f.text);
    return out;
}

Outcome Run(const Scenario& s, const RunOptions& options) {
    if (!options.timeline) return RunProgram(s, options);
    Teller teller(options.trace, options.out ? options.tellFrom : 0);
    if (options.out) {
        // Told as the clock moves on, and forgotten once told.
        RunOptions streamed = options;
        streamed.started = [&] {
            sim::WatchClock([&] {
                teller.Tell(options.out, false);
                sim::Forget(teller.ToldBefore());
            });
            if (options.started) options.started();
        };
        Outcome o = RunProgram(s, streamed);
        sim::WatchClock(nullptr);
        teller.Tell(options.out, true);
        sim::Forget(teller.ToldBefore());
        return o;
    }
    Outcome o = RunProgram(s, options);
    teller.Tell([&o](TimelineLine&& line) {
        o.timeline += line.text;
        o.timeline += '\n';
    }, true);
    return o;
}

Outcome Run(const Scenario& s, bool trace) {
    RunOptions options;
    options.trace = trace;
    return Run(s, options);
}

std::vector<Got> AppGot(const Scenario& s, const RunOptions& options) {
    std::vector<Got> got;
    RunOptions told = options;
    told.out = [&got](TimelineLine&& line) {
        if (!line.keys.empty()) got.push_back(Got{line.t, std::move(line.keys)});
    };
    Run(s, told);
    return got;
}

}  // namespace scenario
