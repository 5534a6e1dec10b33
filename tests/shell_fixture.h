// The whole program on a fresh simulated phone.
#ifndef KLAVOR_TESTS_SHELL_FIXTURE_H
#define KLAVOR_TESTS_SHELL_FIXTURE_H

#include "engine_fixture.h"
#include "res/resource.h"
#include "app/shell.h"
#include "app/tray.h"

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetTracing(true);
        scenario::NewProgramProcess();
    }

    HWND PhoneUp(const std::u16string& title = u"Phone") {
        HWND phone = sim::CreateWindowFor(sim::StartProcess("phone"), u"Dialog", title);
        sim::SetForeground(phone);
        return phone;
    }

    // Slot 0 (Calendar, 0xC1) captured with count 2, the rest left alone.
    static void StoreCalendarCaptured() {
        KeyEntry table[KEY_SLOTS];
        std::memcpy(table, DefaultKeyTable, sizeof table);
        table[0].mode = MODE_CAPTURE;
        std::vector<std::uint8_t> image(KEY_TABLE_BYTES);
        EncodeKeyTable(table, image.data());
        sim::SetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane", u"klavorKeyTable", REG_BINARY, image);
    }

    // Runs WinMain until it returns (true) or the run ends (false).
    bool RunProgram(sim::Time limit) {
        sim::SetRunLimit(limit);
        WCHAR args[] = u"";
        try {
            exitCode = WinMain(sim::ProgramInstance(), nullptr, args, 5);
            return true;
        } catch (const sim::Halted&) {
            return false;
        }
    }

    HWND ProgramWindow() const { return FindWindowW(u"KlavorWndClass", u"Klavor Window"); }

    // Trace lines of these calls from the index of the first call named so.
    static std::vector<std::string> TraceFrom(const std::string& first, const std::vector<std::string>& names) {
        std::vector<std::string> out;
        bool on = false;
        for (const auto& c : sim::Trace()) {
            on = on || c.name == first;
            if (on && std::find(names.begin(), names.end(), c.name) != names.end()) out.push_back(c.Text());
        }
        return out;
    }

    static std::vector<sim::Event::Kind> EventKinds(std::initializer_list<sim::Event::Kind> wanted) {
        std::vector<sim::Event::Kind> out;
        for (const auto& e : sim::Events())
            if (std::find(wanted.begin(), wanted.end(), e.kind) != wanted.end()) out.push_back(e.kind);
        return out;
    }

    int exitCode = -1;
};

#endif
