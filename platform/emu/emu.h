// The emulated phone: the ARM Windows CE klavor.exe, its real machine code,
// run instruction by instruction on Unicorn's PXA270 (the phones' XScale),
// with every coredll import it calls served by the simulated phone's own
// implementation (platform/sim), the one the host build links.
//
// Driving the phone (scenarios, time, the trace) stays with platform/sim;
// this runs the program on it in place of the host's WinMain.
#ifndef KLAVOR_EMU_EMU_H
#define KLAVOR_EMU_EMU_H

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "pe_image.h"

namespace emu {

// The program did something the phone would not let it do, or something
// the emulated phone cannot serve faithfully: an access outside the image,
// the stack and the guest data, an undefined instruction, an import that is
// not served. The message names the address and the import.
struct Fault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Starts the image as Windows CE starts a program: a fresh address space,
// the image at its own base, the entry point called with WinMain's four
// arguments in r0-r3. Returns what the entry returns, the exit code. The
// simulated phone is used as it stands (reset and set up by the caller).
// sim::Halted passes through when the run ends with the program still
// running; a fault throws Fault, as does a DLL given for a program.
int RunProgram(const PeImage& image, HINSTANCE instance, const std::u16string& commandLine, int show);
// The same with the image moved to base by its base relocations, as a
// loader may move one (the phone's does not move a program; the tests move
// the real klavor.exe to prove the relocations on a linker's own output).
int RunProgram(const PeImage& image, HINSTANCE instance, const std::u16string& commandLine, int show,
               std::uint32_t base);

// What the last program run did, for the speed bench: the program's own
// data accesses (as the CPU made them) and its calls of the phone. Only
// RunProgram's runs count, the last to end; a DLL's calls do not.
struct RunCounts {
    std::uint64_t loads = 0, stores = 0, calls = 0;
};
RunCounts LastRunCounts();

// One argument of a call into guest code: a word (an integer, a BOOL, a
// handle), or a string, which the call places in guest memory as UTF-16
// with its terminating zero, for the duration of the call (an LPCTSTR).
class Arg {
public:
    template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
    Arg(T word) : word_(static_cast<std::uint32_t>(word)) {}
    static Arg Text(std::u16string text);
    // A handle of the phone as the guest's word; Fault unless it fits 32 bits.
    static Arg Handle(const void* handle);

    bool IsText() const { return isText_; }
    std::uint32_t Word() const { return word_; }
    const std::u16string& String() const { return text_; }

private:
    Arg() = default;
    std::uint32_t word_ = 0;
    bool isText_ = false;
    std::u16string text_;
};

class Machine;

// A Windows CE DLL loaded as the phone's loader loads one into the process
// that asks for it: an address space of its own here (a machine, like a
// program's), the image at a base other than its preferred one with its
// base relocations applied, and its coredll imports served by the simulated
// phone as a program's are. Its code runs on the host stack that calls it.
class Dll {
public:
    // Reads, checks and maps the DLL; runs none of its code. On failure
    // returns nothing and says why in *error, naming the file.
    static std::optional<Dll> Load(const std::vector<std::uint8_t>& bytes, const std::string& path,
                                   std::string* error);
    Dll(Dll&&) noexcept;
    Dll& operator=(Dll&&) noexcept;
    ~Dll();

    // The entry point, as the loader calls it when the DLL is loaded and
    // freed: (hinstDLL, DLL_PROCESS_ATTACH or DLL_PROCESS_DETACH, NULL).
    // Returns whether it returned TRUE (non-zero); without an entry point,
    // true. Exports may be called only after an Attach that returned true.
    bool Attach();
    bool Detach();

    // Calls the export of this name with word arguments (r0-r3, then the
    // stack) and returns r0. Fault for an export that is not there, a call
    // before Attach and anything the DLL's code does wrong, naming the DLL
    // and the address; after such a fault, for any call of its code.
    // sim::Halted passes through when the run ends in it.
    std::uint32_t Call(const std::string& exportName, std::initializer_list<Arg> args);
    std::uint32_t Call(const std::string& exportName, const std::vector<Arg>& args);
    bool Has(const std::string& exportName) const;

    std::uint32_t Base() const;  // where it is loaded: its module handle
    const PeImage& Image() const { return *image_; }
    const std::string& Path() const { return image_->path; }

private:
    Dll(std::unique_ptr<PeImage> image, std::unique_ptr<Machine> machine);
    std::uint32_t Enter(std::uint32_t reason);
    std::uint32_t Run(std::uint32_t address, const std::vector<Arg>& args, const std::string& what);

    std::unique_ptr<PeImage> image_;
    std::unique_ptr<Machine> machine_;
    bool attached_ = false;
    bool faulted_ = false;
};

// Where Dll::Load maps a DLL of this image: as Windows CE places DLLs, high
// in a process's 32 MB slot (ending at 0x02000000, 64 KB aligned), and
// never at its preferred base. Nothing when the image is too large for that.
std::optional<std::uint32_t> DllBase(const PeImage& image);

// The imports the loader serves, by name (see imports.h).
std::vector<std::string> ServedImports();

}  // namespace emu

#endif
