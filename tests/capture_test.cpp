// Freeing, capturing and releasing buttons, and the periodic recapture.
#include "engine_fixture.h"

namespace {

using Lines = std::vector<std::string>;
const Lines kHotKeyCalls = {"UnregisterFunc1", "RegisterHotKey", "UnregisterHotKey"};

class CaptureTest : public EngineTest {
protected:
    // The ticks (1-based, counted from the start-up sweep) on which a sweep ran.
    std::vector<int> SweepTicks(int ticks) {
        std::vector<int> out;
        for (int t = 1; t <= ticks; ++t) {
            sim::ClearTrace();
            OnTimerTick();
            if (!sim::TraceOf({"RegisterHotKey", "UnregisterFunc1"}).empty()) out.push_back(t);
        }
        return out;
    }
};

TEST_F(CaptureTest, SweepFreesAndCapturesInSlotOrderWithExactCalls) {
    KeyTable[1].mode = MODE_FREE;     // Contacts, 0xC2
    KeyTable[4].mode = MODE_CAPTURE;  // Volume Up, 0x75
    KeyTable[6].mode = 3;             // acts as "leave alone"
    KeyTable[7].mode = 0xFFFF;
    CaptureAll();
    EXPECT_EQ(sim::TraceOf(kHotKeyCalls), (Lines{
                                              "UnregisterFunc1(0, 0xC2) -> TRUE",
                                              "UnregisterFunc1(8, 0xC2) -> TRUE",
                                              "UnregisterFunc1(4, 0xC2) -> TRUE",
                                              "UnregisterFunc1(0, 0x75) -> TRUE",
                                              "UnregisterFunc1(8, 0x75) -> TRUE",
                                              "UnregisterFunc1(4, 0x75) -> TRUE",
                                              "RegisterHotKey(0x10000, 4, 0, 0x75) -> TRUE",
                                              "RegisterHotKey(0x10000, 260, 8, 0x75) -> TRUE",
                                              "RegisterHotKey(0x10000, 516, 4, 0x75) -> TRUE",
                                          }));
    EXPECT_EQ(sim::Trace().size(), 9u);
    EXPECT_EQ(recaptureTicks, RECAPTURE_TICKS);

    sim::ClearTrace();
    ReleaseAll();
    EXPECT_EQ(sim::TraceOf(), (Lines{
                                  "UnregisterHotKey(0x10000, 4) -> TRUE",
                                  "UnregisterHotKey(0x10000, 260) -> TRUE",
                                  "UnregisterHotKey(0x10000, 516) -> TRUE",
                              }));
    EXPECT_TRUE(sim::HotKeys().empty());
}

TEST_F(CaptureTest, FreedButtonBelongsToNobodyAndNeverReachesTheProgram) {
    HWND shell = sim::CreateWindowFor(sim::StartProcess("shell"), u"DesktopExplorerWindow", u"");
    ASSERT_TRUE(sim::RegisterHotKeyFor(shell, 7, MOD_WIN, VK_APP2));
    KeyTable[1].mode = MODE_FREE;
    CaptureAll();
    EXPECT_FALSE(sim::HotKeyHolder(MOD_WIN, VK_APP2).has_value());
    sim::Press(VK_APP2, MOD_WIN);
    EXPECT_TRUE(sim::TakeProgramMessages().empty());
    EXPECT_TRUE(sim::ReceivedBy(shell).empty());
    // It went to the foreground application instead.
    EXPECT_EQ(sim::ReceivedBy(phoneApp).size(), 4u);
    // ReleaseAll leaves freed buttons alone.
    sim::ClearTrace();
    ReleaseAll();
    EXPECT_TRUE(sim::Trace().empty());
}

TEST_F(CaptureTest, PeriodicSweepEvery301TicksStopsForGoodAfterRelease) {
    Capture(0);
    CaptureAll();
    EXPECT_EQ(SweepTicks(950), (std::vector<int>{301, 602, 903}));
    ReleaseAll();
    EXPECT_EQ(recaptureTicks, -1);
    EXPECT_TRUE(SweepTicks(1000).empty());
    EXPECT_TRUE(sim::HotKeys().empty());
}

TEST_F(CaptureTest, WithEveryButtonLeftAloneNoSweepMakesAnyCall) {
    CaptureAll();
    Ticks(1000);
    ReleaseAll();
    EXPECT_TRUE(sim::Trace().empty());
}

TEST_F(CaptureTest, ThiefKeepsTheButtonOnlyUntilTheNextSweep) {
    Capture(0);
    CaptureAll();
    HWND thief = sim::CreateWindowFor(sim::StartProcess("thief"), u"ThiefClass", u"");
    sim::StealHotKey(thief, 42, 0, VK_APP1);

    sim::Press(VK_APP1);
    EXPECT_EQ(DeliverHotKeys(), 0);
    ASSERT_EQ(sim::ReceivedBy(thief).size(), 1u);
    EXPECT_EQ(sim::ReceivedBy(thief)[0].msg, static_cast<UINT>(WM_HOTKEY));

    Ticks(300);
    sim::Press(VK_APP1);
    EXPECT_EQ(DeliverHotKeys(), 0) << "still the thief's before the sweep";
    Ticks(1);  // tick 301: the sweep
    sim::Press(VK_APP1);
    EXPECT_EQ(DeliverHotKeys(), 1);
    EXPECT_EQ(sim::ReceivedBy(thief).size(), 2u);
    EXPECT_EQ(sim::HotKeyHolder(0, VK_APP1)->hwnd, g_hWnd);
}

TEST_F(CaptureTest, WithoutTheExportCaptureStillRegistersWhatIsFree) {
    g_pUnregisterFunc1 = nullptr;
    HWND shell = sim::CreateWindowFor(sim::StartProcess("shell"), u"DesktopExplorerWindow", u"");
    ASSERT_TRUE(sim::RegisterHotKeyFor(shell, 1, MOD_WIN, VK_APP1));
    Capture(0);
    KeyTable[1].mode = MODE_FREE;
    CaptureAll();
    EXPECT_EQ(sim::TraceOf(), (Lines{
                                  "RegisterHotKey(0x10000, 0, 0, 0xC1) -> TRUE",
                                  "RegisterHotKey(0x10000, 256, 8, 0xC1) -> FALSE",
                                  "RegisterHotKey(0x10000, 512, 4, 0xC1) -> TRUE",
                              }));
    EXPECT_EQ(sim::HotKeyHolder(MOD_WIN, VK_APP1)->hwnd, shell);
}

}  // namespace
