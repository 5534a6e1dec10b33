// The simulated phone's own rules that the program's tests rely on.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/sim/phone.h"

namespace {

class PhoneTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(PhoneTest, QueryWithTooSmallBufferCopiesNothingAndReportsTheSize) {
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, u"Software\\Test", u"v", REG_BINARY,
                          std::vector<std::uint8_t>(10, 0xAB));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\TEST", 0, 0, &key), ERROR_SUCCESS);
    BYTE buf[4] = {1, 2, 3, 4};
    DWORD size = sizeof buf;
    EXPECT_EQ(RegQueryValueExW(key, u"V", nullptr, nullptr, buf, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[3], 4);
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Other", 0, 0, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(PhoneTest, HotKeyTableIsOneForThePhone) {
    HWND a = sim::CreateWindowFor(sim::StartProcess("a"), u"A", u"");
    HWND b = sim::CreateWindowFor(sim::StartProcess("b"), u"B", u"");
    ASSERT_TRUE(sim::RegisterHotKeyFor(a, 1, MOD_WIN, 0x75));
    EXPECT_FALSE(sim::RegisterHotKeyFor(b, 1, MOD_WIN, 0x75));
    EXPECT_TRUE(sim::RegisterHotKeyFor(b, 1, 0, 0x75));
    // The same window and id re-registered takes the new combination.
    EXPECT_TRUE(sim::RegisterHotKeyFor(a, 1, MOD_SHIFT, 0x76));
    EXPECT_FALSE(sim::HotKeyHolder(MOD_WIN, 0x75).has_value());
    // Key-down becomes the hot key; key-up passes on to the foreground.
    sim::SetForeground(a);
    sim::Press(0x75);
    ASSERT_EQ(sim::ReceivedBy(b).size(), 1u);
    EXPECT_EQ(sim::ReceivedBy(b)[0].lParam, MAKELONG(0, 0x75));
    auto keys = sim::Delivered();
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_TRUE(keys[0].up);
}

TEST_F(PhoneTest, SleepRunsDueEventsAtTheirTimes) {
    std::vector<sim::Time> seen;
    sim::At(1500, [&] { seen.push_back(sim::Now()); });
    sim::At(500, [&] { seen.push_back(sim::Now()); });
    Sleep(1000);
    EXPECT_EQ(seen, (std::vector<sim::Time>{500}));
    EXPECT_EQ(sim::Now(), 1000u);
    Sleep(1000);
    EXPECT_EQ(seen, (std::vector<sim::Time>{500, 1500}));
    sim::SetRunLimit(2500);
    EXPECT_THROW(Sleep(1000), sim::Halted);
}

TEST_F(PhoneTest, LateTimerTickKeepsTheTimersGridAndWindowLookupIgnoresCase) {
    HWND w = sim::CreateWindowFor(sim::kProgram, u"Dialog", u"Phone");
    ASSERT_EQ(SetTimer(w, 7, 100, nullptr), 7u);
    Sleep(250);  // the thread was busy through two periods
    std::vector<sim::Time> ticks;
    MSG m;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(GetMessageW(&m, nullptr, 0, 0));
        EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
        ticks.push_back(sim::Now());
    }
    EXPECT_EQ(ticks, (std::vector<sim::Time>{250, 300, 400}));
    EXPECT_EQ(FindWindowW(u"dialog", u"PHONE"), w);
    EXPECT_EQ(FindWindowW(u"Dialog", u"Phone2"), nullptr);
}

TEST_F(PhoneTest, EventsRunByTimeThenInTheOrderTheyWereScheduled) {
    std::vector<std::string> seen;
    auto mark = [&](std::string what) {
        return [&seen, what] { seen.push_back(what + "@" + std::to_string(sim::Now())); };
    };
    sim::At(300, mark("c"));
    sim::At(100, mark("a1"));
    sim::At(200, [&] {
        seen.push_back("b@" + std::to_string(sim::Now()));
        sim::At(200, mark("b-later"));  // same time: after everything already due then
        sim::At(50, mark("past"));      // already past: it sorts first, and runs at the current time
    });
    sim::At(100, mark("a2"));
    sim::At(200, mark("b2"));
    Sleep(1000);
    EXPECT_EQ(seen, (std::vector<std::string>{"a1@100", "a2@100", "b@200", "past@200", "b2@200", "b-later@200",
                                              "c@300"}));
}

TEST_F(PhoneTest, TimersDueTogetherFireInTheOrderTheyWereSet) {
    HWND w = sim::CreateWindowFor(sim::kProgram, u"W", u"");
    ASSERT_EQ(SetTimer(w, 1, 100, nullptr), 1u);
    ASSERT_EQ(SetTimer(w, 2, 50, nullptr), 2u);
    ASSERT_EQ(SetTimer(w, 3, 100, nullptr), 3u);
    std::vector<std::string> fired;
    MSG m;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(GetMessageW(&m, nullptr, 0, 0));
        fired.push_back(std::to_string(m.wParam) + "@" + std::to_string(sim::Now()));
    }
    EXPECT_EQ(fired, (std::vector<std::string>{"2@50", "1@100", "2@100", "3@100", "2@150"}));
    // Setting timer 1 again replaces it: one timer, on its new period.
    ASSERT_EQ(SetTimer(w, 1, 30, nullptr), 1u);
    ASSERT_TRUE(GetMessageW(&m, nullptr, 0, 0));
    EXPECT_EQ(std::to_string(m.wParam) + "@" + std::to_string(sim::Now()), "1@180");
    ASSERT_TRUE(GetMessageW(&m, nullptr, 0, 0));
    EXPECT_EQ(std::to_string(m.wParam) + "@" + std::to_string(sim::Now()), "2@200");
}

TEST_F(PhoneTest, TheTraceIsKeptOnlyWhileItIsOnAndEventsAlways) {
    HWND w = sim::CreateWindowFor(sim::StartProcess("a"), u"A", u"");
    EXPECT_FALSE(sim::Tracing());
    EXPECT_THROW(sim::Trace(), std::logic_error) << "reading a trace that is off is a mistake";
    EXPECT_THROW(sim::TraceOf({"Sleep"}), std::logic_error);
    Sleep(10);
    sim::SetForeground(w);
    sim::Press(0x41);
    sim::SetTracing(true);
    Sleep(20);
    keybd_event(0x42, 0, 0, 0);
    EXPECT_EQ(sim::TraceOf(), (std::vector<std::string>{"Sleep(20)", "keybd_event(0x42, 0, 0, 0)"}));
    EXPECT_EQ(sim::Trace().front().t, 10u);
    // The events were kept all along, and both ways of reading them agree.
    ASSERT_EQ(sim::EventCount(), 4u);  // the window, 0x41 down and up, 0x42 down
    const auto& all = sim::Events();
    ASSERT_EQ(all.size(), 4u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        sim::Event e = sim::EventAt(i);
        EXPECT_EQ(e.kind, all[i].kind);
        EXPECT_EQ(e.order, all[i].order);
        EXPECT_EQ(e.vk, all[i].vk);
    }
    EXPECT_EQ(all[0].text, u"A");
    EXPECT_EQ(sim::Delivered().size(), 3u);
    EXPECT_TRUE(sim::Delivered()[2].injected);
    // The trace's order and the events' order are one: the call came first.
    EXPECT_LT(sim::Trace().back().order, all[3].order);
    sim::Reset();
    EXPECT_FALSE(sim::Tracing()) << "a fresh phone keeps no trace";
    EXPECT_EQ(sim::EventCount(), 0u);
}

// A window procedure that opens a message box for every WM_USER, inside
// whatever modal loop dispatched it, and notes when each box returned.
std::vector<std::string> g_boxes;

LRESULT CALLBACK BoxOnUser(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_USER) return DefWindowProcW(hwnd, msg, wParam, lParam);
    std::u16string text = u"box " + sim::Utf16(std::to_string(wParam));
    int result = MessageBoxW(hwnd, text.c_str(), u"", MB_OK);
    g_boxes.push_back(sim::Utf8(text) + " -> " + std::to_string(result) + " at " + std::to_string(sim::Now()));
    return 0;
}

// A window whose WM_USER opens message box number wParam, with g_boxes cleared.
HWND BoxWindow() {
    g_boxes.clear();
    WNDCLASSW wc{};
    wc.lpfnWndProc = BoxOnUser;
    wc.lpszClassName = u"Boxes";
    if (!RegisterClassW(&wc)) return nullptr;
    return CreateWindowExW(0, u"Boxes", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(PhoneTest, NestedMessageBoxesCloseOneAtATimeInnermostFirst) {
    HWND w = BoxWindow();
    ASSERT_NE(w, nullptr);
    std::vector<std::size_t> depth;
    sim::At(100, [&] { PostMessageW(w, WM_USER, 1, 0); });
    sim::At(200, [&] { PostMessageW(w, WM_USER, 2, 0); });  // dispatched inside box 1
    sim::At(300, [&] { depth.push_back(sim::OpenModalLoops()); });
    sim::At(400, [&] { EXPECT_TRUE(sim::CloseMessageBox()); });
    sim::At(500, [&] { depth.push_back(sim::OpenModalLoops()); });
    sim::At(600, [&] { EXPECT_TRUE(sim::CloseMessageBox()); });
    sim::At(700, [&] {
        depth.push_back(sim::OpenModalLoops());
        EXPECT_FALSE(sim::CloseMessageBox()) << "nothing left to close";
        PostQuitMessage(0);
    });
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0)) DispatchMessageW(&m);
    EXPECT_EQ(depth, (std::vector<std::size_t>{2, 1, 0}));
    EXPECT_EQ(g_boxes, (std::vector<std::string>{"box 2 -> 1 at 400", "box 1 -> 1 at 600"}));
}

TEST_F(PhoneTest, DriverActsOnlyOnTheInnermostLoop) {
    HWND w = BoxWindow();
    ASSERT_NE(w, nullptr);
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 7, u"Seven");
    int chosen = -1;
    sim::At(100, [&] { PostMessageW(w, WM_USER, 1, 0); });  // a box inside the menu's loop
    sim::At(200, [&] {
        EXPECT_FALSE(sim::MenuOpen()) << "the box is in front of the menu";
        EXPECT_FALSE(sim::ChooseMenuItem(u"Seven"));
        EXPECT_FALSE(sim::DismissMenu());
        EXPECT_TRUE(sim::CloseMessageBox());
    });
    sim::At(300, [&] {
        EXPECT_TRUE(sim::MenuOpen());
        EXPECT_FALSE(sim::CloseMessageBox());
        EXPECT_TRUE(sim::ChooseMenuItem(u"Seven"));
    });
    sim::At(400, [&] { EXPECT_EQ(sim::OpenModalLoops(), 0u); });
    sim::SetRunLimit(1000);
    try {
        chosen = TrackPopupMenuEx(menu, TPM_RETURNCMD, 0, 0, w, nullptr);
        EXPECT_EQ(sim::Now(), 300u);
        Sleep(200);
    } catch (const sim::Halted&) {
        ADD_FAILURE() << "the loops did not close";
    }
    EXPECT_EQ(chosen, 7);
    EXPECT_EQ(g_boxes, (std::vector<std::string>{"box 1 -> 1 at 200"}));
}

}  // namespace

namespace {

std::vector<std::uint8_t> B(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

TEST_F(PhoneTest, FilesAndFoldersAreOneStoreWithoutCase) {
    EXPECT_TRUE(sim::IsFolder(u"\\Windows\\StartUp"));  // a fresh phone's
    EXPECT_TRUE(sim::MakeFolder(u"\\Program Files\\Klavor\\Deep"));
    std::string why;
    EXPECT_TRUE(sim::WriteFile(u"\\PROGRAM FILES\\klavor\\a.exe", B("one"), &why)) << why;
    EXPECT_TRUE(sim::WriteFile(u"\\Program Files\\Klavor\\A.EXE", B("two")));  // the same file, replaced
    EXPECT_EQ(sim::ReadFile(u"\\program files\\klavor\\a.exe"), B("two"));
    EXPECT_EQ(sim::FolderContents(u"\\Program Files\\Klavor"), (std::vector<std::u16string>{u"a.exe", u"Deep"}));
    const struct {
        const char16_t* path;
        const char* why;
    } refused[] = {{u"\\Nowhere\\x", "no such folder"}, {u"\\Program Files\\Klavor\\Deep", "a folder has that name"}, {u"", "not a path"}};
    for (const auto& r : refused) {
        EXPECT_FALSE(sim::WriteFile(r.path, B("x"), &why));
        EXPECT_EQ(why, r.why);
    }
    EXPECT_FALSE(sim::MakeFolder(u"\\Program Files\\Klavor\\a.exe\\sub"));  // a file is in the way
    // The running program's file cannot be replaced; once it ends, it can.
    sim::SetProgramImage(u"\\Program Files\\Klavor\\a.exe");
    EXPECT_FALSE(sim::WriteFile(u"\\program files\\klavor\\A.exe", B("three"), &why));
    EXPECT_EQ(why, "in use by a running program");
    sim::EndProcess(sim::kProgram);
    EXPECT_TRUE(sim::WriteFile(u"\\program files\\klavor\\A.exe", B("three")));
    // Shortcuts as the shell writes them, and files that are none.
    EXPECT_EQ(sim::ShortcutFile(u"\"\\Program Files\\Klavor\\klavor.exe\""), B("34#\"\\Program Files\\Klavor\\klavor.exe\""));
    EXPECT_EQ(sim::ShortcutCommand(B("12#\\Windows\\x.exe\r\n")), u"\\Windows\\x.exe");
    for (const char* none : {"", "#\\x.exe", "12\\x.exe", "1a#\\x.exe", "3#"}) EXPECT_FALSE(sim::ShortcutCommand(B(none))) << none;
}

// A soft reset ends every process and keeps the registry and the files;
// the shell then starts the .lnk shortcuts in \Windows\StartUp, in order.
TEST_F(PhoneTest, SoftResetEndsProcessesKeepsFilesAndListsStartUp) {
    HWND other = sim::CreateWindowFor(sim::StartProcess("thief"), u"T", u"");
    HWND mine = sim::CreateWindowFor(sim::kProgram, u"KlavorWndClass", u"Klavor Window");
    sim::RegisterHotKeyFor(other, 1, 0, 0xC1);
    sim::RegisterHotKeyFor(mine, 2, 0, 0xC2);
    ASSERT_EQ(SetTimer(mine, 1234, 100, nullptr), 1234u);
    sim::SetForeground(other);
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane", u"klavorKeyTable", REG_BINARY, {1, 2});
    sim::WriteFile(u"\\Windows\\StartUp\\b.lnk", sim::ShortcutFile(u"\\Windows\\b.exe"));
    sim::WriteFile(u"\\Windows\\StartUp\\A.LNK", sim::ShortcutFile(u"\"\\Program Files\\a.exe\" -x"));
    sim::WriteFile(u"\\Windows\\StartUp\\Klavor", sim::ShortcutFile(u"\\Windows\\c.exe"));  // not named .lnk
    sim::WriteFile(u"\\Windows\\StartUp\\d.lnk", B("not a shortcut"));
    sim::At(5000, [] {});

    std::vector<sim::StartUpEntry> started = sim::SoftReset();
    ASSERT_EQ(started.size(), 4u);
    const std::pair<const char16_t*, std::optional<std::u16string>> want[] = {
        {u"\\Windows\\StartUp\\A.LNK", u"\"\\Program Files\\a.exe\" -x"},
        {u"\\Windows\\StartUp\\b.lnk", u"\\Windows\\b.exe"},
        {u"\\Windows\\StartUp\\d.lnk", std::nullopt},
        {u"\\Windows\\StartUp\\Klavor", std::nullopt}};
    for (std::size_t i = 0; i < started.size(); ++i) {
        EXPECT_EQ(started[i].path, want[i].first) << i;
        EXPECT_EQ(started[i].command, want[i].second) << i;
    }
    EXPECT_TRUE(sim::HotKeys().empty());
    EXPECT_EQ(FindWindowW(u"KlavorWndClass", nullptr), nullptr);
    EXPECT_EQ(sim::OwnerOf(mine), sim::kProgram);  // what happened before is still told right
    EXPECT_TRUE(sim::RegistryValue(HKEY_LOCAL_MACHINE, u"software\\morvane", u"KLAVORKEYTABLE").has_value());
    // No timer is left to wake the program; time goes on to the events
    // still to come, and on to the run's end.
    MSG m;
    EXPECT_THROW(GetMessageW(&m, nullptr, 0, 0), sim::Halted);
    EXPECT_EQ(sim::Now(), 5000u);
    EXPECT_THROW(sim::Idle(), sim::Halted);
    EXPECT_EQ(sim::Now(), 60u * 60u * 1000u);
}

}  // namespace

// Another program's code takes turns with the program's: it runs until it
// sleeps, the phone goes on meanwhile (here the program's own Sleep), and it
// goes on at its time; it ends with its process, or with the run, unwound
// either way; and it takes no messages.
TEST_F(PhoneTest, ThreadsTakeTurnsWithTheProgramAndEndWithTheirProcess) {
    std::vector<std::string> log;
    auto note = [&log](const std::string& what) { log.push_back(what + "@" + std::to_string(sim::Now())); };
    struct Unwound {
        std::vector<std::string>* log;
        ~Unwound() { log->push_back("unwound@" + std::to_string(sim::Now())); }
    };
    const sim::Pid installer = sim::StartProcess("the installer");
    sim::RunThread(installer, [&] {
        note("thread");
        Sleep(100);
        note("thread");
        Sleep(100);
        note("thread");
        Unwound guard{&log};
        Sleep(10000);
        note("never");
    });
    EXPECT_EQ(sim::CurrentProcess(), sim::kProgram);
    Sleep(150);
    note("program");
    Sleep(100);
    note("program");
    EXPECT_EQ(sim::ThreadsRunning(), 1u);
    sim::EndProcess(installer);
    EXPECT_EQ(sim::ThreadsRunning(), 0u);
    EXPECT_EQ(log, (std::vector<std::string>{"thread@0", "thread@100", "program@150", "thread@200", "program@250",
                                             "unwound@250"}));

    // The end of a run unwinds a thread that still waits; one that waits for
    // messages is stopped, and says so.
    log.clear();
    sim::RunThread(sim::StartProcess("another"), [&] {
        Unwound guard{&log};
        Sleep(5000);
    });
    sim::RunThread(sim::StartProcess("a waiter"), [] {
        MSG m;
        GetMessageW(&m, nullptr, 0, 0);
    });
    EXPECT_EQ(sim::ThreadsRunning(), 1u);
    sim::EndThreads();
    EXPECT_EQ(log, (std::vector<std::string>{"unwound@250"}));
    const std::vector<sim::Event>& events = sim::Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().note,
              "a waiter is stopped by a fault: a waiter's thread waits for messages, which threads here do not take");
}
