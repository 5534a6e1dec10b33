#include "klavor_api.h"

#include <cstdio>
#include <string>
#include <vector>

#include "config_check.h"
#include "config_file.h"
#include "config_text.h"
#include "install_cab.h"
#include "key_names.h"

namespace {

std::string g_result;

int Answer(std::string bytes) {
    g_result = std::move(bytes);
    return 1;
}

int Refuse(std::string message) {
    g_result = std::move(message);
    return 0;
}

int Answer(const config::Bytes& bytes) { return Answer(std::string(bytes.begin(), bytes.end())); }

// A little JSON, written as it goes.
class Json {
public:
    Json& Open(char bracket) {
        Comma();
        out_ += bracket;
        first_ = true;
        return *this;
    }
    Json& Close(char bracket) {
        out_ += bracket;
        first_ = false;
        return *this;
    }
    Json& Key(const char* key) {
        Comma();
        String(key);
        out_ += ':';
        first_ = true;
        return *this;
    }
    Json& Str(const std::string& s) {
        Comma();
        String(s);
        return *this;
    }
    Json& Num(long n) {
        Comma();
        out_ += std::to_string(n);
        return *this;
    }
    Json& Bool(bool b) {
        Comma();
        out_ += b ? "true" : "false";
        return *this;
    }
    Json& Ints(const std::vector<int>& list) {
        Open('[');
        for (int n : list) Num(n);
        return Close(']');
    }
    std::string Take() { return std::move(out_); }

private:
    std::string out_;
    bool first_ = true;

    void Comma() {
        if (!first_) out_ += ',';
        first_ = false;
    }
    void String(const std::string& s) {
        out_ += '"';
        for (char c : s) {
            auto u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += c;
            } else if (u < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", u);
                out_ += buf;
            } else {
                out_ += c;
            }
        }
        out_ += '"';
    }
};

const char* const kModeSentences[] = {
    "Klavor leaves the button alone: it does what it did before.",
    "Klavor takes the button away from every other program and sends nothing: its presses do nothing.",
    "Klavor takes the button, counts its presses and sends the action you choose for each count.",
};
static_assert(MODE_IGNORE == 0 && MODE_FREE == 1 && MODE_CAPTURE == 2, "kModeSentences is indexed by mode");

std::optional<config::Table> TableOf(const unsigned char* data, unsigned size) {
    if (!data) return std::nullopt;
    return config::DecodeValue(config::Bytes(data, data + size));
}

int NotATable(unsigned size) {
    return Refuse("a table is " + std::to_string(KEY_TABLE_BYTES) + " bytes, not " + std::to_string(size));
}

std::string Str(const char* s) { return s ? s : ""; }

config::Bytes Program() { return config::Bytes(klavor_exe, klavor_exe + klavor_exe_size); }

void Action(Json& j, WORD code) {
    bool win = (code & ACTION_FLAG_MASK) == ACTION_WITH_WIN;
    j.Key("code").Num(code).Key("action").Str(config::SpellAction(code)).Key("win").Bool(win);
    // What the picker starts from: the action without the Windows key.
    j.Key("base").Str(win ? config::SpellAction(code & ACTION_KEY_MASK) : config::SpellAction(code));
    // Klavor's own codes are keys too: "Camera*3" is Enter.
    std::optional<std::string> key;
    if ((code & ACTION_FLAG_MASK) == 0 && code < ACTION_CODE_LABELS) key = keys::PrintedName(code);
    j.Key("sameKey").Str(key ? *key : "");
}

}  // namespace

extern "C" {

const unsigned char* klavor_result(void) { return reinterpret_cast<const unsigned char*>(g_result.data()); }

unsigned klavor_result_size(void) { return static_cast<unsigned>(g_result.size()); }

int klavor_defaults(void) { return Answer(config::EncodeTable(config::DefaultTable())); }

int klavor_program(void) { return Answer(Program()); }

int klavor_catalog(void) {
    Json j;
    j.Open('{');
    j.Key("buttons").Open('[');
    for (const char* name : ButtonNames) j.Str(name);
    j.Close(']');
    j.Key("modes").Open('[');
    for (WORD mode : {MODE_IGNORE, MODE_FREE, MODE_CAPTURE}) {
        j.Open('{').Key("mode").Num(mode).Key("word").Str(config::ModeWord(mode));
        j.Key("sentence").Str(kModeSentences[mode]).Close('}');
    }
    j.Close(']');
    j.Key("pressWords").Open('[');
    for (int i = 0; i < KEY_ACTIONS; ++i) j.Str(config::PressWord(i));
    j.Close(']');
    j.Key("groups").Open('[');
    for (int g = 0; g < keys::kGroups; ++g) {
        j.Open('{').Key("name").Str(keys::GroupName(static_cast<keys::Group>(g))).Key("keys").Open('[');
        for (const keys::Name& n : keys::AllNames()) {
            if (static_cast<int>(n.group) != g) continue;
            j.Open('{').Key("name").Str(n.name).Key("vk").Num(n.vk);
            j.Key("printed").Str(keys::Spell(n.vk)).Close('}');
        }
        j.Close(']').Close('}');
    }
    j.Close(']');
    // Klavor's own codes: keys 0 to 16, which its built-in actions send.
    j.Key("labels").Open('[');
    for (int code = 0; code < ACTION_CODE_LABELS; ++code)
        j.Open('{').Key("code").Num(code).Key("word").Str(config::SpellAction(static_cast<WORD>(code))).Close('}');
    j.Close(']');
    return Answer(j.Close('}').Take());
}

int klavor_view(const unsigned char* data, unsigned size) {
    std::optional<config::Table> table = TableOf(data, size);
    if (!table) return NotATable(size);
    const config::Table& t = *table;
    config::Origin origin;
    origin.namesOnly = true;
    std::vector<config::Finding> findings = config::CheckTable(t, origin);

    Json j;
    j.Open('{').Key("buttons").Open('[');
    for (int s = 0; s < KEY_SLOTS; ++s) {
        const KeyEntry& e = t[s];
        config::ButtonTiming timing = config::Timing(t, s);
        j.Open('{').Key("slot").Num(s).Key("name").Str(ButtonNames[s]);
        j.Key("mode").Num(e.mode).Key("modeWord").Str(config::ModeWord(e.mode));
        j.Key("key").Str(keys::Spell(e.vk)).Key("vk").Num(e.vk);
        j.Key("count").Num(e.count).Key("used").Num(EffectiveCount(&e));
        j.Key("note").Str(timing.note);
        j.Key("presses").Open('[');
        for (int p = 0; p <= EffectiveCount(&e); ++p) {
            j.Open('{').Key("index").Num(p).Key("word").Str(config::PressWord(p));
            Action(j, e.actions[p]);
            j.Key("timing").Str(p < static_cast<int>(timing.presses.size()) ? timing.presses[p] : "");
            j.Close('}');
        }
        j.Close(']').Close('}');
    }
    j.Close(']');
    int errors = 0;
    j.Key("findings").Open('[');
    for (const config::Finding& f : findings) {
        errors += f.error;
        j.Open('{').Key("error").Bool(f.error).Key("slot").Num(f.slot);
        j.Key("presses").Ints(f.presses).Key("others").Ints(f.others);
        j.Key("message").Str(f.message).Close('}');
    }
    j.Close(']');
    j.Key("errors").Num(errors).Key("warnings").Num(static_cast<long>(findings.size()) - errors);
    return Answer(j.Close('}').Take());
}

int klavor_edit(const unsigned char* data, unsigned size, int slot, const char* field, int press, const char* word) {
    std::optional<config::Table> table = TableOf(data, size);
    if (!table) return NotATable(size);
    if (slot < 0 || slot >= KEY_SLOTS) return Refuse("no button " + std::to_string(slot));
    KeyEntry& e = (*table)[slot];
    std::string what = Str(field), text = Str(word), error;
    std::optional<WORD> value;
    if (what == "mode") {
        if ((value = config::ParseModeWord(text, &error))) e.mode = *value;
    } else if (what == "key") {
        if ((value = config::ParseKeyWord(text, &error))) e.vk = *value;
    } else if (what == "presses") {
        if ((value = config::ParsePressesWord(text, &error))) e.count = *value;
    } else if (what == "action" || what == "win-action") {
        if (press < 0 || press >= KEY_ACTIONS)
            return Refuse("no press " + std::to_string(press) + "; a button has " + std::to_string(KEY_ACTIONS));
        value = config::ParseActionWord(text, &error);
        if (value && what == "win-action") {
            // Win+ is the whole high byte, as in the text form.
            if (*value > ACTION_KEY_MASK) error = "Win+ takes a one-byte key, not " + text;
            value = *value > ACTION_KEY_MASK ? std::nullopt : std::optional<WORD>(ACTION_WITH_WIN | *value);
        }
        if (value) e.actions[press] = *value;
    } else {
        return Refuse("no field " + what);
    }
    if (!value) return Refuse(error);
    return Answer(config::EncodeTable(*table));
}

int klavor_open(const char* name, const unsigned char* data, unsigned size) {
    std::string file = Str(name), error;
    std::string content = data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    std::optional<config::ConfigFile> read = config::ReadConfigFile(content, file, &error);
    if (!read) return Refuse(error);
    if (!read->table) return Refuse(config::NoTableMessage(*read, file));
    return Answer(read->config.value);
}

int klavor_export(const unsigned char* data, unsigned size, const char* kind, const char* name, int force) {
    std::optional<config::Table> table = TableOf(data, size);
    if (!table) return NotATable(size);
    std::string what = Str(kind), file = Str(name);
    config::Bytes value = config::EncodeTable(*table);
    if (what == "text") return Answer(config::DescribeValue(value, file));
    if (what != "reg" && what != "cab") return Refuse("no kind of file " + what);
    if (!force && config::HasError(config::CheckTable(*table, config::Origin{})))
        return Refuse(file + ": not written: the check finds an error (make it anyway to write it)");
    if (what == "reg") return Answer(config::FormatRegFile(value));
    std::string error;
    std::optional<config::Bytes> cab = config::BuildKlavorCabinet(Program(), value, klavor_exe_modified, &error);
    if (!cab) return Refuse("cannot make the cabinet: " + error);
    return Answer(*cab);
}

}  // extern "C"
