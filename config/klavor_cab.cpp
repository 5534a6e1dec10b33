// Klavor's installation cabinet, and what `show` says of any cabinet.
#include "klavor_cab.h"

#include <algorithm>

namespace config {

using namespace cecab;

const char kCabAppName[] = "Klavor";
const char kCabProvider[] = "Klavor project";
const char kCabExeName[] = "klavor.exe";
const char kCabFolderName[] = "Klavor";
const char kCabShortcutName[] = "Klavor.lnk";

namespace {

// STRINGS, DIRS, FILES ... ids of Klavor's control file.
enum : std::uint16_t {
    kStrProgramFiles = 1,   // %CE1%
    kStrKlavor,             // the folder's name
    kStrStartUp,            // %CE4%
    kStrPrograms,           // %CE11%
    kStrShortcut,           // both shortcuts' name, a string of its own as real cabinets have it
    kStrFirstKeyComponent,  // SOFTWARE, Morvane ...
};
// The shortcuts' folders get entries too, as in every real cabinet.
enum : std::uint16_t { kDirInstall = 1, kDirStartUp = 2, kDirPrograms = 3 };
enum : std::uint16_t { kExeFileId = 1 };
constexpr std::uint16_t kStartUpFolder = 4;    // %CE4%, \Windows\StartUp
constexpr std::uint16_t kProgramsFolder = 11;  // %CE11%, \Windows\Start Menu\Programs
constexpr std::uint32_t kMinMajor = 4, kMinMinor = 20;  // Windows Mobile 2003
// "No upper limit" as real cabinets say it; none writes 0.0.
constexpr std::uint32_t kMaxMajor = 100, kMaxMinor = 0;

// The registry key's components below HKEY_LOCAL_MACHINE: SOFTWARE, Morvane.
std::vector<std::string> KlavorKeyComponents() {
    std::string key = RegistryKeyName();
    key.erase(0, key.find('\\') + 1);
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = key.find('\\', start);
        parts.push_back(key.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

}  // namespace

CeSetup KlavorSetup(const std::optional<Bytes>& value) {
    CeSetup s;  // the header's unknown words as the defaults say: 0, 0, 1, 0, 0
    s.appName = kCabAppName;
    s.provider = kCabProvider;
    s.processor = 0;  // one ARM build for every phone: no processor check
    s.minVersionMajor = kMinMajor;
    s.minVersionMinor = kMinMinor;
    s.maxVersionMajor = kMaxMajor;
    s.maxVersionMinor = kMaxMinor;

    s.strings = {{kStrProgramFiles, "%CE1%"},
                 {kStrKlavor, kCabFolderName},
                 {kStrStartUp, "%CE4%"},
                 {kStrPrograms, "%CE11%"},
                 {kStrShortcut, kCabShortcutName}};
    s.dirs = {{kDirInstall, {kStrProgramFiles, kStrKlavor}}, {kDirStartUp, {kStrStartUp}}, {kDirPrograms, {kStrPrograms}}};
    // Always overwrite: a new cabinet (say, with a new configuration) must
    // not ask about, or keep, the klavor.exe already there.
    s.files = {{kExeFileId, kDirInstall, kExeFileId, kCeFileAlwaysOverwrite, kCabExeName}};
    // One shortcut starts Klavor with the phone; the Start menu's starts it
    // at once after installing, and again after Exit.
    s.links = {{1, 0, kStartUpFolder, kExeFileId, kCeLinkToFile, {kStrShortcut}},
               {2, 0, kProgramsFolder, kExeFileId, kCeLinkToFile, {kStrShortcut}}};
    if (value) {
        CePath key;
        std::uint16_t id = kStrFirstKeyComponent;
        for (const std::string& part : KlavorKeyComponents()) {
            s.strings.push_back({id, part});
            key.push_back(id++);
        }
        s.hives = {{1, kCeRootLocalMachine, 0, key}};
        s.values = {{1, 1, 0, kCeRegBinary, RegistryValueName(), *value}};
    }
    return s;
}

std::optional<Bytes> BuildKlavorCabinet(const Bytes& exe, const std::optional<Bytes>& value, std::int64_t modified,
                                        std::string* error) {
    return BuildKlavorCabinet(exe, std::nullopt, value, modified, error);
}

std::optional<Bytes> BuildKlavorCabinet(const Bytes& exe, const std::optional<Bytes>& setupProgram,
                                        const std::optional<Bytes>& value, std::int64_t modified, std::string* error) {
    CeSetup setup = KlavorSetup(value);
    std::optional<Bytes> control = EncodeCeSetup(setup, error);
    if (!control) return std::nullopt;
    std::vector<CabMember> members = {{MemberName(setup.appName, 0), *control}};
    // The setup program right after the control file, as real cabinets
    // hold it; the control file names it nowhere.
    if (setupProgram) members.push_back({MemberName(setup.appName, kSetupMemberNumber), *setupProgram});
    std::vector<CeFile> files = setup.files;
    std::sort(files.begin(), files.end(), [](const CeFile& a, const CeFile& b) { return a.id > b.id; });
    for (const CeFile& f : files) {
        // Only klavor.exe so far; any other file would need its own data.
        if (f.id != kExeFileId) {
            if (error) *error = "no data for " + f.name;
            return std::nullopt;
        }
        members.push_back({MemberName(f.name, f.id), exe});
    }
    return WriteCabinet(members, modified, error);
}

const CeRegValue* FindKlavorValue(const CeSetup& setup) {
    std::vector<std::string> parts = KlavorKeyComponents();
    std::string key;
    for (const std::string& p : parts) key += (key.empty() ? "" : "\\") + base::Lower(p);
    const CeRegValue* found = nullptr;
    for (const CeRegValue& v : setup.values) {
        const CeHive* hive = FindHive(setup, v.hive);
        if (hive && hive->root == kCeRootLocalMachine && base::Lower(CePathText(setup, hive->key)) == key &&
            base::Lower(v.name) == base::Lower(RegistryValueName()))
            found = &v;
    }
    return found;
}

std::string DescribeInstallCabinet(const InstallCabinet& cab, const std::string& file) {
    const CeSetup& s = cab.setup;
    std::string out = DescribeInstall(cab, file);
    if (s.appName == kCabAppName && s.provider == kCabProvider)
        for (const CabMember& m : cab.members)
            if (MemberNumber(m.name) == kSetupMemberNumber)
                out += "# " + Shown(m.name) + ", Klavor's setup program, ends a running Klavor before anything is copied or "
                       "removed, and starts the new klavor.exe once everything is installed: no Exit, no reset\n";
    const CeRegValue* value = FindKlavorValue(s);
    if (!value) {
        return out + "# It sets no " + RegistryValueName() +
               " value: Klavor keeps the one the registry holds, or else its built-in configuration:\n" +
               FormatConfigText(DefaultTable());
    }
    if ((value->type & ~static_cast<std::uint32_t>(kCeRegNoClobber)) != kCeRegBinary)
        out += "# warning: " + RegistryValueName() + " is not binary; the installer converts it before Klavor reads it\n";
    if (value->type & kCeRegNoClobber)
        out += "# warning: " + RegistryValueName() + " is not written where the phone has one already\n";
    return out + DescribeValue(value->data, file + " " + RegistryValueName());
}

}  // namespace config
