// Counting presses, firing on time and sending the configured keys.
#include "engine_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class SequenceTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        // Slot 4 (Volume Up, 0x75) with three distinct plain actions.
        Capture(kSlot, 2);
        WORD actions[KEY_ACTIONS] = {0x0031, 0x0032, 0x0033, 0x0034, 0x0035};
        std::memcpy(KeyTable[kSlot].actions, actions, sizeof actions);
        CaptureAll();
        sim::ClearTrace();
    }

    // Ticks until something is sent, at most limit; returns the tick
    // number it was sent on (1-based), or 0.
    int TicksUntilSent(int limit = 20) {
        std::size_t before = SentKeys().size();
        for (int t = 1; t <= limit; ++t) {
            OnTimerTick();
            if (SentKeys().size() != before) return t;
        }
        return 0;
    }

    static constexpr int kSlot = 4;
};

TEST_F(SequenceTest, SinglePressFiresOnTheSixthTickAfterIt) {
    PressSlot(kSlot);
    EXPECT_EQ(g_sequence.currentButton, kSlot);
    EXPECT_EQ(g_sequence.holdTicks, HOLD_TICKS);
    EXPECT_EQ(TicksUntilSent(), 6);
    EXPECT_EQ(SentKeys(), (Lines{"v0x31", "^0x31"}));
    EXPECT_EQ(g_sequence.currentButton, NO_BUTTON);
    EXPECT_EQ(g_sequence.holdTicks, HOLD_IDLE);
    EXPECT_EQ(TicksUntilSent(100), 0) << "fires once";
}

TEST_F(SequenceTest, SecondPressRestartsTheQuietPeriod) {
    PressSlot(kSlot);
    Ticks(4);
    PressSlot(kSlot);
    EXPECT_EQ(TicksUntilSent(), 6);
    EXPECT_EQ(SentKeys(), (Lines{"v0x32", "^0x32"}));
}

TEST_F(SequenceTest, PressReachingTheCountFiresOnTheNextTickAndExtraPressesClamp) {
    PressSlot(kSlot);
    PressSlot(kSlot);
    PressSlot(kSlot);
    EXPECT_EQ(g_sequence.holdTicks, 0);
    EXPECT_EQ(TicksUntilSent(), 1);
    EXPECT_EQ(SentKeys(), (Lines{"v0x33", "^0x33"}));

    for (int i = 0; i < 4; ++i) PressSlot(kSlot);
    EXPECT_EQ(TicksUntilSent(), 1);
    EXPECT_EQ(SentKeys(), (Lines{"v0x33", "^0x33", "v0x33", "^0x33"}));
    // The next sequence starts again at a single press.
    PressSlot(kSlot);
    EXPECT_EQ(g_sequence.pressIndex, 0);
    EXPECT_EQ(TicksUntilSent(), 6);
    EXPECT_EQ(SentKeys().back(), "^0x31");
}

TEST_F(SequenceTest, CountZeroFiresEveryFirstPressOnTheNextTick) {
    KeyTable[kSlot].count = 0;
    PressSlot(kSlot);
    EXPECT_EQ(TicksUntilSent(), 1);
    EXPECT_EQ(SentKeys(), (Lines{"v0x31", "^0x31"}));
}

TEST_F(SequenceTest, CountAboveFourActsAsFour) {
    KeyTable[kSlot].count = 9;
    for (int i = 0; i < 4; ++i) PressSlot(kSlot);
    EXPECT_EQ(TicksUntilSent(), 6) << "four presses are below the limit";
    EXPECT_EQ(SentKeys(), (Lines{"v0x34", "^0x34"}));
    for (int i = 0; i < 5; ++i) PressSlot(kSlot);
    EXPECT_EQ(TicksUntilSent(), 1) << "the fifth press reaches the limit";
    for (int i = 0; i < 12; ++i) PressSlot(kSlot);
    EXPECT_EQ(TicksUntilSent(), 1);
    // Never anything past the fifth action (the next slot's mode/vk words).
    EXPECT_EQ(SentKeys(), (Lines{"v0x34", "^0x34", "v0x35", "^0x35", "v0x35", "^0x35"}));
}

TEST_F(SequenceTest, PressOnAnotherButtonDropsThePendingSequenceSilently) {
    Capture(6, 2);  // Green, 0x72: actions 3, 9, 15
    CaptureAll();
    PressSlot(kSlot);
    PressSlot(kSlot);
    Ticks(3);
    PressSlot(6);
    EXPECT_EQ(g_sequence.pressIndex, 0);
    EXPECT_EQ(TicksUntilSent(), 6);
    EXPECT_EQ(SentKeys(), (Lines{"v0x3", "^0x3"}));
}

TEST_F(SequenceTest, AllThreeHotKeysOfASlotCountAsPressesOfIt) {
    PressSlot(kSlot);
    PressSlot(kSlot, MOD_WIN);
    PressSlot(kSlot, MOD_SHIFT);
    EXPECT_EQ(TicksUntilSent(), 1);
    // Shift and Windows went to the foreground as they were pressed; the
    // action is the triple press.
    EXPECT_EQ(SentKeys(), (Lines{"v0x33", "^0x33"}));
}

TEST_F(SequenceTest, IdentifierOfNoSlotChangesNothing) {
    PressSlot(kSlot);
    Ticks(2);
    for (WPARAM id : {WPARAM{8}, WPARAM{0x1FF}, WPARAM{0x2A0}}) OnHotKey(id);
    EXPECT_EQ(g_sequence.currentButton, kSlot);
    EXPECT_EQ(g_sequence.pressIndex, 0);
    EXPECT_EQ(g_sequence.holdTicks, 3);
    EXPECT_EQ(TicksUntilSent(), 4);
}

TEST_F(SequenceTest, IdleTicksCountDownToZeroAndSendNothing) {
    Ticks(0x10005);
    EXPECT_EQ(g_sequence.holdTicks, 0);
    EXPECT_TRUE(SentKeys().empty());
}

TEST_F(SequenceTest, FiringReleasesSendsThenCapturesInExactOrder) {
    KeyTable[kSlot].actions[0] = 0x40C1;
    PressSlot(kSlot);
    sim::ClearTrace();
    Ticks(6);
    EXPECT_EQ(sim::TraceOf({"UnregisterHotKey", "keybd_event", "UnregisterFunc1", "RegisterHotKey"}),
              (Lines{
                  "UnregisterHotKey(0x10000, 4) -> TRUE",
                  "UnregisterHotKey(0x10000, 260) -> TRUE",
                  "UnregisterHotKey(0x10000, 516) -> TRUE",
                  "keybd_event(0x5B, 0, 0, 0)",
                  "keybd_event(0xC1, 0, 0, 0)",
                  "keybd_event(0x5B, 0, 2, 0)",
                  "keybd_event(0xC1, 0, 2, 0)",
                  "UnregisterFunc1(0, 0x75) -> TRUE",
                  "UnregisterFunc1(8, 0x75) -> TRUE",
                  "UnregisterFunc1(4, 0x75) -> TRUE",
                  "RegisterHotKey(0x10000, 4, 0, 0x75) -> TRUE",
                  "RegisterHotKey(0x10000, 260, 8, 0x75) -> TRUE",
                  "RegisterHotKey(0x10000, 516, 4, 0x75) -> TRUE",
              }));
    EXPECT_EQ(sim::HotKeys().size(), 3u);
}

TEST_F(SequenceTest, ActionEncodings) {
    struct Case {
        ActionCode action;
        Lines keys;
    } cases[] = {
        {0x40C1, {"v0x5B", "v0xC1", "^0x5B", "^0xC1"}},
        {0x41C1, {"v0xC1", "^0xC1"}},  // only exactly 0x40 means the Windows key
        {0xC0C1, {"v0xC1", "^0xC1"}},
        {0x0000, {"v0x0", "^0x0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(sim::Hex(c.action));
        sim::Reset();
        HWND fg = sim::CreateWindowFor(sim::StartProcess("app"), u"App", u"");
        sim::SetForeground(fg);
        SendAction(c.action);
        EXPECT_EQ(SentKeys(), c.keys);
        for (const auto& d : sim::Delivered()) EXPECT_EQ(d.to, fg);
    }
}

// Why the button is let go before its action is sent: the program's own
// Windows+Calendar hot key would otherwise swallow the Windows+Calendar
// action meant for the shell.
TEST_F(SequenceTest, OwnHotKeysWouldCatchTheActionIfNotReleasedFirst) {
    Capture(0, 2);  // Calendar: single press sends Windows+Calendar
    CaptureAll();
    sim::TakeProgramMessages();

    SendAction(0x40C1);  // as if sent while still holding the hot keys
    std::vector<MSG> back = sim::TakeProgramMessages();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].message, static_cast<UINT>(WM_HOTKEY));
    EXPECT_EQ(back[0].wParam, 0x100u);
    EXPECT_EQ(SentKeys(), (Lines{"v0x5B", "^0x5B", "^0xC1"})) << "the key-down never arrived";

    ResetSequence();
    sim::Reset();
    g_hWnd = sim::CreateWindowFor(sim::kProgram, u"KlavorWndClass", u"Klavor Window");
    g_pUnregisterFunc1 = nullptr;
    HWND shell = sim::CreateWindowFor(sim::StartProcess("shell"), u"Shell", u"");
    sim::SetForeground(shell);
    CaptureAll();
    PressSlot(0);
    Ticks(6);
    EXPECT_TRUE(sim::TakeProgramMessages().empty());
    EXPECT_EQ(SentKeys(), (Lines{"v0x5B", "v0xC1", "^0x5B", "^0xC1"}));
    EXPECT_EQ(sim::HotKeys().size(), 6u) << "both slots captured again";
}

}  // namespace
