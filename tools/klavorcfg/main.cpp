// klavorcfg: writes and reads the registry value Klavor takes its button
// configuration from.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "config_text.h"

namespace {

const char kUsage[] =
    "usage: klavorcfg reg CONFIG [-o OUT]   write the .reg file for CONFIG (to stdout, or OUT)\n"
    "       klavorcfg show FILE             print the configuration a .reg, raw image or text file holds\n"
    "       klavorcfg defaults              print the built-in configuration\n"
    "       klavorcfg --help\n"
    "\n"
    "CONFIG and FILE may be the readable text form, a .reg file or a raw 128-byte\n"
    "image (.bin, or any file holding a zero byte). In the text form each line sets\n"
    "one button; buttons without a line keep their built-in entry. Start from the\n"
    "output of `klavorcfg defaults`:\n"
    "\n"
    "  Calendar   capture  key 0xC1  single Win+0xC1  double \"Calendar*2\"  triple \"Calendar*3\"\n"
    "\n"
    "  button    a name below (case ignored) or slot 0-7\n"
    "  mode      leave (the button does what it always did), free (taken from other\n"
    "            programs, nothing sent) or capture (presses send the actions);\n"
    "            mode N stores a raw mode word, 3 and above acting as leave\n"
    "  key K     the key the button sends: F1-F24, App1-App6 or hex such as 0xC1\n"
    "  single A, double A, triple A, 4x A, 5x A\n"
    "            what that many presses send: a key as above, Win+K to hold the\n"
    "            Windows key, a quoted action label, or a 4-digit code 0x12C1\n"
    "  presses N the highest press index taken (0 = single only); by default the\n"
    "            highest one written\n"
    "What a line leaves out stays as built in, but writing any action replaces\n"
    "all five: those not written send code 0.\n"
    "\n"
    "Exit status: 0 done, 2 bad usage or a bad file (nothing written).\n";

int UsageError(const std::string& message) {
    std::cerr << "klavorcfg: " << message << "\nTry 'klavorcfg --help'.\n";
    return 2;
}

void PrintButtonsAndLabels(std::ostream& out) {
    out << "\nButtons:";
    for (const char* name : ButtonNames) out << " \"" << name << "\"";
    out << "\nAction labels (codes 0 to " << ACTION_CODE_LABELS - 1 << "):";
    for (const char* label : ActionCodeLabels) out << " \"" << label << "\"";
    out << "\n";
}

// The whole file or nothing: a failed run must not leave half a .reg behind.
bool WriteWhole(const std::string& path, const std::string& data, std::string* error) {
    std::string temp = path + ".klavorcfg-tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (out) out.write(data.data(), static_cast<std::streamsize>(data.size()));
        if (out) out.close();
        if (!out) {
            *error = path + ": cannot write: " + std::strerror(errno);
            std::remove(temp.c_str());
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        *error = path + ": cannot write: " + ec.message();
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

int Reg(const std::vector<std::string>& args) {
    std::string config, outPath;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size()) return UsageError(args[i] + " needs a file name");
            if (!outPath.empty()) return UsageError("more than one output file");
            outPath = args[++i];
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return UsageError("unknown option " + args[i]);
        } else if (config.empty()) {
            config = args[i];
        } else {
            return UsageError("reg takes one CONFIG file");
        }
    }
    if (config.empty()) return UsageError("reg needs a CONFIG file");

    std::string error;
    std::optional<klavorcfg::Bytes> value = klavorcfg::LoadConfigValue(config, &error);
    if (!value) {
        std::cerr << error << "\n";
        return 2;
    }
    std::optional<klavorcfg::Table> table = klavorcfg::DecodeValue(*value);
    if (!table) {
        std::cerr << config << ": the value is " << value->size() << " bytes long; the program takes only "
                  << KEY_TABLE_BYTES << "\n";
        return 2;
    }
    for (const std::string& w : klavorcfg::TableWarnings(*table)) std::cerr << config << ": warning: " << w << "\n";

    std::string reg = klavorcfg::FormatRegFile(*value);
    if (outPath.empty() || outPath == "-") {
        std::cout.write(reg.data(), static_cast<std::streamsize>(reg.size()));
        return std::cout.flush() ? 0 : 2;
    }
    if (!WriteWhole(outPath, reg, &error)) {
        std::cerr << error << "\n";
        return 2;
    }
    return 0;
}

int Show(const std::vector<std::string>& args) {
    if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-'))
        return UsageError("show takes one FILE");
    std::string error;
    std::optional<klavorcfg::Bytes> value = klavorcfg::LoadConfigValue(args[0], &error);
    if (!value) {
        std::cerr << error << "\n";
        return 2;
    }
    std::cout << klavorcfg::DescribeValue(*value, args[0]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return UsageError("no command given");
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        PrintButtonsAndLabels(std::cout);
        return 0;
    }
    if (command == "reg") return Reg(args);
    if (command == "show") return Show(args);
    if (command == "defaults") {
        if (!args.empty()) return UsageError("defaults takes no arguments");
        std::cout << "# Klavor's built-in configuration.\n"
                  << klavorcfg::FormatConfigText(klavorcfg::DefaultTable());
        return 0;
    }
    return UsageError("unknown command '" + command + "'");
}
