#include "wceload.h"

#include <algorithm>

#include "base/text.h"
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

const HKEY kRoots[] = {reinterpret_cast<HKEY>(0x80000000), reinterpret_cast<HKEY>(0x80000001), HKEY_LOCAL_MACHINE,
                       reinterpret_cast<HKEY>(0x80000003)};

// The folder the owner installs to: with no choice asked, the application's
// name in \Program Files.
std::string InstallDir(const CeSetup& s) { return "\\Program Files\\" + s.appName; }

std::string ApplicationName(const CeSetup& s) { return s.provider + " " + s.appName; }

// A file of the control file and where it goes ("" where it has no place).
struct Copy {
    std::string path;
    const cecab::CeFile* file;
};

std::vector<Copy> Copies(const CeSetup& s) {
    std::vector<Copy> copies;
    for (const cecab::CeFile& f : s.files) {
        std::string folder = DirFolder(s, f.dir);
        copies.push_back({folder.empty() ? "" : folder + "\\" + f.name, &f});
    }
    return copies;
}

// What the installer could not do, as Install_Exit is told.
struct Failed {
    WORD dirs = 0, files = 0, regKeys = 0, regVals = 0, shortcuts = 0;
    std::string Text() const {
        std::string out;
        auto part = [&out](WORD n, const char* what) {
            if (n) out += (out.empty() ? "" : ", ") + std::to_string(n) + " " + what;
        };
        part(dirs, dirs == 1 ? "folder" : "folders");
        part(files, files == 1 ? "file" : "files");
        part(regKeys, regKeys == 1 ? "registry key" : "registry keys");
        part(regVals, regVals == 1 ? "registry value" : "registry values");
        part(shortcuts, shortcuts == 1 ? "shortcut" : "shortcuts");
        return out.empty() ? "nothing failed" : out + " failed";
    }
};

bool IsSetupMember(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".999") == 0;
}

}  // namespace

struct Installation {
    std::string application;
    std::string installDir;
    std::optional<LoadedSetup> setup;
    std::vector<std::string> folders;  // in the order made
    std::vector<std::string> files;
    struct Value {
        HKEY root;
        std::string key, name, where;
    };
    std::vector<Value> values;
    std::vector<std::string> shortcuts;

    template <typename T>
    static void Add(std::vector<T>& list, const T& item, bool (*same)(const T&, const T&)) {
        for (const T& x : list)
            if (same(x, item)) return;
        list.push_back(item);
    }
    static bool SamePath(const std::string& a, const std::string& b) { return base::Lower(a) == base::Lower(b); }
    static bool SameValue(const Value& a, const Value& b) {
        return a.root == b.root && SamePath(a.key, b.key) && SamePath(a.name, b.name);
    }
};

Installer::Installer(SetupLoader loader) : loader_(std::move(loader)) {}

namespace {

// The folders, files, registry values and shortcuts, as the control file
// says: one note line each, and what was made into `made`.
std::string Apply(const cecab::InstallCabinet& cab, const std::vector<Copy>& copies, Installation* made,
                  Failed* failed) {
    const CeSetup& s = cab.setup;
    std::string note;
    for (const cecab::CeDir& d : s.dirs) {
        std::string folder = PhoneFolder(cecab::CePathText(s, d.path));
        if (folder.empty()) {
            note += kIndent + std::string("folder ") + cecab::CePathText(s, d.path) + ": no such folder on this phone";
            ++failed->dirs;
        } else if (!sim::IsFolder(Wide(folder))) {
            bool ok = sim::MakeFolder(Wide(folder));
            note += kIndent + std::string(ok ? "folder " : "cannot make the folder ") + folder;
            if (ok)
                made->folders.push_back(folder);
            else
                ++failed->dirs;
        }
    }
    for (const Copy& c : copies) {
        const cecab::CeFile& f = *c.file;
        if (c.path.empty()) {  // its folder was reported above
            ++failed->files;
            continue;
        }
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
        if (sim::WriteFile(Wide(c.path), m->data, &why)) {
            note += kIndent + ("file " + c.path + " (" + m->name + ")");
            made->files.push_back(c.path);
        } else {
            note += kIndent + ("file " + c.path + " not copied: " + why);
            ++failed->files;
        }
    }
    for (const cecab::CeRegValue& v : s.values) {
        const cecab::CeHive* hive = cecab::FindHive(s, v.hive);
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
        made->values.push_back({root, key, v.name, where});
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
            ++failed->shortcuts;
            continue;
        }
        std::string command = "\"" + target + "\"";
        std::string parent = path.substr(0, path.rfind('\\'));
        if (!sim::IsFolder(Wide(parent)) && sim::MakeFolder(Wide(parent))) made->folders.push_back(parent);
        if (sim::WriteFile(Wide(path), sim::ShortcutFile(Wide(command)))) {
            note += kIndent + ("shortcut " + path + " to " + command);
            made->shortcuts.push_back(path);
        } else {
            note += kIndent + ("shortcut " + path + " not made");
            ++failed->shortcuts;
        }
    }
    return note;
}

}  // namespace

void Installer::Install(std::shared_ptr<const cecab::InstallCabinet> cab, const std::string& name) {
    const CeSetup& s = cab->setup;
    std::string note = "install " + name + ": \"" + s.appName + "\" from \"" + s.provider + "\"";
    // 0.0 is taken as no limit, as the format's documentation says.
    if ((s.minVersionMajor || s.minVersionMinor) &&
        Older(kPhoneVersionMajor, kPhoneVersionMinor, s.minVersionMajor, s.minVersionMinor))
        return sim::AddNote(note + ": not for this phone (Windows CE 4.20, older than the cabinet's minimum); nothing installed");
    if ((s.maxVersionMajor || s.maxVersionMinor) &&
        Older(s.maxVersionMajor, s.maxVersionMinor, kPhoneVersionMajor, kPhoneVersionMinor))
        return sim::AddNote(note + ": not for this phone (Windows CE 4.20, newer than the cabinet's maximum); nothing installed");

    // The setup program, if the cabinet has one the phone can run.
    std::optional<LoadedSetup> setup;
    std::string notRun;
    for (const cecab::CabMember& m : cab->members) {
        if (!IsSetupMember(m.name)) continue;
        std::string why = "the phone runs no setup programs here";
        std::optional<SetupProgram> calls;
        if (loader_) calls = loader_(m.data, m.name, &why);
        if (calls)
            setup = LoadedSetup{m.name, std::move(*calls)};
        else
            notRun = kIndent + ("setup program " + m.name + " not run: " + why);
        break;
    }
    if (!setup) return Installing(*cab, name, std::nullopt, note + notRun);
    // The setup program may wait for others (a running Klavor to end): the
    // installer is a process of its own, and the phone goes on meanwhile.
    sim::Pid pid = sim::StartProcess("the installer");
    try {
        sim::RunThread(pid, [this, cab, name, setup, note] { Installing(*cab, name, setup, note); });
    } catch (const std::exception& e) {
        sim::AddNote(note + kIndent + ("setup program " + setup->member + " not run: " + e.what()) +
                     "; nothing installed");
    }
}

void Installer::Installing(const cecab::InstallCabinet& cab, const std::string& name,
                           const std::optional<LoadedSetup>& setup, std::string note) {
    const CeSetup& s = cab.setup;
    const std::string application = ApplicationName(s);
    const std::u16string dir = Wide(InstallDir(s));
    if (setup) {
        sim::AddNote(note + kIndent + ("setup program " + setup->member + ": Install_Init"));
        BOOL previously = installed_.count(base::Lower(application)) ? TRUE : FALSE;
        int go = setup->calls.installInit(nullptr, TRUE, previously, dir.c_str());
        note = "install " + name + ": Install_Init returns " + std::to_string(go);
        if (go == 1) return sim::AddNote(note + " (cancel); nothing installed");
    }
    // Looked up after the setup program's wait, in which others may have run.
    auto before = installed_.find(base::Lower(application));

    const std::vector<Copy> copies = Copies(s);
    std::string inUse;
    for (const Copy& c : copies)
        if (inUse.empty() && !c.path.empty() && sim::FileInUse(Wide(c.path))) inUse = c.path;
    Failed failed;
    auto made = std::make_shared<Installation>();
    if (!inUse.empty()) {
        std::string nothing = inUse + " is in use by a running program; nothing installed";
        if (!setup) return sim::AddNote(note + ": " + nothing);
        note += kIndent + nothing;
        failed.files = static_cast<WORD>(copies.size());
    } else {
        note += Apply(cab, copies, made.get(), &failed);
        // A new installation of the same application adds to the old one.
        if (before != installed_.end()) {
            const Installation& old = *before->second;
            for (const std::string& f : old.folders) Installation::Add(made->folders, f, &Installation::SamePath);
            for (const std::string& f : old.files) Installation::Add(made->files, f, &Installation::SamePath);
            for (const Installation::Value& v : old.values) Installation::Add(made->values, v, &Installation::SameValue);
            for (const std::string& l : old.shortcuts) Installation::Add(made->shortcuts, l, &Installation::SamePath);
        }
        made->application = application;
        made->installDir = InstallDir(s);
        made->setup = setup;
        installed_[base::Lower(application)] = made;
    }
    if (!setup) return sim::AddNote(note);

    sim::AddNote(note + kIndent + ("setup program " + setup->member + ": Install_Exit, " + failed.Text()));
    int done = setup->calls.installExit(nullptr, dir.c_str(), failed.dirs, failed.files, failed.regKeys, failed.regVals,
                                        failed.shortcuts);
    if (done == 1 && inUse.empty())
        sim::AddNote("install " + name + ": Install_Exit returns 1: removed again" + Removing(application));
}

void Installer::Remove(const std::string& application) {
    std::string note = "remove \"" + application + "\"";
    auto it = installed_.find(base::Lower(application));
    if (it == installed_.end()) return sim::AddNote(note + ": nothing of that name is installed");
    const std::shared_ptr<Installation> made = it->second;
    if (!made->setup) return sim::AddNote(note + Removing(application));
    sim::Pid pid = sim::StartProcess("the installer");
    try {
        sim::RunThread(pid, [this, made, note] {
            const LoadedSetup& setup = *made->setup;
            sim::AddNote(note + kIndent + ("setup program " + setup.member + ": Uninstall_Init"));
            const std::u16string dir = Wide(made->installDir);
            int go = setup.calls.uninstallInit(nullptr, dir.c_str());
            std::string after = note + ": Uninstall_Init returns " + std::to_string(go);
            if (go == 1) return sim::AddNote(after + " (cancel); nothing removed");
            sim::AddNote(after + Removing(made->application) + kIndent + ("setup program " + setup.member + ": Uninstall_Exit"));
            setup.calls.uninstallExit(nullptr);
        });
    } catch (const std::exception& e) {
        sim::AddNote(note + kIndent + ("setup program " + made->setup->member + " not run: " + e.what()) +
                     "; nothing removed");
    }
}

std::string Installer::Removing(const std::string& application) {
    auto it = installed_.find(base::Lower(application));
    if (it == installed_.end()) return "";
    const Installation& made = *it->second;
    for (const std::string& f : made.files)
        if (sim::FileInUse(Wide(f))) return kIndent + (f + " is in use by a running program; nothing removed");
    std::string lines;
    for (const std::string& l : made.shortcuts)
        lines += kIndent + ("shortcut " + l + (sim::DeleteFile(Wide(l)) ? " removed" : " was gone already"));
    for (const std::string& f : made.files)
        lines += kIndent + ("file " + f + (sim::DeleteFile(Wide(f)) ? " removed" : " was gone already"));
    for (const Installation::Value& v : made.values)
        lines += kIndent + ("registry " + v.where +
                            (sim::DeleteRegistryValue(v.root, Wide(v.key), Wide(v.name)) ? " removed" : " was gone already"));
    // The deepest first: a folder goes once it is empty.
    for (auto f = made.folders.rbegin(); f != made.folders.rend(); ++f)
        lines += kIndent + ("folder " + *f + (sim::RemoveFolder(Wide(*f)) ? " removed" : " kept: it is not empty"));
    installed_.erase(it);
    return lines;
}

}  // namespace wceload
