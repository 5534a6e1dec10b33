#include "key_names.h"

#include "base/text.h"

#include <cctype>
#include <cstdio>
#include <map>

namespace keys {
namespace {

using base::Lower;



std::vector<Name> BuildNames() {
    std::vector<Name> names;
    // The printed name first, then the others for the same code; a phone's
    // own name for a key files under phone keys.
    auto add = [&](unsigned vk, Group group, std::initializer_list<const char*> list, const char* phoneName = nullptr) {
        bool first = true;
        for (const char* n : list) {
            names.push_back({n, vk, first, group});
            first = false;
        }
        if (phoneName) names.push_back({phoneName, vk, false, Group::Phone});
    };
    add(0x08, Group::Navigation, {"Backspace", "Back"});
    add(0x09, Group::Navigation, {"Tab"});
    add(0x0D, Group::Navigation, {"Enter", "Return"}, "TAction");
    add(0x1B, Group::Navigation, {"Esc", "Escape"}, "TBack");
    add(0x20, Group::Navigation, {"Space"});
    add(0x21, Group::Navigation, {"PageUp", "Prior"});
    add(0x22, Group::Navigation, {"PageDown", "Next"});
    add(0x23, Group::Navigation, {"End"});
    add(0x24, Group::Navigation, {"Home"});
    add(0x25, Group::Navigation, {"Left"}, "TLeft");
    add(0x26, Group::Navigation, {"Up"}, "TUp");
    add(0x27, Group::Navigation, {"Right"}, "TRight");
    add(0x28, Group::Navigation, {"Down"}, "TDown");
    add(0x2E, Group::Navigation, {"Delete"});
    for (unsigned d = 0; d <= 9; ++d) {
        names.push_back({std::string(1, static_cast<char>('0' + d)), 0x30 + d, true, Group::LettersDigits});
        names.push_back({"T" + std::to_string(d), 0x30 + d, false, Group::Phone});
    }
    for (unsigned l = 0; l < 26; ++l)
        names.push_back({std::string(1, static_cast<char>('A' + l)), 0x41 + l, true, Group::LettersDigits});
    add(0x5B, Group::Phone, {"LWin", "THome"});
    // The phone's names for the F-keys its buttons send.
    const char* phone[24] = {"TSoft1", "TSoft2", "TTalk", "TEnd", nullptr, "TVolumeUp", "TVolumeDown",
                             "TStar", "TPound", "TRecord", nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, "TFlip", "TPower"};
    for (unsigned f = 1; f <= 24; ++f) {
        std::string fname = "F" + std::to_string(f);
        if (phone[f - 1]) names.push_back({phone[f - 1], 0x70 + f - 1, true, Group::Phone});
        names.push_back({fname, 0x70 + f - 1, phone[f - 1] == nullptr, Group::Function});
    }
    for (unsigned a = 1; a <= 6; ++a) names.push_back({"App" + std::to_string(a), 0xC1 + a - 1, true, Group::Phone});
    return names;
}

}  // namespace

const char* GroupName(Group group) {
    switch (group) {
    case Group::Phone: return "phone keys";
    case Group::LettersDigits: return "letters and digits";
    case Group::Navigation: return "navigation";
    case Group::Function: return "function keys";
    }
    return "";
}

const std::vector<Name>& AllNames() {
    static const std::vector<Name> names = BuildNames();
    return names;
}

std::optional<unsigned> ByName(const std::string& name) {
    static const std::map<std::string, unsigned> byLowerName = [] {
        std::map<std::string, unsigned> m;
        for (const Name& k : AllNames()) m.emplace(Lower(k.name), k.vk);
        return m;
    }();
    auto it = byLowerName.find(Lower(name));
    if (it == byLowerName.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> PrintedName(unsigned vk) {
    for (const Name& k : AllNames())
        if (k.vk == vk && k.printed) return k.name;
    return std::nullopt;
}

std::string Spell(unsigned vk) {
    if (auto name = PrintedName(vk)) return *name;
    return Hex(vk);
}

std::string NameList(std::size_t width) {
    std::vector<std::string> entries;
    const std::vector<Name>& all = AllNames();
    for (std::size_t i = 0; i < all.size();) {
        unsigned vk = all[i].vk;
        std::size_t end = i;
        while (end < all.size() && all[end].vk == vk) ++end;
        if (vk >= 0x30 && vk <= 0x39) {
            if (vk == 0x30) entries.push_back("0-9 (T0-T9) 0x30-0x39");
        } else if (vk >= 0x41 && vk <= 0x5A) {
            if (vk == 0x41) entries.push_back("A-Z 0x41-0x5A");
        } else {
            std::string entry = all[i].name;
            std::string others;
            for (std::size_t j = i + 1; j < end; ++j) others += (others.empty() ? "" : ", ") + all[j].name;
            if (!others.empty()) entry += " (" + others + ")";
            entries.push_back(entry + " " + Hex(vk));
        }
        i = end;
    }
    std::string out, line;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        std::string piece = entries[e] + (e + 1 < entries.size() ? "," : "");
        if (!line.empty() && line.size() + 1 + piece.size() > width) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "  " : " ") + piece;
    }
    if (!line.empty()) out += line + "\n";
    return out;
}

std::string Hex(unsigned vk) { return base::Hex(vk, vk > 0xFF ? 4 : 2); }

}  // namespace keys
