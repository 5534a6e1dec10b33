// The cabinet's setup program (setup/) on the simulated phone: the calls it
// makes, in order, for each way the installer can find the phone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/phone.h"
#include "setup/klavor_setup.h"

namespace {

using Lines = std::vector<std::string>;

const std::vector<std::string> kCalls = {"FindWindowW", "PostMessageW", "Sleep", "CreateProcessW", "CloseHandle"};

class SetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetTracing(true);
    }

    // A running Klavor, as another process of the phone; it ends at `endsAt`
    // (virtual ms), or never.
    static HWND KlavorRunning(sim::Time endsAt) {
        sim::Pid klavor = sim::StartProcess("klavor");
        HWND window = sim::CreateWindowFor(klavor, u"KlavorWndClass", u"Klavor Window");
        if (endsAt != 0) sim::At(endsAt, [klavor] { sim::EndProcess(klavor); });
        return window;
    }

    // How the phone fares at starting a file.
    static void StarterThatStarts(bool starts) {
        sim::SetProgramStarter([starts](const std::u16string&, const std::u16string&, DWORD* error) {
            if (!starts) *error = ERROR_FILE_NOT_FOUND;
            return starts;
        });
    }
};

// Install_Init and Uninstall_Init close a running Klavor the same way: a
// WM_CLOSE, then a look every quarter second for five seconds at most, and
// never a cancel.
TEST_F(SetupTest, ClosingKlavorWaitsBoundedAndNeverCancels) {
    const std::string window = "0x10000";
    const std::string find = "FindWindowW(\"KlavorWndClass\", \"Klavor Window\") -> ";
    const std::string sleep = "Sleep(250)";
    Lines goesAfter600 = {find + window, "PostMessageW(" + window + ", 0x10, 0, 0) -> TRUE",
                          sleep, find + window, sleep, find + window, sleep, find + "NULL"};
    Lines neverGoes = {find + window, "PostMessageW(" + window + ", 0x10, 0, 0) -> TRUE"};
    for (int i = 0; i < 20; ++i) neverGoes.insert(neverGoes.end(), {sleep, find + window});

    struct Case {
        const char* name;
        bool running;
        sim::Time endsAt;  // 0: never
        Lines calls;
        sim::Time elapsed;
    } cases[] = {
        {"no Klavor", false, 0, {find + "NULL"}, 0},
        {"Klavor ends after 600 ms", true, 600, goesAfter600, 750},
        {"Klavor never ends", true, 0, neverGoes, 5000},
    };
    for (const Case& c : cases) {
        for (bool uninstall : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (uninstall ? ", Uninstall_Init" : ", Install_Init"));
            SetUp();
            if (c.running) KlavorRunning(c.endsAt);
            sim::ClearTrace();
            int result = uninstall ? int{Uninstall_Init(nullptr, u"\\Program Files\\Klavor")}
                                   : int{Install_Init(nullptr, TRUE, FALSE, u"\\Program Files\\Klavor")};
            EXPECT_EQ(result, 0) << "a cancel";
            EXPECT_EQ(sim::TraceOf(kCalls), c.calls);
            EXPECT_EQ(sim::Now(), c.elapsed);
        }
    }
}

// Install_Exit starts the installed klavor.exe only when everything went
// in, with only the arguments Windows CE 4.20 takes, and closes both
// handles; the other calls do nothing at all.
TEST_F(SetupTest, InstallExitStartsKlavorOnlyAfterACompleteInstallation) {
    const auto tried = [](const std::string& path, const std::string& result) {
        return "CreateProcessW(\"" + path + "\", NULL, NULL, NULL, 0, 0x0, NULL, NULL, NULL, information) -> " + result;
    };
    const auto startsIt = [&](const std::string& path) {
        return Lines{tried(path, "TRUE"), "CloseHandle(0x60001) -> TRUE", "CloseHandle(0x60000) -> TRUE"};
    };
    const std::string card = "\\Storage Card\\Program Files\\Klavor";
    const std::u16string cardDir = u"\\Storage Card\\Program Files\\Klavor";
    // "\klavor.exe" is 11 characters: a folder of 248 makes 259, the most
    // the phone takes; one more and nothing is tried.
    const std::u16string longest(248, u'a'), tooLong(249, u'a');

    struct Case {
        const char* name;
        const char16_t* dir;
        WORD failed[5];
        bool starts;
        Lines calls;
    } cases[] = {
        {"all went in", cardDir.c_str(), {0, 0, 0, 0, 0}, true, startsIt(card + "\\klavor.exe")},
        {"a folder failed", cardDir.c_str(), {1, 0, 0, 0, 0}, true, {}},
        {"a file failed", cardDir.c_str(), {0, 1, 0, 0, 0}, true, {}},
        {"a registry key failed", cardDir.c_str(), {0, 0, 1, 0, 0}, true, {}},
        {"a registry value failed", cardDir.c_str(), {0, 0, 0, 1, 0}, true, {}},
        {"a shortcut failed", cardDir.c_str(), {0, 0, 0, 0, 1}, true, {}},
        {"the phone cannot start it", cardDir.c_str(), {0, 0, 0, 0, 0}, false,
         {tried(card + "\\klavor.exe", "FALSE, error 2")}},
        {"no folder", nullptr, {0, 0, 0, 0, 0}, true, {}},
        {"259 characters", longest.c_str(), {0, 0, 0, 0, 0}, true, startsIt(std::string(248, 'a') + "\\klavor.exe")},
        {"260 characters", tooLong.c_str(), {0, 0, 0, 0, 0}, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        StarterThatStarts(c.starts);
        int result = Install_Exit(nullptr, c.dir, c.failed[0], c.failed[1], c.failed[2], c.failed[3], c.failed[4]);
        EXPECT_EQ(result, 0) << "an uninstall";
        EXPECT_EQ(sim::TraceOf(kCalls), c.calls);
    }

    SetUp();
    KlavorRunning(0);
    sim::ClearTrace();
    EXPECT_EQ(Uninstall_Exit(nullptr), 0);
    EXPECT_TRUE(sim::TraceOf().empty()) << "Uninstall_Exit made calls";
}

}  // namespace
