// Start-up, the window procedure and teardown.
#include "shell_fixture.h"

namespace {

using Lines = std::vector<std::string>;

TEST_F(ShellTest, StartUpMakesItsCallsInOrderWithExactArguments) {
    PhoneUp();
    StoreCalendarCaptured();
    sim::ClearTrace();
    EXPECT_FALSE(RunProgram(1000));
    Lines seen;
    for (const auto& c : sim::Trace()) {
        if (c.name == "GetMessageW") break;
        if (c.name != "RegQueryValueExW" && c.name != "RegOpenKeyExW" && c.name != "RegCloseKey" &&
            c.name != "DefWindowProcW")
            seen.push_back(c.Text());
    }
    EXPECT_EQ(seen, (Lines{
                        "FindWindowW(\"Dialog\", \"Phone\") -> 0x10000",
                        "FindWindowW(\"KlavorWndClass\", \"Klavor Window\") -> NULL",
                        "LoadLibraryW(\"coredll.dll\") -> 0x7F000000",
                        "GetProcAddressW(0x7F000000, \"UnregisterFunc1\") -> UnregisterFunc1",
                        "GetStockObject(0) -> 0x50000",
                        "RegisterClassW(style 3, extra 0/0, instance 0x400000, icon NULL, cursor NULL, "
                        "background 0x50000, menu NULL, class \"KlavorWndClass\") -> 0xC001",
                        "CreateWindowExW(0xC000008, \"KlavorWndClass\", \"Klavor Window\", 0x800000, 0, 0, 0, 0, "
                        "NULL, NULL, 0x400000, NULL) -> 0x10001",
                        "SetTimer(0x10001, 1234, 100, NULL) -> 1234",
                        "LoadIconW(0x400000, #105) -> 0x30069",
                        "Shell_NotifyIcon(0, cbSize 152, hWnd 0x10001, uID 5000, uFlags 3, uCallbackMessage 3025, "
                        "hIcon 0x30069, szTip \"\") -> TRUE",
                        "UnregisterFunc1(0, 0xC1) -> TRUE",
                        "UnregisterFunc1(8, 0xC1) -> TRUE",
                        "UnregisterFunc1(4, 0xC1) -> TRUE",
                        "RegisterHotKey(0x10001, 0, 0, 0xC1) -> TRUE",
                        "RegisterHotKey(0x10001, 256, 8, 0xC1) -> TRUE",
                        "RegisterHotKey(0x10001, 512, 4, 0xC1) -> TRUE",
                    }));
    // The configuration is read after the module and before the window.
    Lines order = sim::TraceOf({"GetProcAddressW", "RegOpenKeyExW", "RegCloseKey", "RegisterClassW"});
    EXPECT_EQ(order.size(), 4u);
    EXPECT_EQ(order[1].rfind("RegOpenKeyExW", 0), 0u);
    // The window procedure saw the creation message before the handle was returned.
    EXPECT_EQ(sim::TraceOf({"DefWindowProcW"}).front(), "DefWindowProcW(0x10001, 0x1, 0, 0) -> 0");
    EXPECT_EQ(g_hWnd, ProgramWindow());
    // Ten ticks went by in the first second.
    EXPECT_EQ(sim::TraceOf({"DispatchMessageW"}).size(), 10u);
}

TEST_F(ShellTest, PhoneNeverComesUp_ThirtySleepsThenStartsAnyway) {
    sim::ClearTrace();
    EXPECT_FALSE(RunProgram(40000));
    Lines sleeps = sim::TraceOf({"Sleep"});
    EXPECT_EQ(sleeps, Lines(30, "Sleep(1000)"));
    Lines lookups = TraceFrom("FindWindowW", {"FindWindowW", "Sleep"});
    ASSERT_GE(lookups.size(), 90u);
    EXPECT_EQ(lookups[0], "FindWindowW(\"Dialog\", \"Phone\") -> NULL");
    EXPECT_EQ(lookups[1], "FindWindowW(\"Dialog\", \"\u0422\u0435\u043B\u0435\u0444\u043E\u043D\") -> NULL");
    EXPECT_EQ(lookups[2], "Sleep(1000)");
    EXPECT_EQ(lookups[89], "Sleep(1000)");
    EXPECT_EQ(lookups[90], "FindWindowW(\"KlavorWndClass\", \"Klavor Window\") -> NULL");
    ASSERT_EQ(sim::TrayIcons().size(), 1u);
    EXPECT_EQ(sim::Trace()[91].t, 30000u) << "set-up after exactly thirty seconds";
}

TEST_F(ShellTest, PhoneAlreadyUpMeansNoSleep) {
    PhoneUp();
    EXPECT_FALSE(RunProgram(500));
    EXPECT_TRUE(sim::TraceOf({"Sleep"}).empty());
}

TEST_F(ShellTest, RussianPhoneTitleEndsTheWait) {
    sim::At(2500, [this] { PhoneUp(u"\u0422\u0435\u043B\u0435\u0444\u043E\u043D"); });
    EXPECT_FALSE(RunProgram(5000));
    EXPECT_EQ(sim::TraceOf({"Sleep"}).size(), 3u);
    Lines found = sim::TraceOf({"FindWindowW"});
    EXPECT_EQ(found[6], "FindWindowW(\"Dialog\", \"Phone\") -> NULL");
    EXPECT_EQ(found[7], "FindWindowW(\"Dialog\", \"\u0422\u0435\u043B\u0435\u0444\u043E\u043D\") -> 0x10000");
    EXPECT_EQ(sim::TrayIcons().size(), 1u);
}

TEST_F(ShellTest, SecondCopyLeavesWithZeroBeforeTouchingAnything) {
    PhoneUp();
    StoreCalendarCaptured();
    HWND first = sim::CreateWindowFor(sim::StartProcess("klavor"), u"KlavorWndClass", u"Klavor Window");
    ASSERT_TRUE(sim::RegisterHotKeyFor(first, 0, 0, VK_APP1));
    sim::ClearTrace();
    ASSERT_TRUE(RunProgram(1000));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(sim::TraceOf(), (Lines{
                                  "FindWindowW(\"Dialog\", \"Phone\") -> 0x10000",
                                  "FindWindowW(\"KlavorWndClass\", \"Klavor Window\") -> 0x10001",
                              }));
    EXPECT_TRUE(sim::TrayIcons().empty());
    EXPECT_EQ(sim::HotKeyHolder(0, VK_APP1)->hwnd, first);
}

TEST_F(ShellTest, WindowProcedureRoutesOnlyItsOwnTimerToTheEngine) {
    HWND w = sim::CreateWindowFor(sim::kProgram, u"KlavorWndClass", u"Klavor Window");
    g_sequence.currentButton = 3;
    g_sequence.holdTicks = 4;
    recaptureTicks = 10;
    sim::ClearTrace();
    EXPECT_EQ(KlavorWndProc(w, WM_TIMER, 99, 0), 0);
    EXPECT_EQ(g_sequence.holdTicks, 4);
    EXPECT_EQ(recaptureTicks, 10);
    EXPECT_EQ(sim::TraceOf(), (Lines{"DefWindowProcW(" + sim::Hex(reinterpret_cast<ULONG_PTR>(w)) +
                                     ", 0x113, 99, 0) -> 0"}));
    EXPECT_EQ(g_hWnd, w) << "stored on every message";

    sim::ClearTrace();
    EXPECT_EQ(KlavorWndProc(w, WM_TIMER, TIMER_ID, 0), 0);
    EXPECT_EQ(g_sequence.holdTicks, 3);
    EXPECT_EQ(recaptureTicks, 9);
    EXPECT_EQ(KlavorWndProc(w, WM_HOTKEY, 0x205, MAKELONG(MOD_SHIFT, 0x75)), 0);
    EXPECT_EQ(g_sequence.currentButton, 5);
    EXPECT_TRUE(sim::Trace().empty()) << sim::Trace().front().Text();

    EXPECT_EQ(KlavorWndProc(w, WM_LBUTTONDOWN, 0, 0), 0);
    EXPECT_EQ(sim::TraceOf(), (Lines{"DefWindowProcW(" + sim::Hex(reinterpret_cast<ULONG_PTR>(w)) +
                                     ", 0x201, 0, 0) -> 0"}));
}

TEST_F(ShellTest, WithoutUnregisterFunc1ButtonsAreStillCapturedAndOnlyALoadedModuleIsFreed) {
    struct Case {
        bool loads;
        Lines moduleCalls;
    } cases[] = {
        {false, {}},
        {true,
         {"GetProcAddressW(0x7F000000, \"UnregisterFunc1\") -> NULL", "FreeLibrary(0x7F000000) -> TRUE"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.loads ? "coredll without the export" : "no coredll");
        SetUp();
        PhoneUp();
        StoreCalendarCaptured();
        sim::SetCoredll(c.loads, false);
        sim::At(1000, [] { sim::TapTrayIcon(FindWindowW(u"KlavorWndClass", nullptr), TRAY_ICON_ID); });
        sim::At(1100, [] { sim::ChooseMenuItem(u"Exit"); });
        ASSERT_TRUE(RunProgram(5000));
        EXPECT_EQ(exitCode, 1);
        EXPECT_EQ(sim::TraceOf({"GetProcAddressW", "UnregisterFunc1", "FreeLibrary"}), c.moduleCalls);
        EXPECT_EQ(sim::TraceOf({"RegisterHotKey"}).size(), 3u);
    }
}

}  // namespace
