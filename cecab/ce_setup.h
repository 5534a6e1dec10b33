// The control file of a Windows CE installation cabinet: the member whose
// name ends in ".000", which tells the phone's installer (wceload) what to
// do with the other members.
//
// Layout: a 100-byte header, then the application and provider names and
// six sections of entries (STRINGS, DIRS, FILES, REGHIVES, REGKEYS, LINKS),
// each found through its offset and count in the header. Integers are
// little-endian, strings 8-bit and NUL-terminated (some builders pad them
// with more NULs, counted in their length), and there is no padding
// inside a section. Paths (folders, registry keys, shortcut names) are
// lists of STRINGS ids, one path component each, ended by a 0 id (a
// shortcut's name, in real cabinets, by its length alone); the first
// component of a folder may be a macro such as "%CE1%" (\Program Files on
// a Pocket PC).
//
// The header words and entry fields whose meaning nobody has documented are
// kept as numbers here, so that a control file read back shows what it holds
// and one written gets the values the installer's own tools write.
#ifndef KLAVOR_CECAB_CE_SETUP_H
#define KLAVOR_CECAB_CE_SETUP_H

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "base/text.h"

namespace cecab {

using base::Bytes;

constexpr std::size_t kCeHeaderBytes = 100;
constexpr std::uint16_t kCeMaxFileId = 998;  // .999 is the setup DLL, .000 this file
constexpr std::uint16_t kCeMaxFolderMacro = 17;  // %CE1% .. %CE17%

// REGHIVES roots.
enum : std::uint16_t { kCeRootClassesRoot = 1, kCeRootCurrentUser = 2, kCeRootLocalMachine = 3, kCeRootUsers = 4 };

// REGKEYS type words, and the flag that keeps an existing value.
enum : std::uint32_t {
    kCeRegString = 0x00000000,
    kCeRegBinary = 0x00000001,
    kCeRegNoClobber = 0x00000002,
    kCeRegMultiString = 0x00010000,
    kCeRegDword = 0x00010001,
};

// FILES flags.
enum : std::uint32_t {
    kCeFileWarnIfSkipped = 0x00000001,
    kCeFileNoSkip = 0x00000002,
    kCeFileNoOverwrite = 0x00000010,
    kCeFileReplaceOnly = 0x00000400,
    kCeFileSelfRegister = 0x10000000,
    kCeFileSkipIfNewer = 0x20000000,
    kCeFileAlwaysOverwrite = 0x40000000,
    kCeFileShared = 0x80000000,
};

// LINKS type: what the shortcut points at.
enum : std::uint16_t { kCeLinkToFolder = 0, kCeLinkToFile = 1 };

using CePath = std::vector<std::uint16_t>;  // STRINGS ids, without the terminating 0

struct CeString {
    std::uint16_t id = 0;
    std::string text;
};
struct CeDir {
    std::uint16_t id = 0;
    CePath path;
};
struct CeFile {
    std::uint16_t id = 0;       // the member's numeric extension
    std::uint16_t dir = 0;      // DIRS id to install into
    std::uint16_t unknown = 0;  // normally equal to id
    std::uint32_t flags = 0;
    std::string name;  // the installed file's name, no path
};
struct CeHive {
    std::uint16_t id = 0;
    std::uint16_t root = 0;
    std::uint16_t unknown = 0;  // normally 0
    CePath key;
};
struct CeRegValue {
    std::uint16_t id = 0;
    std::uint16_t hive = 0;    // REGHIVES id
    std::uint16_t expand = 0;  // 1: the installer expands %CEn% in the data
    std::uint32_t type = 0;    // kCeReg* type, or'ed with kCeRegNoClobber
    std::string name;          // empty for the key's default value
    Bytes data;
};
struct CeLink {
    std::uint16_t id = 0;
    std::uint16_t unknown = 0;  // normally 0
    std::uint16_t folder = 0;   // where the shortcut goes: 0 the install folder, n %CEn%
    std::uint16_t target = 0;   // FILES id, or DIRS id (0 the install folder)
    std::uint16_t type = 0;     // kCeLinkToFile or kCeLinkToFolder
    CePath name;                // the shortcut's file name, ".lnk" included: the installer adds none
};

struct CeSetup {
    // Header words of unknown meaning, as Microsoft's tools write them.
    std::uint32_t unknown4 = 0, unknown12 = 0, unknown16 = 1;
    std::uint16_t unknown96 = 0, unknown98 = 0;

    std::uint32_t processor = 0;  // SYSTEM_INFO.dwProcessorType the device must report; 0 = any
    std::uint32_t minVersionMajor = 0, minVersionMinor = 0;  // Windows CE version; 0 = no limit
    std::uint32_t maxVersionMajor = 0, maxVersionMinor = 0;
    std::uint32_t minBuild = 0, maxBuild = 0;

    std::string appName;   // the product
    std::string provider;  // the publisher; with appName it names the uninstall record
    std::vector<std::string> unsupported;  // platform names the cabinet refuses

    std::vector<CeString> strings;
    std::vector<CeDir> dirs;
    std::vector<CeFile> files;
    std::vector<CeHive> hives;
    std::vector<CeRegValue> values;
    std::vector<CeLink> links;
};

inline bool operator==(const CeString& a, const CeString& b) { return std::tie(a.id, a.text) == std::tie(b.id, b.text); }
inline bool operator==(const CeDir& a, const CeDir& b) { return std::tie(a.id, a.path) == std::tie(b.id, b.path); }
inline bool operator==(const CeFile& a, const CeFile& b) {
    return std::tie(a.id, a.dir, a.unknown, a.flags, a.name) == std::tie(b.id, b.dir, b.unknown, b.flags, b.name);
}
inline bool operator==(const CeHive& a, const CeHive& b) {
    return std::tie(a.id, a.root, a.unknown, a.key) == std::tie(b.id, b.root, b.unknown, b.key);
}
inline bool operator==(const CeRegValue& a, const CeRegValue& b) {
    return std::tie(a.id, a.hive, a.expand, a.type, a.name, a.data) ==
           std::tie(b.id, b.hive, b.expand, b.type, b.name, b.data);
}
inline bool operator==(const CeLink& a, const CeLink& b) {
    return std::tie(a.id, a.unknown, a.folder, a.target, a.type, a.name) ==
           std::tie(b.id, b.unknown, b.folder, b.target, b.type, b.name);
}
bool operator==(const CeSetup& a, const CeSetup& b);
inline bool operator!=(const CeSetup& a, const CeSetup& b) { return !(a == b); }

// The control file's bytes: header, names, the UNSUPPORTED list, then the
// sections in the order above, one right after the other; a shortcut's
// name with no 0 id after it. nullopt, with `error` set, when something
// does not fit the format's 16-bit fields or would not read back (what
// DecodeCeSetup refuses).
std::optional<Bytes> EncodeCeSetup(const CeSetup& setup, std::string* error);

// Reads a control file, checking every offset, count and length against
// the data and every id against the section it refers to. Takes strings
// padded with NULs, and paths with or without their 0 id. `where` names
// the file in errors: "where: what is wrong".
std::optional<CeSetup> DecodeCeSetup(const Bytes& data, const std::string& where, std::string* error);

// ---- Finding entries by id -------------------------------------------------

// The entry with this id, or null.
const CeDir* FindDir(const CeSetup& setup, std::uint16_t id);
const CeFile* FindFile(const CeSetup& setup, std::uint16_t id);
const CeHive* FindHive(const CeSetup& setup, std::uint16_t id);

// ---- Reading the entries as paths ---------------------------------------

// A path's components joined with '\': "%CE1%\Klavor". Ids are assumed to
// be checked (DecodeCeSetup does); an unknown one shows as "?".
std::string CePathText(const CeSetup& setup, const CePath& path);
// A folder with a leading %CEn% macro replaced by the Pocket PC folder it
// stands for: "%CE1%\Klavor" -> "\Program Files\Klavor". Macros with no
// Pocket PC folder stay as they are.
std::string CeExpandFolder(const std::string& folder);
// "%CEn%" for 1..17, "the installation folder" for 0.
std::string CeFolderMacroText(std::uint16_t folder);
// HKEY_LOCAL_MACHINE and so on; "root N" for others.
std::string CeRootName(std::uint16_t root);
// A processor type as the devices report it: "ARM720", "StrongARM" ...
std::string CeProcessorName(std::uint32_t processor);

}  // namespace cecab

#endif
