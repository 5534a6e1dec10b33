// The phone's installer (wceload) on the simulated phone: it does what a
// cabinet's control file says, and nothing it does not say; it runs the
// cabinet's setup program (its .999 member) around installing, and keeps
// what each installation made, so that Remove Programs can take it away.
#ifndef KLAVOR_WCELOAD_WCELOAD_H
#define KLAVOR_WCELOAD_WCELOAD_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cecab/install.h"

namespace wceload {

// The Windows CE version the simulated phone reports: Windows Mobile 2003.
constexpr unsigned kPhoneVersionMajor = 4, kPhoneVersionMinor = 20;

// A setup program's four calls, as the installer finds them by name. Each
// returns 0 to go on: Install_Init 1 cancels the installation, Install_Exit
// 1 asks for it to be removed again, Uninstall_Init 1 cancels the removal.
struct SetupProgram {
    std::function<int(HWND parent, BOOL firstCall, BOOL previouslyInstalled, LPCWSTR installDir)> installInit;
    std::function<int(HWND parent, LPCWSTR installDir, WORD failedDirs, WORD failedFiles, WORD failedRegKeys,
                      WORD failedRegVals, WORD failedShortcuts)>
        installExit;
    std::function<int(HWND parent, LPCWSTR installDir)> uninstallInit;
    std::function<int(HWND parent)> uninstallExit;
};
// How the phone runs a setup program's bytes: the calls, or nullopt and why
// it cannot.
using SetupLoader = std::function<std::optional<SetupProgram>(const std::vector<std::uint8_t>& dll,
                                                              const std::string& name, std::string* why)>;

// A cabinet's setup program, loaded: its member's name and its calls.
struct LoadedSetup {
    std::string member;
    SetupProgram calls;
};

// What one installation made, kept for its removal (wceload.cpp).
struct Installation;

class Installer {
public:
    // Without a loader, setup programs are not run (and said so).
    explicit Installer(SetupLoader loader = nullptr);

    // Installs the cabinet as it stands: the version check; the setup
    // program's Install_Init; then, unless a file it replaces is in use by
    // a running process (nothing is installed then), the folders, the files
    // with their bytes, the registry values and the shortcuts; then its
    // Install_Exit with what failed. With a setup program the installer
    // runs as a process of its own (a thread of the phone), so that the
    // phone goes on while the setup program waits. Told in notes as it goes.
    void Install(std::shared_ptr<const cecab::InstallCabinet> cab, const std::string& name);

    // Remove Programs for an installation ("Klavor project Klavor": its
    // provider and name): the setup program's Uninstall_Init, then
    // everything the installation made (shortcuts, files, registry values,
    // the folders it made), unless a file is in use (nothing is removed
    // then), then its Uninstall_Exit.
    void Remove(const std::string& application);

private:
    void Installing(const cecab::InstallCabinet& cab, const std::string& name, const std::optional<LoadedSetup>& setup,
                    std::string note);
    // Removes what the installation made; the note's lines.
    std::string Removing(const std::string& application);

    SetupLoader loader_;
    std::map<std::string, std::shared_ptr<Installation>> installed_;  // by the lower-case application name
};

}  // namespace wceload

#endif
