#include "wceload.h"

#include <algorithm>

#include "platform/sim/phone.h"

namespace wceload {
namespace {

using cecab::CeSetup;

const char kIndent[] = "\n              | ";

// The control file's 8-bit text as the phone's Unicode: the installer
// converts it with the phone's code page, Latin-1 here.
std::u16string Wide(const std::string& s) {
    std::u16string out;
    for (unsigned char c : s) out += static_cast<char16_t>(c);
    return out;
}

// A folder with its %CEn% macro replaced, or "" where the phone has no
// such folder (%CE3%, %InstallDir%).
std::string PhoneFolder(const std::string& folder) {
    std::string expanded = cecab::CeExpandFolder(folder);
    return expanded.empty() || expanded[0] != '\\' ? "" : expanded;
}

std::string DirFolder(const CeSetup& s, std::uint16_t id) {
    for (const cecab::CeDir& d : s.dirs)
        if (d.id == id) return PhoneFolder(cecab::CePathText(s, d.path));
    return "";
}

// Every %CEn% in registry text, as the installer expands it when asked.
std::string ExpandAll(std::string text) {
    for (std::size_t at = text.find("%CE"); at != std::string::npos; at = text.find("%CE", at + 1)) {
        std::size_t end = text.find('%', at + 1);
        if (end == std::string::npos) break;
        std::string folder = PhoneFolder(text.substr(at, end + 1 - at));
        if (folder.empty()) continue;
        text.replace(at, end + 1 - at, folder);
    }
    return text;
}

// The registry's data for a value of the control file: text in Unicode.
std::vector<std::uint8_t> RegistryBytes(const cecab::CeRegValue& v, DWORD* type) {
    std::uint32_t kind = v.type & ~static_cast<std::uint32_t>(cecab::kCeRegNoClobber);
    if (kind == cecab::kCeRegDword) {
        *type = REG_DWORD;
        return v.data;
    }
    if (kind == cecab::kCeRegBinary) {
        *type = REG_BINARY;
        return v.data;
    }
    *type = kind == cecab::kCeRegString ? REG_SZ : 7 /* REG_MULTI_SZ */;
    std::string text(v.data.begin(), v.data.end());
    if (kind == cecab::kCeRegString) text = text.substr(0, text.find('\0')) + std::string(1, '\0');
    if (v.expand) text = ExpandAll(text);
    std::vector<std::uint8_t> out;
    for (char16_t c : Wide(text)) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

bool Older(unsigned major, unsigned minor, unsigned thanMajor, unsigned thanMinor) {
    return major < thanMajor || (major == thanMajor && minor < thanMinor);
}

}  // namespace

std::string Install(const cecab::InstallCabinet& cab, const std::string& name) {
    const CeSetup& s = cab.setup;
    std::string note = "install " + name + ": \"" + s.appName + "\" from \"" + s.provider + "\"";
    // 0.0 is taken as no limit, as the format's documentation says.
    if ((s.minVersionMajor || s.minVersionMinor) &&
        Older(kPhoneVersionMajor, kPhoneVersionMinor, s.minVersionMajor, s.minVersionMinor))
        return note + ": not for this phone (Windows CE 4.20, older than the cabinet's minimum); nothing installed";
    if ((s.maxVersionMajor || s.maxVersionMinor) &&
        Older(s.maxVersionMajor, s.maxVersionMinor, kPhoneVersionMajor, kPhoneVersionMinor))
        return note + ": not for this phone (Windows CE 4.20, newer than the cabinet's maximum); nothing installed";

    struct Copy {
        std::string path;
        const cecab::CeFile* file;
    };
    std::vector<Copy> copies;
    for (const cecab::CeFile& f : s.files) {
        std::string folder = DirFolder(s, f.dir);
        copies.push_back({folder.empty() ? "" : folder + "\\" + f.name, &f});
        if (!folder.empty() && sim::FileInUse(Wide(copies.back().path)))
            return note + ": " + copies.back().path + " is in use by a running program; nothing installed";
    }

    for (const cecab::CeDir& d : s.dirs) {
        std::string folder = PhoneFolder(cecab::CePathText(s, d.path));
        if (folder.empty())
            note += kIndent + std::string("folder ") + cecab::CePathText(s, d.path) + ": no such folder on this phone";
        else if (!sim::IsFolder(Wide(folder)))
            note += kIndent + std::string(sim::MakeFolder(Wide(folder)) ? "folder " : "cannot make the folder ") + folder;
    }
    for (const Copy& c : copies) {
        const cecab::CeFile& f = *c.file;
        if (c.path.empty()) continue;  // its folder was reported above
        bool exists = sim::ReadFile(Wide(c.path)).has_value();
        if (exists && (f.flags & cecab::kCeFileNoOverwrite)) {
            note += kIndent + ("file " + c.path + " kept: it is there already");
            continue;
        }
        if (!exists && (f.flags & cecab::kCeFileReplaceOnly)) {
            note += kIndent + ("file " + c.path + " not copied: it replaces only a file that is there");
            continue;
        }
        std::string why;
        const cecab::CabMember* m = cecab::FindMember(cab, f.id);
        if (sim::WriteFile(Wide(c.path), m->data, &why))
            note += kIndent + ("file " + c.path + " (" + m->name + ")");
        else
            note += kIndent + ("file " + c.path + " not copied: " + why);
    }
    static const HKEY kRoots[] = {reinterpret_cast<HKEY>(0x80000000), reinterpret_cast<HKEY>(0x80000001),
                                  HKEY_LOCAL_MACHINE, reinterpret_cast<HKEY>(0x80000003)};
    for (const cecab::CeRegValue& v : s.values) {
        const cecab::CeHive* hive = nullptr;
        for (const cecab::CeHive& h : s.hives)
            if (h.id == v.hive) hive = &h;
        const HKEY root = kRoots[hive->root - 1];
        const std::string key = cecab::CePathText(s, hive->key);
        std::string where = cecab::CeRootName(hive->root) + (key.empty() ? "" : "\\" + key) + " \"" + v.name + "\"";
        if ((v.type & cecab::kCeRegNoClobber) && sim::RegistryValue(root, Wide(key), Wide(v.name))) {
            note += kIndent + ("registry " + where + " kept: it is there already");
            continue;
        }
        DWORD type = REG_NONE;
        std::vector<std::uint8_t> data = RegistryBytes(v, &type);
        sim::SetRegistryValue(root, Wide(key), Wide(v.name), type, data);
        note += kIndent + ("registry " + where + " (" + std::to_string(data.size()) + " bytes)");
    }
    for (const cecab::CeLink& l : s.links) {
        std::string folder = PhoneFolder(cecab::CeFolderMacroText(l.folder));
        std::string target;
        if (l.type == cecab::kCeLinkToFile) {
            for (const Copy& c : copies)
                if (c.file->id == l.target) target = c.path;
        } else {
            target = DirFolder(s, l.target);
        }
        std::string path = folder + "\\" + cecab::CePathText(s, l.name);
        if (folder.empty() || target.empty()) {
            note += kIndent + ("shortcut " + cecab::CePathText(s, l.name) + ": its folder or target has no place on this phone");
            continue;
        }
        std::string command = "\"" + target + "\"";
        sim::MakeFolder(Wide(path.substr(0, path.rfind('\\'))));
        if (sim::WriteFile(Wide(path), sim::ShortcutFile(Wide(command))))
            note += kIndent + ("shortcut " + path + " to " + command);
        else
            note += kIndent + ("shortcut " + path + " not made");
    }
    for (const cecab::CabMember& m : cab.members)
        if (m.name.size() > 4 && m.name.compare(m.name.size() - 4, 4, ".999") == 0)
            note += kIndent + ("setup program " + m.name + " not run: the simulated phone does not run setup programs");
    return note;
}

}  // namespace wceload
