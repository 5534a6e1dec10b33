// Klavor's installation cabinet for the phone: klavor.exe in
// \Program Files\Klavor, a shortcut to it in \Windows\StartUp so that it
// starts with the phone and one in the Start menu's Programs, and the
// configuration value; and what `klavorcfg show` says of any cabinet.
#ifndef KLAVOR_CONFIG_KLAVOR_CAB_H
#define KLAVOR_CONFIG_KLAVOR_CAB_H

#include <cstdint>
#include <optional>
#include <string>

#include "cecab/install.h"
#include "config_text.h"

namespace config {

extern const char kCabAppName[];       // "Klavor"
extern const char kCabProvider[];      // the maker, as the About box names it
extern const char kCabExeName[];       // "klavor.exe"
extern const char kCabFolderName[];    // "Klavor", in \Program Files
extern const char kCabShortcutName[];  // "Klavor.lnk", in \Windows\StartUp and the Start menu

// What the control file of Klavor's cabinet says: the value is written
// when `value` is given (whatever its length: the caller checks it).
cecab::CeSetup KlavorSetup(const std::optional<Bytes>& value);

// The whole cabinet: the control file first, then the files in descending
// order of their numbers, all dated `modified` (seconds since 1970-01-01
// 00:00 UTC, stored as that moment in UTC: see cecab::DosDateTimeUtc); no
// setup program.
std::optional<Bytes> BuildKlavorCabinet(const Bytes& exe, const std::optional<Bytes>& value, std::int64_t modified,
                                        std::string* error);
// The same with Klavor's setup program (klavor_setup.dll) as the member
// KLAVOR.999, right after the control file: the installer runs it to end a
// running Klavor before installing and to start the new one afterwards.
std::optional<Bytes> BuildKlavorCabinet(const Bytes& exe, const std::optional<Bytes>& setupProgram,
                                        const std::optional<Bytes>& value, std::int64_t modified, std::string* error);

// The entry that sets Klavor's configuration value, or null. If several
// do, the last, as the installer writes them in order.
const cecab::CeRegValue* FindKlavorValue(const cecab::CeSetup& setup);

// What `klavorcfg show` prints for a cabinet: what the installer will do,
// as '#' lines, then the configuration the value holds, so that the output
// is itself a configuration.
std::string DescribeInstallCabinet(const cecab::InstallCabinet& cab, const std::string& file);

}  // namespace config

#endif
