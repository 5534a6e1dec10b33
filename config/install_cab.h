// Klavor's installation cabinet for the phone: klavor.exe in
// \Program Files\Klavor, a shortcut to it in \Windows\StartUp so that it
// starts with the phone and one in the Start menu's Programs, and the
// configuration value; and reading any Windows CE installation cabinet
// back as what its installer will do.
#ifndef KLAVOR_CONFIG_INSTALL_CAB_H
#define KLAVOR_CONFIG_INSTALL_CAB_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cabinet.h"
#include "ce_setup.h"

namespace config {

extern const char kCabAppName[];       // "Klavor"
extern const char kCabProvider[];      // the maker, as the About box names it
extern const char kCabExeName[];       // "klavor.exe"
extern const char kCabFolderName[];    // "Klavor", in \Program Files
extern const char kCabShortcutName[];  // "Klavor.lnk", in \Windows\StartUp and the Start menu

// What the control file of Klavor's cabinet says: the value is written
// when `value` is given (whatever its length: the caller checks it).
CeSetup KlavorSetup(const std::optional<Bytes>& value);

// Why the phones cannot run this program, or nullopt when it is an ARM
// Windows CE program (a PE image for ARM or Thumb with the CE subsystem).
std::optional<std::string> ExeProblem(const Bytes& exe);

// The whole cabinet: the control file first, then the files in descending
// order of their numbers, all dated `modified` (seconds since 1970-01-01
// 00:00 UTC, stored as that moment in UTC: see DosDateTimeUtc).
std::optional<Bytes> BuildKlavorCabinet(const Bytes& exe, const std::optional<Bytes>& value, std::int64_t modified,
                                        std::string* error);

struct InstallCabinet {
    std::string setupMember;  // the .000 member's name
    CeSetup setup;
    std::vector<CabMember> members;  // all of them, in the cabinet's order
    Cabinet layout;                   // the container's folders and reserves (its members moved out)
};

// A cabinet checked as an installation: one .000 member that reads as a
// control file, and a member for every file it installs. Errors are
// "file: what is wrong".
std::optional<InstallCabinet> ReadInstallCabinet(const Bytes& content, const std::string& file, std::string* error);

// The member holding a FILES entry's data, or null.
const CabMember* FindMember(const InstallCabinet& cab, std::uint16_t fileId);

// The entry that sets Klavor's configuration value, or null. If several
// do, the last, as the installer writes them in order.
const CeRegValue* FindKlavorValue(const CeSetup& setup);

// What `klavorcfg show` prints for a cabinet: what the installer will do,
// as '#' lines, then the configuration the value holds, so that the output
// is itself a configuration.
std::string DescribeInstallCabinet(const InstallCabinet& cab, const std::string& file);

}  // namespace config

#endif
