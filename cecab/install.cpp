// Reading a Windows CE installation cabinet as its installer does, and
// telling what the installer will do with it.
#include "install.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <map>

#include "base/little_endian.h"

namespace cecab {

using base::LoadLe16;
using base::LoadLe32;

namespace {

std::string Plural(std::size_t n, const char* one) { return std::to_string(n) + " " + one + (n == 1 ? "" : "s"); }

std::string VersionText(std::uint32_t major, std::uint32_t minor) {
    return std::to_string(major) + "." + (minor < 10 ? "0" : "") + std::to_string(minor);
}


std::string Folder(const std::string& folder) {
    std::string expanded = CeExpandFolder(folder);
    return expanded == folder ? Shown(folder) : Shown(expanded) + " (" + Shown(folder) + ")";
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

std::string DescribeInstall(const InstallCabinet& cab, const std::string& file) {
    const CeSetup& s = cab.setup;
    std::string out = "# " + file + ": a Windows CE installation cabinet for \"" + Shown(s.appName) + "\" from \"" +
                      Shown(s.provider) + "\"\n";
    std::string needs = s.minVersionMajor || s.minVersionMinor ? "Windows CE " + VersionText(s.minVersionMajor, s.minVersionMinor) : "any Windows CE";
    if (s.maxVersionMajor || s.maxVersionMinor) needs += " to " + VersionText(s.maxVersionMajor, s.maxVersionMinor);
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
        std::string name = base::Lower(CePathText(s, l.name));
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
        if (n == kSetupMemberNumber) {
            out += "# " + Shown(m.name) + " is a setup program the installer runs\n";
            if (std::optional<std::string> problem = ExeProblem(m.data))
                out += "# warning: " + Shown(m.name) + " is " + *problem + "; the phones cannot run it\n";
        }
        else if (base::Lower(m.name) == "_setup.xml")
            out += "# " + Shown(m.name) + " is for the installers of Windows Mobile 5 and later; Windows Mobile 2003's "
                   "passes over it\n";
        else if (!used) out += "# " + Shown(m.name) + " is in the cabinet but not installed\n";
    }
    for (const CeFile& f : s.files) {
        std::string name = base::Lower(f.name);
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
    return out;
}

}  // namespace cecab
