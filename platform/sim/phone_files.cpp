// The object store's files and folders, and the shortcut files the shell
// starts programs from.
#include <algorithm>

#include "phone_state.h"

namespace sim {
namespace internal {
namespace {

// "\Windows\StartUp\" and "windows/startup" alike: one leading '\', no
// trailing one, no empty components; empty if it is not a path at all.
std::u16string Clean(const std::u16string& path) {
    std::u16string out;
    std::size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && (path[i] == u'\\' || path[i] == u'/')) ++i;
        std::size_t end = i;
        while (end < path.size() && path[end] != u'\\' && path[end] != u'/') ++end;
        if (end > i) out += u"\\" + path.substr(i, end - i);
        i = end;
    }
    return out;
}

std::u16string Parent(const std::u16string& clean) { return clean.substr(0, clean.rfind(u'\\')); }

}  // namespace

void MakeStandardFolders() {
    for (const char16_t* folder : {u"\\Windows\\StartUp", u"\\Windows\\Start Menu\\Programs", u"\\Program Files", u"\\My Documents"})
        MakeFolder(folder);
}

}  // namespace internal

using namespace internal;

bool MakeFolder(const std::u16string& path) {
    std::u16string clean = Clean(path);
    if (clean.empty()) return false;
    for (std::size_t end = clean.find(u'\\', 1);; end = clean.find(u'\\', end + 1)) {
        std::u16string part = clean.substr(0, end);
        auto it = P().files.find(LowerStr(part));
        if (it == P().files.end())
            P().files[LowerStr(part)] = FileNode{part, true, {}};
        else if (!it->second.folder)
            return false;
        if (end == std::u16string::npos) return true;
    }
}

bool WriteFile(const std::u16string& path, const std::vector<std::uint8_t>& data, std::string* why) {
    auto fail = [why](const char* reason) {
        if (why) *why = reason;
        return false;
    };
    std::u16string clean = Clean(path);
    if (clean.empty()) return fail("not a path");
    std::u16string parent = Parent(clean);
    if (!parent.empty() && !IsFolder(parent)) return fail("no such folder");
    auto it = P().files.find(LowerStr(clean));
    if (it != P().files.end() && it->second.folder) return fail("a folder has that name");
    if (FileInUse(clean)) return fail("in use by a running program");
    if (it == P().files.end())
        P().files[LowerStr(clean)] = FileNode{clean, false, data};
    else
        it->second.data = data;
    return true;
}

std::optional<std::vector<std::uint8_t>> ReadFile(const std::u16string& path) {
    auto it = P().files.find(LowerStr(Clean(path)));
    if (it == P().files.end() || it->second.folder) return std::nullopt;
    return it->second.data;
}

bool DeleteFile(const std::u16string& path, std::string* why) {
    auto fail = [why](const char* reason) {
        if (why) *why = reason;
        return false;
    };
    auto it = P().files.find(LowerStr(Clean(path)));
    if (it == P().files.end() || it->second.folder) return fail("no such file");
    if (FileInUse(path)) return fail("in use by a running program");
    P().files.erase(it);
    return true;
}

bool RemoveFolder(const std::u16string& path) {
    auto it = P().files.find(LowerStr(Clean(path)));
    if (it == P().files.end() || !it->second.folder || !FolderContents(path).empty()) return false;
    P().files.erase(it);
    return true;
}

bool IsFolder(const std::u16string& path) {
    auto it = P().files.find(LowerStr(Clean(path)));
    return it != P().files.end() && it->second.folder;
}

bool FileInUse(const std::u16string& path) {
    const std::u16string file = LowerStr(Clean(path));
    for (const auto& image : P().images)
        if (LowerStr(image.second) == file) return true;
    return false;
}

std::vector<std::u16string> FolderContents(const std::u16string& path) {
    std::u16string prefix = LowerStr(Clean(path)) + u"\\";
    std::vector<std::u16string> names;
    // By lower-case path: the shell's order, case ignored.
    for (auto it = P().files.lower_bound(prefix); it != P().files.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        if (it->first.find(u'\\', prefix.size()) == std::u16string::npos)
            names.push_back(it->second.path.substr(it->second.path.rfind(u'\\') + 1));
    return names;
}

std::vector<std::uint8_t> ShortcutFile(const std::u16string& command) {
    std::string text = Utf8(command);
    text = std::to_string(command.size()) + "#" + text;
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::optional<std::u16string> ShortcutCommand(const std::vector<std::uint8_t>& file) {
    std::string text(file.begin(), file.end());
    std::size_t hash = text.find('#');
    if (hash == 0 || hash == std::string::npos) return std::nullopt;
    for (std::size_t i = 0; i < hash; ++i)
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    // What follows '#' up to the end of the line; the count before it is
    // taken as it stands.
    std::string command = text.substr(hash + 1);
    command = command.substr(0, command.find_first_of("\r\n"));
    if (command.empty()) return std::nullopt;
    return Utf16(command);
}

void SetProgramImage(const std::u16string& path) { SetProcessImage(kProgram, path); }

void SetProcessImage(Pid pid, const std::u16string& path) {
    if (path.empty())
        P().images.erase(pid);
    else
        P().images[pid] = Clean(path);
}

}  // namespace sim
