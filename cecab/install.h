// A Windows CE installation cabinet as the phone's installer (wceload)
// reads it: the container's members, the control file (the member whose
// name ends in .000) that says what to do with them, and what the
// installer will do, told in words. It knows no particular application.
#ifndef KLAVOR_CECAB_INSTALL_H
#define KLAVOR_CECAB_INSTALL_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cabinet.h"
#include "ce_setup.h"

namespace cecab {

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

// A member's name as the installer's tools make it: an 8.3 stem from the
// installed file's name and the file's number ("KLAVOR.001"); and the
// number a name ends in (".001" -> 1), or -1 for none.
// The member number of a setup program: the installer loads it and calls
// it around installing and removing.
constexpr std::uint16_t kSetupMemberNumber = 999;
std::string MemberName(const std::string& installedName, std::uint16_t number);
int MemberNumber(const std::string& name);

// A text from a cabinet, safe to print whatever it holds: other bytes
// than printable ASCII as \xNN.
std::string Shown(const std::string& s);

// Why the phones cannot run this program, or nullopt when it is an ARM
// Windows CE program (a PE image for ARM or Thumb with the CE subsystem).
std::optional<std::string> ExeProblem(const Bytes& exe);

// What the installer will do with the cabinet, as '#' lines: the phones
// it is for, the folders, files, shortcuts and registry values, the
// members it passes over, and what of the container the phones may not
// take.
std::string DescribeInstall(const InstallCabinet& cab, const std::string& file);

}  // namespace cecab

#endif
