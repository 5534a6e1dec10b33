// klavorcfg: writes and reads the registry value Klavor takes its button
// configuration from, and says what a configuration will do on the phone.
#include <sys/stat.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "config/config_check.h"
#include "config/config_file.h"
#include "config/config_text.h"
#include "files/files.h"
#include "config/klavor_cab.h"
#include "config/key_names.h"

namespace {

const char kUsage[] =
    "usage: klavorcfg reg CONFIG [-o OUT] [--no-check]\n"
    "           write the .reg file for CONFIG to standard output, or to OUT (- is\n"
    "           standard output)\n"
    "       klavorcfg cab CONFIG -o OUT [--exe EXE] [--setup DLL | --no-setup] [--no-check]\n"
    "       klavorcfg cab --no-config -o OUT [--exe EXE] [--setup DLL | --no-setup]\n"
    "           write the phone's installation cabinet (.cab): EXE (by default the\n"
    "           phone build's, ../../../phone/klavor.exe from where klavorcfg is)\n"
    "           into \\Program Files\\Klavor, shortcuts to it in \\Windows\\StartUp\n"
    "           and the Start menu's Programs, and the value for CONFIG, or with\n"
    "           --no-config no value; and the setup program DLL (by default\n"
    "           klavor_setup.dll beside EXE), which ends a running Klavor before\n"
    "           installing and starts the new one after; --no-setup leaves it out\n"
    "       klavorcfg show FILE [--no-check]\n"
    "           print the configuration a .reg, raw image or text file holds; for a\n"
    "           .cab, first what its installer will do\n"
    "       klavorcfg check FILE\n"
    "           only say what FILE will do wrong on the phone\n"
    "       klavorcfg timing FILE\n"
    "           say when each press of each button is sent\n"
    "       klavorcfg defaults\n"
    "           print the built-in configuration\n"
    "       klavorcfg --help\n"
    "\n"
    "CONFIG and FILE may be the readable text form (UTF-8, or UTF-16 with a byte\n"
    "order mark as Notepad saves it), a .reg file or a raw 128-byte image (.bin,\n"
    "or any file holding a zero byte), or a cabinet (.cab) that sets the value.\n"
    "In the text form each line sets one button; buttons without a line keep\n"
    "their built-in entry. Start from the output of `klavorcfg defaults`:\n"
    "\n"
    "  Calendar  capture  key App1  single Win+App1  double \"Calendar*2\"  triple \"Calendar*3\"\n"
    "\n"
    "  button    a name below (case ignored) or slot 0-7\n"
    "  mode      leave (the button does what it always did), free (taken from other\n"
    "            programs, nothing sent) or capture (presses send the actions);\n"
    "            mode N stores a raw mode word, 3 and above acting as leave\n"
    "  key K     the key the button sends: a key name below or hex such as 0xC1\n"
    "  single A, double A, triple A, 4x A, 5x A\n"
    "            what that many presses send: a key as above, Win+K to hold the\n"
    "            Windows key, a quoted action label, or a 4-digit code 0x12C1\n"
    "            (a digit 0-9 is that key: code 5 is \"Calendar*2\" or 0x05)\n"
    "  presses N the highest press index taken (0 = single only); by default the\n"
    "            highest one written\n"
    "What a line leaves out stays as built in, but writing any action replaces\n"
    "all five: those not written send code 0.\n"
    "\n"
    "reg, cab and show first check what the configuration will do on the phone,\n"
    "as check does. An error (FILE:LINE: error: ...) is a press after which\n"
    "Klavor would send keys on its own forever: an action sends a key that\n"
    "another captured button holds, and following those sends comes back round.\n"
    "Nothing is written then. Warnings (FILE:LINE: warning: ...) are written but said: a\n"
    "send that presses another button, two buttons on one key, a mode or presses\n"
    "the program reads differently, code 0 on a captured button. --no-check\n"
    "skips the check and writes what is asked.\n"
    "\n"
    "Exit status: 0 done, 2 bad usage, a file that cannot be read or written, a\n"
    "bad file or an error from the check (nothing written).\n";

int UsageError(const std::string& message) {
    std::cerr << "klavorcfg: " << message << "\nTry 'klavorcfg --help'.\n";
    return 2;
}

int Failed(const std::string& message) {
    std::cerr << message << "\n";
    return 2;
}

// Writes to standard output; a failed write is an error, not a success.
int Print(const std::string& text) {
    std::string error;
    return files::WriteStdout(text, &error) ? 0 : Failed("klavorcfg: " + error);
}

std::string Help() {
    std::string out = kUsage;
    out += "\nButtons:";
    for (const char* name : ButtonNames) out += std::string(" \"") + name + "\"";
    out += "\nAction labels (codes 0 to " + std::to_string(ACTION_CODE_LABELS - 1) + "):";
    for (const char* label : ActionCodeLabels) out += std::string(" \"") + label + "\"";
    out += "\nKey names (case ignored; the first is the one klavorcfg prints, the others\n"
           "in parentheses mean the same):\n";
    return out + keys::NameList(78);
}

using Loaded = config::ConfigFile;

// A configuration file, or a cabinet that sets the value.
std::optional<Loaded> Load(const std::string& path) {
    std::string error;
    std::optional<std::string> content = files::ReadInput(path, &error);
    if (!content) return Failed(error), std::nullopt;
    std::optional<Loaded> loaded = config::ReadConfigFile(*content, path, &error);
    if (!loaded) return Failed(error), std::nullopt;
    return loaded;
}

// The configuration a command writes somewhere else: one table long.
bool HasTable(const Loaded& loaded, const std::string& path) {
    if (loaded.table) return true;
    Failed(config::NoTableMessage(loaded, path));
    return false;
}

// Says what the check finds; true if nothing stops the write.
bool Check(const Loaded& loaded, int* errors = nullptr, int* warnings = nullptr) {
    std::vector<config::Finding> found = config::CheckTable(*loaded.table, loaded.config.origin);
    for (const config::Finding& f : found) {
        std::cerr << f.text << "\n";
        if (f.error && errors) ++*errors;
        if (!f.error && warnings) ++*warnings;
    }
    return !config::HasError(found);
}

struct Args {
    std::vector<std::string> files;
    std::string out;
    bool haveOut = false;
    bool noCheck = false;
    std::string exe;  // cab's
    bool haveExe = false;
    std::string setup;  // cab's
    bool haveSetup = false;
    bool noSetup = false;
    bool noConfig = false;
};

// Options and file names in any order; nullopt after saying what is wrong.
std::optional<Args> ParseArgs(const std::vector<std::string>& args, bool takesOut, bool takesNoCheck,
                              bool takesCab = false) {
    Args a;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (takesCab && args[i] == "--exe") {
            if (i + 1 >= args.size()) return UsageError("--exe needs a file name"), std::nullopt;
            if (a.haveExe) return UsageError("more than one --exe"), std::nullopt;
            a.exe = args[++i];
            a.haveExe = true;
            continue;
        }
        if (takesCab && args[i] == "--setup") {
            if (i + 1 >= args.size()) return UsageError("--setup needs a file name"), std::nullopt;
            if (a.haveSetup) return UsageError("more than one --setup"), std::nullopt;
            a.setup = args[++i];
            a.haveSetup = true;
            continue;
        }
        if (takesCab && args[i] == "--no-setup") {
            a.noSetup = true;
            continue;
        }
        if (takesCab && args[i] == "--no-config") {
            a.noConfig = true;
            continue;
        }
        if (takesOut && (args[i] == "-o" || args[i] == "--output")) {
            if (i + 1 >= args.size()) return UsageError(args[i] + " needs a file name (- for standard output)"), std::nullopt;
            if (a.haveOut) return UsageError("more than one output file"), std::nullopt;
            a.out = args[++i];
            a.haveOut = true;
        } else if (takesNoCheck && args[i] == "--no-check") {
            a.noCheck = true;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return UsageError("unknown option " + args[i]), std::nullopt;
        } else {
            a.files.push_back(args[i]);
        }
    }
    return a;
}

int Reg(const std::vector<std::string>& argv) {
    std::optional<Args> a = ParseArgs(argv, true, true);
    if (!a) return 2;
    if (a->files.empty()) return UsageError("reg needs a CONFIG file");
    if (a->files.size() > 1) return UsageError("reg takes one CONFIG file");
    const std::string& config = a->files[0];
    std::string out = a->haveOut ? a->out : "-";
    if (out.empty()) return UsageError("-o needs a file name (- for standard output)");
    // Refused before anything is written: replacing the input would lose it.
    if (out != "-" && files::SameFile(out, config))
        return Failed("klavorcfg: " + out + " is the input file itself; give another output file");

    std::optional<Loaded> loaded = Load(config);
    if (!loaded) return 2;
    if (!HasTable(*loaded, config)) return 2;
    if (!a->noCheck && !Check(*loaded)) return Failed(config + ": not written (--no-check writes it anyway)");

    std::string error;
    if (!files::WriteOutput(out, config::FormatRegFile(loaded->config.value), &error))
        return Failed("klavorcfg: " + error);
    return 0;
}

// Where the phone build puts klavor.exe, seen from the build tree this
// program is in: build/default/tools/klavorcfg/klavorcfg gives
// build/phone/klavor.exe.
std::string DefaultExe() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "";
    return (self.parent_path() / "../../../phone/klavor.exe").lexically_normal().string();
}

// The members' date: klavor.exe's own modification time, seconds since
// 1970 UTC, which the cabinet stores as that moment in UTC: the same
// inputs make the same cabinet here and on the page (a browser gives the
// file's lastModified), whatever the time zone.
std::int64_t Modified(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_mtime) : static_cast<std::int64_t>(std::time(nullptr));
}

int Cab(const std::vector<std::string>& argv) {
    std::optional<Args> a = ParseArgs(argv, true, true, true);
    if (!a) return 2;
    if (a->noConfig && !a->files.empty()) return UsageError("cab --no-config takes no CONFIG file");
    if (!a->noConfig && a->files.empty()) return UsageError("cab needs a CONFIG file, or --no-config");
    if (a->files.size() > 1) return UsageError("cab takes one CONFIG file");
    if (!a->haveOut || a->out.empty()) return UsageError("cab needs -o OUT (- for standard output)");
    if (a->haveSetup && a->noSetup) return UsageError("cab takes --setup DLL or --no-setup, not both");
    const std::string& out = a->out;
    std::string exe = a->haveExe ? a->exe : DefaultExe();
    if (!a->haveExe && (exe.empty() || !std::filesystem::exists(exe)))
        return Failed("klavorcfg: no phone build of klavor.exe at " + (exe.empty() ? std::string("../../../phone/") : exe) +
                      "; build it with `cmake --workflow --preset phone`, or give --exe EXE");
    // The setup program comes from beside the program unless named.
    std::string setup;
    if (!a->noSetup) {
        setup = a->haveSetup ? a->setup : (std::filesystem::path(exe).parent_path() / "klavor_setup.dll").string();
        if (!a->haveSetup && !std::filesystem::exists(setup))
            return Failed("klavorcfg: no klavor_setup.dll beside " + exe + " (the phone build makes both); give "
                          "--setup DLL, or --no-setup for a cabinet without the setup program");
    }
    std::vector<std::string> inputs = a->files;
    inputs.push_back(exe);
    if (!setup.empty()) inputs.push_back(setup);
    for (const std::string& input : inputs)
        if (out != "-" && files::SameFile(out, input))
            return Failed("klavorcfg: " + out + " is the input file itself; give another output file");

    std::string error;
    std::optional<std::string> program = files::ReadInput(exe, &error);
    if (!program) return Failed(error);
    if (program->empty()) return Failed(exe + ": the file is empty");
    config::Bytes exeBytes(program->begin(), program->end());
    if (!a->haveExe) std::cerr << "klavorcfg: klavor.exe from " << exe << "\n";
    if (std::optional<std::string> problem = cecab::ExeProblem(exeBytes))
        std::cerr << exe << ": warning: " << *problem << "; the phones cannot run it\n";
    std::optional<config::Bytes> setupBytes;
    if (!setup.empty()) {
        std::optional<std::string> dll = files::ReadInput(setup, &error);
        if (!dll) return Failed(error);
        if (dll->empty()) return Failed(setup + ": the file is empty");
        setupBytes = config::Bytes(dll->begin(), dll->end());
        if (!a->haveSetup) std::cerr << "klavorcfg: klavor_setup.dll from " << setup << "\n";
        if (std::optional<std::string> problem = cecab::ExeProblem(*setupBytes))
            std::cerr << setup << ": warning: " << *problem << "; the phones cannot run it\n";
    }

    std::optional<config::Bytes> value;
    if (!a->noConfig) {
        const std::string& config = a->files[0];
        std::optional<Loaded> loaded = Load(config);
        if (!loaded) return 2;
        if (!HasTable(*loaded, config)) return 2;
        if (!a->noCheck && !Check(*loaded)) return Failed(config + ": no cabinet written (--no-check writes it anyway)");
        value = loaded->config.value;
    }

    std::optional<config::Bytes> cab = config::BuildKlavorCabinet(exeBytes, setupBytes, value, Modified(exe), &error);
    if (!cab) return Failed("klavorcfg: cannot make the cabinet: " + error);
    if (!files::WriteOutput(out, std::string(cab->begin(), cab->end()), &error)) return Failed("klavorcfg: " + error);
    return 0;
}

int Show(const std::vector<std::string>& argv) {
    std::optional<Args> a = ParseArgs(argv, false, true);
    if (!a) return 2;
    if (a->files.size() != 1) return UsageError("show takes one FILE");
    const std::string& file = a->files[0];
    std::optional<Loaded> loaded = Load(file);
    if (!loaded) return 2;
    // A value of the wrong length leaves the built-in table in force, and
    // that is what show shows: nothing there to check.
    if (loaded->table && !a->noCheck && !Check(*loaded))
        return Failed(file + ": not shown (--no-check shows it anyway)");
    if (loaded->cab) return Print(config::DescribeInstallCabinet(*loaded->cab, file));
    return Print(config::DescribeValue(loaded->config.value, file));
}

int CheckCommand(const std::vector<std::string>& argv) {
    std::optional<Args> a = ParseArgs(argv, false, false);
    if (!a) return 2;
    if (a->files.size() != 1) return UsageError("check takes one FILE");
    const std::string& file = a->files[0];
    std::optional<Loaded> loaded = Load(file);
    if (!loaded) return 2;
    if (!HasTable(*loaded, file)) return 2;
    int errors = 0, warnings = 0;
    bool ok = Check(*loaded, &errors, &warnings);
    auto count = [](int n, const char* what) {
        return (n ? std::to_string(n) : std::string("no")) + " " + what + (n == 1 ? "" : "s");
    };
    int printed = Print(file + ": " + count(errors, "error") + ", " + count(warnings, "warning") + "\n");
    return ok ? printed : 2;
}

// When each press is sent, by the check's own model of the program.
int TimingCommand(const std::vector<std::string>& argv) {
    std::optional<Args> a = ParseArgs(argv, false, false);
    if (!a) return 2;
    if (a->files.size() != 1) return UsageError("timing takes one FILE");
    const std::string& file = a->files[0];
    std::optional<Loaded> loaded = Load(file);
    if (!loaded) return 2;
    if (!HasTable(*loaded, file)) return 2;
    std::string out;
    for (int slot = 0; slot < KEY_SLOTS; ++slot) {
        config::ButtonTiming timing = config::Timing(*loaded->table, slot);
        out += ButtonNames[slot];
        out += timing.note.empty() ? "\n" : ": " + timing.note + "\n";
        for (std::size_t p = 0; p < timing.presses.size(); ++p)
            out += "  " + config::PressWord(static_cast<int>(p)) + ": " + timing.presses[p] + "\n";
    }
    return Print(out);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return UsageError("no command given");
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") return Print(Help());
    if (command == "reg") return Reg(args);
    if (command == "cab") return Cab(args);
    if (command == "show") return Show(args);
    if (command == "check") return CheckCommand(args);
    if (command == "timing") return TimingCommand(args);
    if (command == "defaults") {
        if (!args.empty()) return UsageError("defaults takes no arguments");
        return Print("# Klavor's built-in configuration.\n" + config::FormatConfigText(config::DefaultTable()));
    }
    return UsageError("unknown command '" + command + "'");
}
