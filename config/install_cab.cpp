// Klavor's installation cabinet, and reading installation cabinets back.
#include "install_cab.h"
#include "little_endian.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <climits>
#include <map>

namespace config {

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

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

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

// A member's name: an 8.3 stem from the installed name and the file's number.
std::string MemberName(const std::string& installedName, std::uint16_t number) {
    std::string stem;
    for (char c : installedName.substr(0, installedName.find('.')))
        if (std::isalnum(static_cast<unsigned char>(c)) && stem.size() < 8)
            stem += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (stem.empty()) stem = "FILE";
    char ext[8];
    std::snprintf(ext, sizeof ext, ".%03u", static_cast<unsigned>(number));
    return stem + ext;
}

// The number a member's name ends in (".001" -> 1), or -1.
int MemberNumber(const std::string& name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot != 4) return -1;
    int n = 0;
    for (std::size_t i = dot + 1; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

std::string Plural(std::size_t n, const char* one) { return std::to_string(n) + " " + one + (n == 1 ? "" : "s"); }

std::string Version(std::uint32_t major, std::uint32_t minor) {
    return std::to_string(major) + "." + (minor < 10 ? "0" : "") + std::to_string(minor);
}

// A text from the cabinet, safe to print whatever it holds.
std::string Shown(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string Folder(const std::string& folder) {
    std::string expanded = CeExpandFolder(folder);
    return expanded == folder ? Shown(folder) : Shown(expanded) + " (" + Shown(folder) + ")";
}

const CeDir* FindDir(const CeSetup& s, std::uint16_t id) {
    for (const CeDir& d : s.dirs)
        if (d.id == id) return &d;
    return nullptr;
}
const CeFile* FindFile(const CeSetup& s, std::uint16_t id) {
    for (const CeFile& f : s.files)
        if (f.id == id) return &f;
    return nullptr;
}
const CeHive* FindHive(const CeSetup& s, std::uint16_t id) {
    for (const CeHive& h : s.hives)
        if (h.id == id) return &h;
    return nullptr;
}

std::string FileFlags(std::uint32_t flags) {
    static const struct {
        std::uint32_t bit;
        const char* text;
    } kFlags[] = {
        {kCeFileWarnIfSkipped, "warns if skipped"},     {kCeFileNoSkip, "cannot be skipped"},
        {kCeFileNoOverwrite, "never overwrites"},       {kCeFileReplaceOnly, "only replaces an existing file"},
        {kCeFileSelfRegister, "self-registers"},         {kCeFileSkipIfNewer, "skipped if the phone's is newer"},
        {kCeFileAlwaysOverwrite, "always overwrites"},  {kCeFileShared, "shared"},
    };
    std::string out;
    std::uint32_t rest = flags;
    for (const auto& f : kFlags) {
        if (!(flags & f.bit)) continue;
        out += std::string(out.empty() ? "" : ", ") + f.text;
        rest &= ~f.bit;
    }
    if (rest) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%sflags 0x%08X", out.empty() ? "" : ", ", static_cast<unsigned>(rest));
        out += buf;
    }
    return out.empty() ? "asks before overwriting" : out;
}

std::string ValueText(const CeRegValue& v) {
    std::uint32_t type = v.type & ~static_cast<std::uint32_t>(kCeRegNoClobber);
    std::string name = v.name.empty() ? "the default value" : "\"" + Shown(v.name) + "\"";
    std::string out = name + " = ";
    const Bytes& d = v.data;
    switch (type) {
    case kCeRegString:
        out += "string \"" + Shown(std::string(d.begin(), std::find(d.begin(), d.end(), 0))) + "\"";
        break;
    case kCeRegMultiString: {
        out += "multi-string";
        std::string current;
        for (std::size_t i = 0; i + 1 < d.size(); ++i) {
            if (d[i]) {
                current += static_cast<char>(d[i]);
            } else {
                out += " \"" + Shown(current) + "\"";
                current.clear();
            }
        }
        break;
    }
    case kCeRegDword: {
        std::uint32_t n = LoadLe32(d.data());
        char buf[32];
        std::snprintf(buf, sizeof buf, "dword 0x%08X", static_cast<unsigned>(n));
        out += buf;
        break;
    }
    default:
        out += "binary, " + Plural(d.size(), "byte");
        break;
    }
    if (v.type & kCeRegNoClobber) out += ", unless it exists already";
    if (v.expand) out += ", with %CEn% in it expanded";
    return out;
}


std::string MachineName(std::uint32_t machine) {
    switch (machine) {
    case 0x014C: return "x86";
    case 0x8664: return "x86-64";
    case 0x01C4: return "ARMv7 Thumb-2, which these phones' processors lack";
    case 0xAA64: return "ARM64";
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "machine 0x%04X", static_cast<unsigned>(machine));
    return buf;
}

// A .NET assembly carries a CLR header (data directory 14). Its machine
// field says i386 whatever it runs on: it is not native code.
bool IsDotNetAssembly(const Bytes& exe) {
    if (exe.size() < 0x40 || exe[0] != 'M' || exe[1] != 'Z') return false;
    std::uint32_t pe = LoadLe32(exe.data() + 0x3C);
    if (pe > exe.size() || exe.size() - pe < 24 + 2 || LoadLe32(exe.data() + pe) != 0x00004550) return false;
    const std::size_t optional = pe + 24;
    const std::uint16_t magic = LoadLe16(exe.data() + optional);
    const std::size_t countAt = optional + (magic == 0x20B ? 108 : 92), directories = countAt + 4;
    if (magic != 0x10B && magic != 0x20B) return false;
    if (exe.size() < directories + 15 * 8 || LoadLe32(exe.data() + countAt) < 15) return false;
    return LoadLe32(exe.data() + directories + 14 * 8) != 0 && LoadLe32(exe.data() + directories + 14 * 8 + 4) != 0;
}

}  // namespace

std::optional<std::string> ExeProblem(const Bytes& exe) {
    constexpr std::uint32_t kArm = 0x01C0, kThumb = 0x01C2, kCeGui = 9;
    if (exe.size() < 0x40 || exe[0] != 'M' || exe[1] != 'Z') return std::string("not a Windows program (no MZ header)");
    std::uint32_t pe = LoadLe32(exe.data() + 0x3C);
    // The optional header's subsystem word is at the same place in PE32 and PE32+.
    const std::uint32_t subsystemAt = 24 + 68;
    if (pe > exe.size() || exe.size() - pe < subsystemAt + 2 || LoadLe32(exe.data() + pe) != 0x00004550)  // "PE\0\0"
        return std::string("not a Windows program (no PE header)");
    std::uint32_t machine = LoadLe16(exe.data() + pe + 4), subsystem = LoadLe16(exe.data() + pe + subsystemAt);
    if (machine != kArm && machine != kThumb) return "a program for " + MachineName(machine) + ", not ARM";
    if (subsystem != kCeGui)
        return "an ARM program, but not for Windows CE (subsystem " + std::to_string(subsystem) + ", not 9)";
    return std::nullopt;
}

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
    CeSetup setup = KlavorSetup(value);
    std::optional<Bytes> control = EncodeCeSetup(setup, error);
    if (!control) return std::nullopt;
    std::vector<CabMember> members = {{MemberName(setup.appName, 0), *control}};
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

std::optional<InstallCabinet> ReadInstallCabinet(const Bytes& content, const std::string& file, std::string* error) {
    std::optional<Cabinet> container = ReadCabinet(content, file, error);
    if (!container) return std::nullopt;
    std::vector<CabMember>* members = &container->members;
    auto fail = [&](const std::string& message) -> std::optional<InstallCabinet> {
        if (error) *error = file + ": " + message;
        return std::nullopt;
    };
    InstallCabinet cab;
    std::map<int, std::string> numbered;
    for (const CabMember& m : *members) {
        int n = MemberNumber(m.name);
        if (n < 0) continue;
        auto it = numbered.find(n);
        if (it != numbered.end()) return fail("members " + Shown(it->second) + " and " + Shown(m.name) + " have the same number");
        numbered[n] = m.name;
    }
    auto setupMember = std::find_if(members->begin(), members->end(), [](const CabMember& m) { return MemberNumber(m.name) == 0; });
    if (setupMember == members->end()) return fail("no .000 member: not a Windows CE installation cabinet");
    std::optional<CeSetup> setup = DecodeCeSetup(setupMember->data, file + ": " + Shown(setupMember->name), error);
    if (!setup) return std::nullopt;
    cab.setupMember = setupMember->name;
    cab.setup = *setup;
    cab.members = std::move(*members);
    container->members.clear();
    cab.layout = std::move(*container);
    for (const CeFile& f : cab.setup.files)
        if (!FindMember(cab, f.id))
            return fail(Shown(cab.setupMember) + " installs " + Shown(f.name) + " from member number " + std::to_string(f.id) +
                        ", which the cabinet does not hold");
    return cab;
}

const CabMember* FindMember(const InstallCabinet& cab, std::uint16_t fileId) {
    for (const CabMember& m : cab.members)
        if (MemberNumber(m.name) == fileId) return &m;
    return nullptr;
}

const CeRegValue* FindKlavorValue(const CeSetup& setup) {
    std::vector<std::string> parts = KlavorKeyComponents();
    std::string key;
    for (const std::string& p : parts) key += (key.empty() ? "" : "\\") + Lower(p);
    const CeRegValue* found = nullptr;
    for (const CeRegValue& v : setup.values) {
        const CeHive* hive = FindHive(setup, v.hive);
        if (hive && hive->root == kCeRootLocalMachine && Lower(CePathText(setup, hive->key)) == key &&
            Lower(v.name) == Lower(RegistryValueName()))
            found = &v;
    }
    return found;
}

std::string DescribeInstallCabinet(const InstallCabinet& cab, const std::string& file) {
    const CeSetup& s = cab.setup;
    std::string out = "# " + file + ": a Windows CE installation cabinet for \"" + Shown(s.appName) + "\" from \"" +
                      Shown(s.provider) + "\"\n";
    std::string needs = s.minVersionMajor || s.minVersionMinor ? "Windows CE " + Version(s.minVersionMajor, s.minVersionMinor) : "any Windows CE";
    if (s.maxVersionMajor || s.maxVersionMinor) needs += " to " + Version(s.maxVersionMajor, s.maxVersionMinor);
    else if (s.minVersionMajor || s.minVersionMinor) needs += " or later";
    out += "# for " + needs + ", " + CeProcessorName(s.processor) + "\n";
    if (!s.unsupported.empty()) {
        out += "# not for:";
        for (const std::string& p : s.unsupported) out += " \"" + Shown(p) + "\"";
        out += "\n";
    }

    out += "# The installer will:\n";
    for (const CeDir& d : s.dirs) out += "#   make the folder " + Folder(CePathText(s, d.path)) + "\n";
    for (const CeFile& f : s.files) {
        const CeDir* dir = FindDir(s, f.dir);
        const CabMember* m = FindMember(cab, f.id);
        out += "#   copy " + Shown(f.name) + " (" + Shown(m->name) + ", " + Plural(m->data.size(), "byte") + ") into " +
               Folder(CePathText(s, dir->path)) + "; " + FileFlags(f.flags) + "\n";
    }
    for (const CeLink& l : s.links) {
        std::string target;
        if (l.type == kCeLinkToFile) {
            const CeFile* f = FindFile(s, l.target);
            std::string folder = CePathText(s, FindDir(s, f->dir)->path);
            target = Shown(CeExpandFolder(folder)) + "\\" + Shown(f->name);
        } else {
            target = l.target ? Folder(CePathText(s, FindDir(s, l.target)->path)) : "the installation folder";
        }
        out += "#   make the shortcut " + Shown(CePathText(s, l.name)) + " in " + Folder(CeFolderMacroText(l.folder)) + " to " +
               target + "\n";
    }
    for (const CeLink& l : s.links) {
        std::string name = Lower(CePathText(s, l.name));
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".lnk") != 0)
            out += "# warning: the shortcut " + Shown(CePathText(s, l.name)) + " has no .lnk: the installer makes a file of "
                   "that name, which the phone does not take for a shortcut\n";
    }
    for (const CeRegValue& v : s.values) {
        const CeHive* h = FindHive(s, v.hive);
        std::string key = CePathText(s, h->key);
        out += "#   set " + CeRootName(h->root) + (key.empty() ? "" : "\\" + Shown(key)) + " " + ValueText(v) + "\n";
    }
    if (s.dirs.empty() && s.files.empty() && s.links.empty() && s.values.empty()) out += "#   nothing\n";

    // The members the installer takes no notice of, and their order.
    for (const CabMember& m : cab.members) {
        int n = MemberNumber(m.name);
        if (n == 0) continue;
        bool used = n > 0 && std::any_of(s.files.begin(), s.files.end(), [n](const CeFile& f) { return f.id == n; });
        if (n == 999) out += "# " + Shown(m.name) + " is a setup program the installer runs\n";
        else if (Lower(m.name) == "_setup.xml")
            out += "# " + Shown(m.name) + " is for the installers of Windows Mobile 5 and later; Windows Mobile 2003's "
                   "passes over it\n";
        else if (!used) out += "# " + Shown(m.name) + " is in the cabinet but not installed\n";
    }
    for (const CeFile& f : s.files) {
        std::string name = Lower(f.name);
        if (name.size() < 4 || (name.compare(name.size() - 4, 4, ".exe") && name.compare(name.size() - 4, 4, ".dll")))
            continue;
        const Bytes& data = FindMember(cab, f.id)->data;
        if (IsDotNetAssembly(data)) {
            out += "# " + Shown(f.name) + " is a .NET Compact Framework assembly, not native code: the phone runs it only "
                   "with the .NET Compact Framework installed\n";
            continue;
        }
        std::optional<std::string> problem = ExeProblem(data);
        if (problem) out += "# warning: " + Shown(f.name) + " is " + *problem + "; the phones cannot run it\n";
    }
    bool ordered = MemberNumber(cab.members[0].name) == 0;
    int previous = INT_MAX;
    for (std::size_t i = 1; ordered && i < cab.members.size(); ++i) {
        int n = MemberNumber(cab.members[i].name);
        if (n < 0) continue;  // _setup.xml and the like: no number to go by
        ordered = n < previous;
        previous = n;
    }
    if (!ordered) out += "# warning: the members are not in the order the installer expects (.000 first, then descending)\n";

    // The container, where it is not the plain one klavorcfg writes.
    const Cabinet& c = cab.layout;
    std::size_t compressed = static_cast<std::size_t>(std::count(c.folders.begin(), c.folders.end(), kCabMszip));
    if (c.folders.size() > 1 || c.headerReserve || c.folderReserve || c.dataReserve) {
        out += "# the cabinet has " + Plural(c.folders.size(), "folder");
        if (c.headerReserve || c.folderReserve || c.dataReserve)
            out += " and reserved areas (" + Plural(c.headerReserve, "byte") + " in the header, " + std::to_string(c.folderReserve) +
                   " per folder, " + std::to_string(c.dataReserve) + " per data block), which the installer passes over";
        out += "\n";
    }
    if (compressed) {
        std::string which = compressed == c.folders.size()
                                ? std::string("the cabinet is")
                                : Plural(compressed, "folder") + " of " + std::to_string(c.folders.size()) +
                                      (compressed == 1 ? " is" : " are");
        out += "# warning: " + which + " compressed (MSZIP); Pocket PC 2003 does not take compressed cabinets, says Visual "
               "Studio 2008's documentation\n";
    }

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
