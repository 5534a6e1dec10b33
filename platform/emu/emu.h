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
#include <stdexcept>
#include <string>
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
// the entry point called with WinMain's four arguments in r0-r3. Returns
// what the entry returns, the exit code. The simulated phone is used as it
// stands (reset and set up by the caller). sim::Halted passes through
// when the run ends with the program still running; a fault throws Fault.
int RunProgram(const PeImage& image, HINSTANCE instance, const std::u16string& commandLine, int show);

// What the last program run did, for the speed bench: the program's own
// data accesses (as the CPU made them) and its calls of the phone.
struct RunCounts {
    std::uint64_t loads = 0, stores = 0, calls = 0;
};
RunCounts LastRunCounts();

// The imports the loader serves, by name (see imports.h).
std::vector<std::string> ServedImports();

}  // namespace emu

#endif
