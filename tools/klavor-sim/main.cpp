// klavor-sim: runs the real program on the simulated phone from a scenario
// file and prints what happened, in virtual time.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "files/files.h"
#include "scenario/disk.h"
#include "scenario/run.h"
#ifdef KLAVOR_PHONE_EMU
#include "platform/emu/emu.h"
#endif

namespace {

const char kUsage[] =
    "usage: klavor-sim [--trace] [--expect-exit N] [--phone EXE] [--files DIR] SCENARIO\n"
    "\n"
    "Runs Klavor's WinMain on the simulated phone as SCENARIO says and prints\n"
    "the timeline: keys reaching the foreground application, the tray icon,\n"
    "the menu, the About box, the exit code.\n"
    "\n"
    "  --trace          also print every API call, with arguments and result\n"
    "  --expect-exit N  exit 0 if the program ends with code N, else 1\n"
    "  --phone EXE      run the ARM Windows CE executable EXE (build/phone/klavor.exe)\n"
    "                   on an emulated XScale CPU instead of this build's WinMain,\n"
    "                   and the programs the phone starts from their own bytes\n"
    "  --files DIR      look for the cabinets `install` lines name in DIR first\n"
    "\n"
    "Before it runs, what `klavorcfg check` says of the scenario's configuration\n"
    "goes to standard error (the scenario runs all the same).\n"
    "\n"
    "Exit status: the program's exit code (of its last run); 3 if it was still\n"
    "running when the scenario ended; 5 if it was not, and did not exit (never\n"
    "started, or ended by a reset); 4 if the emulated program was stopped by a\n"
    "fault; 2 for a malformed or unreadable scenario (or cabinet), an unusable\n"
    "EXE, bad usage, or a timeline that could not be written.\n";

int Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "klavor-sim: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool trace = false;
    bool expect = false;
    long expected = 0;
    const char* file = nullptr;
    const char* phone = nullptr;
    std::string filesDir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--trace") == 0) {
            trace = true;
        } else if (std::strcmp(argv[i], "--expect-exit") == 0 && i + 1 < argc) {
            char* end = nullptr;
            expected = std::strtol(argv[++i], &end, 10);
            if (*end) return Usage("--expect-exit takes a number");
            expect = true;
        } else if (std::strcmp(argv[i], "--phone") == 0 && i + 1 < argc) {
            phone = argv[++i];
        } else if (std::strcmp(argv[i], "--files") == 0 && i + 1 < argc) {
            filesDir = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::string error;
            if (files::WriteStdout(kUsage, &error)) return 0;
            std::fprintf(stderr, "klavor-sim: %s\n", error.c_str());
            return 2;
        } else if (argv[i][0] == '-' || file) {
            return Usage((std::string("unexpected argument ") + argv[i]).c_str());
        } else {
            file = argv[i];
        }
    }
    if (!file) return Usage("no scenario given");

    auto loaded = scenario::LoadScenario(file, filesDir);
    if (auto* error = std::get_if<scenario::ParseError>(&loaded)) {
        std::fprintf(stderr, "%s\n", error->Text().c_str());
        return 2;
    }
    const auto& scenarioToRun = std::get<scenario::Scenario>(loaded);
    scenario::Program program;
    scenario::Loader loader;
    wceload::SetupLoader setupLoader;
#ifdef KLAVOR_PHONE_EMU
    std::optional<emu::PeImage> image;
    if (phone) {
        std::string error;
        image = emu::LoadPeImage(phone, &error);
        if (!image) {
            std::fprintf(stderr, "klavor-sim: %s\n", error.c_str());
            return 2;
        }
        program = [&image](HINSTANCE instance, LPWSTR commandLine, int show) {
            // LoadIconW finds the icon groups this executable carries.
            sim::SetProgramIcons(image->iconGroups);
            return emu::RunProgram(*image, instance, commandLine, show);
        };
        // A cabinet's setup program runs from its own bytes too: the DLL
        // loaded away from its base, its exports called as the installer
        // calls them, its calls served by the simulated phone.
        setupLoader = [](const std::vector<std::uint8_t>& bytes, const std::string& name,
                         std::string* why) -> std::optional<wceload::SetupProgram> {
            std::optional<emu::Dll> dll0 = emu::Dll::Load(bytes, name, why);
            if (!dll0) return std::nullopt;
            for (const char* call : {"Install_Init", "Install_Exit", "Uninstall_Init", "Uninstall_Exit"})
                if (!dll0->Has(call)) {
                    *why = name + ": no " + call + " among its exports";
                    return std::nullopt;
                }
            auto dll = std::make_shared<emu::Dll>(std::move(*dll0));
            if (!dll->Attach()) {
                *why = name + ": its entry point refused to load (DLL_PROCESS_ATTACH returned FALSE)";
                return std::nullopt;
            }
            auto text = [](LPCWSTR s) { return s ? emu::Arg::Text(s) : emu::Arg(0); };
            wceload::SetupProgram calls;
            calls.installInit = [dll, text](HWND parent, BOOL first, BOOL previously, LPCWSTR dir) {
                return static_cast<int>(dll->Call("Install_Init", {emu::Arg::Handle(parent), first, previously, text(dir)}));
            };
            calls.installExit = [dll, text](HWND parent, LPCWSTR dir, WORD dirs, WORD files, WORD keys, WORD values,
                                            WORD links) {
                return static_cast<int>(
                    dll->Call("Install_Exit", {emu::Arg::Handle(parent), text(dir), dirs, files, keys, values, links}));
            };
            calls.uninstallInit = [dll, text](HWND parent, LPCWSTR dir) {
                return static_cast<int>(dll->Call("Uninstall_Init", {emu::Arg::Handle(parent), text(dir)}));
            };
            calls.uninstallExit = [dll](HWND parent) {
                return static_cast<int>(dll->Call("Uninstall_Exit", {emu::Arg::Handle(parent)}));
            };
            return calls;
        };
        // A program the phone starts runs from the bytes installed there.
        loader = [](const std::vector<std::uint8_t>& bytes, const std::string& path,
                    std::string* why) -> std::optional<scenario::Program> {
            auto installed = std::make_shared<std::optional<emu::PeImage>>(emu::ParsePeImage(bytes, path, why));
            if (!*installed) return std::nullopt;
            return scenario::Program([installed](HINSTANCE instance, LPWSTR commandLine, int show) {
                sim::SetProgramIcons((*installed)->iconGroups);
                return emu::RunProgram(**installed, instance, commandLine, show);
            });
        };
    }
#else
    if (phone) {
        std::fprintf(stderr,
                     "klavor-sim: --phone needs the emulated phone, which this build lacks: "
                     "install Unicorn 2 (libunicorn-dev) and configure again\n");
        return 2;
    }
#endif
    // What klavorcfg would say of the configuration; it still runs, so
    // that what it does can be watched.
    for (const std::string& finding : scenario::CheckConfiguration(scenarioToRun))
        std::fprintf(stderr, "%s\n", finding.c_str());
    // The timeline goes out as the run goes: a day of phone time holds no
    // more than the lines still to be told.
    files::StdoutStream out;
    scenario::RunOptions options;
    options.trace = trace;
    options.program = program;
    options.loader = loader;
    options.setupLoader = setupLoader;
    options.out = [&out](scenario::TimelineLine&& line) {
        line.text += '\n';
        out.Write(line.text);
    };
    scenario::Outcome outcome = scenario::Run(scenarioToRun, options);
    std::string error;
    if (!out.Finish(&error)) {
        std::fprintf(stderr, "klavor-sim: %s\n", error.c_str());
        return 2;
    }
    if (!outcome.fault.empty()) {
        std::fprintf(stderr, "klavor-sim: %s\n", outcome.fault.c_str());
        return 4;
    }
    if (expect) {
        bool ok = outcome.exited && outcome.exitCode == expected;
        if (!ok) std::fprintf(stderr, "klavor-sim: expected exit code %ld\n", expected);
        return ok ? 0 : 1;
    }
    return outcome.running ? 3 : outcome.exited ? outcome.exitCode : 5;
}
