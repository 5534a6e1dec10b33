// The tray icon, its menu, the About box and Exit.
#include "shell_fixture.h"

namespace {

using Lines = std::vector<std::string>;
using K = sim::Event::Kind;

class TrayTest : public ShellTest {
protected:
    void TapAt(sim::Time t) {
        sim::At(t, [] { sim::TapTrayIcon(FindWindowW(u"KlavorWndClass", nullptr), TRAY_ICON_ID); });
    }
    void ChooseAt(sim::Time t, const std::u16string& item) {
        sim::At(t, [item] { ASSERT_TRUE(sim::ChooseMenuItem(item)); });
    }
    const sim::Event* FirstEvent(K kind) {
        for (const auto& e : sim::Events())
            if (e.kind == kind) return &e;
        return nullptr;
    }
};

TEST_F(TrayTest, MenuOpensAboveTheTaskBarForEachScreenHeight) {
    struct Case {
        int height;
        int bottom;
    } cases[] = {{320, 294}, {330, 304}, {331, 279}, {640, 588}};
    for (const Case& c : cases) {
        SCOPED_TRACE("screen height " + std::to_string(c.height));
        SetUp();
        PhoneUp();
        sim::SetScreen(480, c.height);
        TapAt(1000);
        sim::At(1500, [] { sim::DismissMenu(); });
        EXPECT_FALSE(RunProgram(2000));
        const sim::Event* menu = FirstEvent(K::MenuOpened);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->x, 513);
        EXPECT_EQ(menu->y, c.bottom);
        EXPECT_EQ(menu->flags, 0x0120u);
        EXPECT_EQ(menu->items, (std::vector<std::u16string>{u"About Klavor", u"Exit"}));
    }
}

TEST_F(TrayTest, DismissedMenuOnlyDestroysTheMenu) {
    PhoneUp();
    TapAt(1000);
    sim::At(1500, [] { sim::DismissMenu(); });
    EXPECT_FALSE(RunProgram(3000));
    Lines calls = TraceFrom("CreatePopupMenu", {"CreatePopupMenu", "AppendMenuW", "GetSystemMetrics",
                                                "TrackPopupMenuEx", "MessageBoxW", "PostQuitMessage", "DestroyMenu"});
    EXPECT_EQ(calls, (Lines{
                         "CreatePopupMenu() -> 0x40000",
                         "AppendMenuW(0x40000, 0, 3027, \"About Klavor\") -> TRUE",
                         "AppendMenuW(0x40000, 0, 3028, \"Exit\") -> TRUE",
                         "GetSystemMetrics(1) -> 320",
                         "GetSystemMetrics(1) -> 320",
                         "TrackPopupMenuEx(0x40000, 0x120, 513, 294, 0x10001, NULL) -> 0",
                         "DestroyMenu(0x40000) -> TRUE",
                     }));
    EXPECT_EQ(sim::TrayIcons().size(), 1u);
}

TEST_F(TrayTest, OnlyATapOpensTheMenu) {
    PhoneUp();
    for (UINT other : {UINT{WM_LBUTTONUP}, 0x0203u /* double click */, 0x0204u /* right button */})
        sim::At(500 + other, [other] {
            sim::NotifyTrayIcon(FindWindowW(u"KlavorWndClass", nullptr), TRAY_ICON_ID, other);
        });
    EXPECT_FALSE(RunProgram(2000));
    EXPECT_TRUE(sim::TraceOf({"CreatePopupMenu", "TrackPopupMenuEx"}).empty());
}

TEST_F(TrayTest, AboutBoxShowsTheProgramAndItsMaker) {
    PhoneUp();
    TapAt(1000);
    ChooseAt(1200, u"About Klavor");
    sim::At(1500, [] { ASSERT_TRUE(sim::CloseMessageBox()); });
    EXPECT_FALSE(RunProgram(3000));
    const sim::Event* box = FirstEvent(K::MessageBoxShown);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->caption, u"About");
    EXPECT_EQ(box->flags, 0u);
    EXPECT_EQ(box->hwnd, ProgramWindow());
    std::string text = sim::Utf8(box->text);
    EXPECT_EQ(text.rfind("Klavor for HTC Himalaya/Andes/Alpine/Magician\n\rv1.0.1\n\r", 0), 0u);
    // Three maker lines: the second an e-mail, the third a web address.
    std::vector<std::string> lines;
    for (std::size_t start = 0;;) {
        std::size_t sep = text.find("\n\r", start);
        lines.push_back(text.substr(start, sep == std::string::npos ? sep : sep - start));
        if (sep == std::string::npos) break;
        start = sep + 2;
    }
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3].rfind("EMail: ", 0), 0u);
    EXPECT_EQ(lines[4].rfind("Web: ", 0), 0u);
    EXPECT_NE(lines[3].find("example."), std::string::npos);
    // The box was closed before the menu was destroyed; the program runs on.
    EXPECT_EQ(TraceFrom("MessageBoxW", {"MessageBoxW", "DestroyMenu"}).back(), "DestroyMenu(0x40000) -> TRUE");
    EXPECT_EQ(sim::TrayIcons().size(), 1u);
}

TEST_F(TrayTest, ExitEndsWithCodeOneAfterReleasingAndRemovingTheIcon) {
    PhoneUp();
    StoreCalendarCaptured();
    TapAt(1000);
    ChooseAt(1100, u"Exit");
    ASSERT_TRUE(RunProgram(60000));
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(TraceFrom("PostQuitMessage", {"PostQuitMessage", "DestroyMenu", "GetMessageW", "Shell_NotifyIcon",
                                             "UnregisterHotKey", "FreeLibrary", "LoadIconW"}),
              (Lines{
                  "PostQuitMessage(1)",
                  "DestroyMenu(0x40000) -> TRUE",
                  "GetMessageW(NULL, 0, 0) -> FALSE, msg 0x12 wParam 1 lParam 0",
                  "LoadIconW(0x400000, #105) -> 0x30069",
                  "Shell_NotifyIcon(2, cbSize 152, hWnd 0x10001, uID 5000, uFlags 3, uCallbackMessage 3025, "
                  "hIcon 0x30069, szTip \"\") -> TRUE",
                  "UnregisterHotKey(0x10001, 0) -> TRUE",
                  "UnregisterHotKey(0x10001, 256) -> TRUE",
                  "UnregisterHotKey(0x10001, 512) -> TRUE",
                  "FreeLibrary(0x7F000000) -> TRUE",
              }));
    EXPECT_TRUE(sim::TrayIcons().empty());
    EXPECT_TRUE(sim::HotKeys().empty());
    EXPECT_EQ(sim::Now(), 1100u) << "ends at once";
}

TEST_F(TrayTest, SequencesStillFireWhileTheMenuOrTheAboutBoxIsOpen) {
    PhoneUp();
    StoreCalendarCaptured();
    TapAt(1000);
    sim::At(1200, [] { sim::Press(VK_APP1); });  // single: Win+Calendar
    ChooseAt(2000, u"About Klavor");
    sim::At(2200, [] { sim::Press(VK_APP1); });
    sim::At(2300, [] { sim::Press(VK_APP1); });  // double: code 5
    sim::At(3500, [] { sim::CloseMessageBox(); });
    EXPECT_FALSE(RunProgram(4000));
    EXPECT_EQ(EventKinds({K::MenuOpened, K::MenuClosed, K::MessageBoxShown, K::MessageBoxClosed,
                          K::KeyToForeground}),
              (std::vector<K>{K::MenuOpened, K::KeyToForeground, K::KeyToForeground, K::KeyToForeground,
                              K::KeyToForeground, K::KeyToForeground, K::MenuClosed, K::MessageBoxShown,
                              K::KeyToForeground, K::KeyToForeground, K::KeyToForeground, K::KeyToForeground,
                              K::MessageBoxClosed}));
    std::vector<std::string> sent;
    for (const auto& d : sim::Delivered())
        if (d.injected) sent.push_back((d.up ? "^" : "v") + sim::Hex(d.vk) + "@" + std::to_string(d.t));
    EXPECT_EQ(sent, (Lines{"v0x5B@1700", "v0xC1@1700", "^0x5B@1700", "^0xC1@1700", "v0x5@2800", "^0x5@2800"}));
}

TEST_F(TrayTest, TapsWhileTheMenuOrTheAboutBoxIsOpenAreIgnored) {
    PhoneUp();
    StoreCalendarCaptured();
    TapAt(1000);
    TapAt(1100);  // the menu is open
    ChooseAt(1200, u"About Klavor");
    for (sim::Time t = 1300; t < 2300; t += 50) TapAt(t);  // the About box is open
    sim::At(2000, [] { sim::Press(VK_APP1); });                // still counts: Win+Calendar at 2.5 s
    sim::At(2300, [] {
        EXPECT_FALSE(sim::MenuOpen()) << "no menu opened inside the About box";
        EXPECT_EQ(sim::OpenModalLoops(), 1u);
        EXPECT_TRUE(sim::CloseMessageBox());
    });
    sim::At(2900, [] { EXPECT_EQ(sim::OpenModalLoops(), 0u); });
    // Closed, the About box lets the next tap open the menu again.
    TapAt(3000);
    ChooseAt(3100, u"Exit");
    ASSERT_TRUE(RunProgram(10000));
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(EventKinds({K::MenuOpened, K::MenuClosed, K::MessageBoxShown, K::MessageBoxClosed}),
              (std::vector<K>{K::MenuOpened, K::MenuClosed, K::MessageBoxShown, K::MessageBoxClosed, K::MenuOpened,
                              K::MenuClosed}));
    EXPECT_EQ(sim::TraceOf({"CreatePopupMenu"}).size(), 2u);
    std::vector<std::string> sent;
    for (const auto& d : sim::Delivered())
        if (d.injected) sent.push_back((d.up ? "^" : "v") + sim::Hex(d.vk) + "@" + std::to_string(d.t));
    EXPECT_EQ(sent, (Lines{"v0x5B@2500", "v0xC1@2500", "^0x5B@2500", "^0xC1@2500"}));
}

TEST_F(TrayTest, ARunEndedInsideTheAboutBoxLeavesTheNextProcessATrayThatOpens) {
    PhoneUp();
    TapAt(1000);
    ChooseAt(1100, u"About Klavor");
    EXPECT_FALSE(RunProgram(2000));  // the phone stops with the box open
    SetUp();                          // a new process on a fresh phone
    PhoneUp();
    TapAt(500);
    sim::At(600, [] { EXPECT_TRUE(sim::MenuOpen()); });
    ChooseAt(700, u"Exit");
    ASSERT_TRUE(RunProgram(2000));
    EXPECT_EQ(exitCode, 1);
}

}  // namespace
