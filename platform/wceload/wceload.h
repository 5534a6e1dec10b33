// The phone's installer (wceload) on the simulated phone: it does what a
// cabinet's control file says, and nothing it does not say.
#ifndef KLAVOR_WCELOAD_WCELOAD_H
#define KLAVOR_WCELOAD_WCELOAD_H

#include <string>

#include "cecab/install.h"

namespace wceload {

// The Windows CE version the simulated phone reports: Windows Mobile 2003.
constexpr unsigned kPhoneVersionMajor = 4, kPhoneVersionMinor = 20;

// Installs the cabinet on the phone as it stands: the version check, then
// the folders, the files with their bytes, the registry values and the
// shortcuts. Nothing is installed when the phone's version is outside the
// cabinet's or a file it replaces is the running program's (in use). The
// result is the timeline's note: what was done, one line each.
std::string Install(const cecab::InstallCabinet& cab, const std::string& name);

}  // namespace wceload

#endif
