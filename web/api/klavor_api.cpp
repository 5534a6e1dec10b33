#include "klavor_api.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "config/config_check.h"
#include "config/config_file.h"
#include "config/config_text.h"
#include "config/klavor_cab.h"
#include "json.h"
#include "words.h"
#include "config/key_names.h"
#include "session.h"
#include "config/share.h"

namespace {

std::string g_result;
page::Session g_session;
std::map<std::string, std::string> g_sessionFiles;

int Answer(std::string bytes) {
    g_result = std::move(bytes);
    return 1;
}

int Refuse(std::string message) {
    g_result = std::move(message);
    return 0;
}

int Answer(const config::Bytes& bytes) { return Answer(std::string(bytes.begin(), bytes.end())); }


std::optional<config::Table> TableOf(const unsigned char* data, unsigned size) {
    if (!data) return std::nullopt;
    return config::DecodeValue(config::Bytes(data, data + size));
}

int NotATable(unsigned size) {
    return Refuse("a table is " + std::to_string(KEY_TABLE_BYTES) + " bytes, not " + std::to_string(size));
}

std::string Str(const char* s) { return s ? s : ""; }

config::Bytes Program() { return config::Bytes(klavor_exe, klavor_exe + klavor_exe_size); }

config::Bytes SetupProgram() { return config::Bytes(klavor_setup_dll, klavor_setup_dll + klavor_setup_dll_size); }

}  // namespace

extern "C" {

const unsigned char* klavor_result(void) { return reinterpret_cast<const unsigned char*>(g_result.data()); }

unsigned klavor_result_size(void) { return static_cast<unsigned>(g_result.size()); }

int klavor_defaults(void) { return Answer(config::EncodeTable(config::DefaultTable())); }

int klavor_program(void) { return Answer(Program()); }

int klavor_setup_program(void) { return Answer(SetupProgram()); }

int klavor_catalog(void) {
    page::Json j;
    j.Open('{');
    j.Key("buttons").Open('[');
    for (const char* name : ButtonNames) j.Str(name);
    j.Close(']');
    j.Key("modes").Open('[');
    for (WORD mode : {MODE_IGNORE, MODE_FREE, MODE_CAPTURE}) {
        j.Open('{').Key("mode").Num(mode).Key("word").Str(config::ModeWord(mode)).Close('}');
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

    page::Json j;
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
            page::ActionFields(j, e.actions[p]);
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
    std::optional<config::Bytes> cab =
        config::BuildKlavorCabinet(Program(), SetupProgram(), value, klavor_exe_modified, &error);
    if (!cab) return Refuse("cannot make the cabinet: " + error);
    return Answer(*cab);
}

int klavor_share_code(const unsigned char* data, unsigned size) {
    std::optional<config::Table> table = TableOf(data, size);
    if (!table) return NotATable(size);
    return Answer(config::ShareCode(*table));
}

int klavor_share_read(const char* text) {
    config::ShareRead read = config::ReadShareCode(Str(text));
    if (read.table) return Answer(config::EncodeTable(*read.table));
    static const char* const kProblems[] = {"", "foreign", "version", "damaged"};
    page::Json j;
    j.Open('{').Key("problem").Str(kProblems[static_cast<int>(read.problem)]).Key("version").Num(read.version);
    j.Key("message").Str(read.message);
    return Refuse(j.Close('}').Take());
}

int klavor_sheet(const unsigned char* data, unsigned size) {
    std::optional<config::Table> table = TableOf(data, size);
    if (!table) return NotATable(size);
    page::Json j;
    j.Open('[');
    for (const config::SheetLine& line : config::CheatSheet(*table)) {
        j.Open('{').Key("slot").Num(line.slot).Key("button").Str(ButtonNames[line.slot]);
        j.Key("takenBy").Num(line.takenBy);
        if (line.takenBy >= 0) j.Key("takerSends").Bool((*table)[line.takenBy].mode == MODE_CAPTURE);
        j.Key("sends").Open('[');
        for (std::size_t i = 0; i < line.sends.size(); ++i) {
            j.Open('{').Key("presses").Num(static_cast<long long>(i + 1));
            page::ActionFields(j, line.sends[i]);
            j.Close('}');
        }
        j.Close(']').Close('}');
    }
    return Answer(j.Close(']').Take());
}

int klavor_session_start(const unsigned char* data, unsigned size, const char* title) {
    std::optional<config::Table> table = TableOf(data, size);
    if (!table) return NotATable(size);
    g_session.Start(*table, Str(title));
    g_sessionFiles.clear();
    return Answer(g_session.ScenarioText());
}

int klavor_session_file(const char* name, const unsigned char* data, unsigned size) {
    g_sessionFiles[Str(name)] = data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    return Answer(std::string());
}

int klavor_session_replay(const char* name, const unsigned char* data, unsigned size) {
    std::string text = data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    std::map<std::string, std::string> files = std::move(g_sessionFiles);
    g_sessionFiles.clear();
    if (std::optional<std::string> error = g_session.Replay(Str(name), text, files)) return Refuse(*error);
    return Answer(g_session.ScenarioText());
}

int klavor_session_press(unsigned t, int slot, int mods) {
    if (std::optional<std::string> error = g_session.Press(t, slot, static_cast<unsigned>(mods))) return Refuse(*error);
    return Answer(std::string());
}

int klavor_session_tray(unsigned t, const char* what, const char* item) {
    if (std::optional<std::string> error = g_session.Tray(t, Str(what), Str(item))) return Refuse(*error);
    return Answer(std::string());
}

int klavor_session_view(unsigned now, int all) { return Answer(g_session.View(now, all != 0)); }

int klavor_session_scenario(void) { return Answer(g_session.ScenarioText()); }

}  // extern "C"
