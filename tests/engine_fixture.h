// A fresh phone and a fresh program state for every engine test.
#ifndef KLAVOR_TESTS_ENGINE_FIXTURE_H
#define KLAVOR_TESTS_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/capture.h"
#include "engine/key_table.h"
#include "platform/sim/phone.h"
#include "scenario/disk.h"
#include "scenario/run.h"
#include "engine/sequence.h"

// The engine on its own: a program window and the resolved export, as the
// shell leaves them, and a foreground application that records keys.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetTracing(true);
        scenario::NewProgramProcess();
        g_hWnd = sim::CreateWindowFor(sim::kProgram, u"KlavorWndClass", u"Klavor Window");
        g_pUnregisterFunc1 = reinterpret_cast<UnregisterFunc1Proc>(
            reinterpret_cast<void*>(GetProcAddressW(LoadLibraryW(u"coredll.dll"), u"UnregisterFunc1")));
        phoneApp = sim::CreateWindowFor(sim::StartProcess("phone"), u"Dialog", u"Phone");
        sim::SetForeground(phoneApp);
        sim::ClearTrace();
    }

    void Capture(int slot, WORD count = 2) {
        KeyTable[slot].mode = MODE_CAPTURE;
        KeyTable[slot].count = count;
    }

    // Hands the program's queued hot keys to the engine, as its window
    // procedure would; returns how many there were.
    int DeliverHotKeys() {
        int n = 0;
        for (const MSG& m : sim::TakeProgramMessages()) {
            if (m.message == WM_HOTKEY) {
                OnHotKey(m.wParam);
                ++n;
            }
        }
        return n;
    }

    void PressSlot(int slot, UINT mods = 0) {
        sim::Press(static_cast<BYTE>(KeyTable[slot].vk), mods);
        DeliverHotKeys();
    }

    void Ticks(int n) {
        for (int i = 0; i < n; ++i) OnTimerTick();
    }

    // The keys the engine synthesised that reached the foreground, as
    // "v0x05" for down and "^0x05" for up.
    static std::vector<std::string> SentKeys() {
        std::vector<std::string> out;
        for (const auto& d : sim::Delivered())
            if (d.injected) out.push_back((d.up ? "^" : "v") + sim::Hex(d.vk));
        return out;
    }

    HWND phoneApp = nullptr;
};

#endif
