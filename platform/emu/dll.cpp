// A DLL on the emulated phone: loaded into a machine of its own at a base
// that is not its preferred one, its entry point and exports called as the
// phone's loader and the program that loaded it would.
#include "base/text.h"
#include "machine.h"

#include <cstdio>

namespace emu {
namespace {

// Windows CE gives each process a 32 MB slot and places DLLs high in it,
// 64 KB aligned.
constexpr std::uint32_t kSlotTop = 0x02000000;
constexpr std::uint32_t kDllAlign = 0x10000;
constexpr std::uint32_t kMaxDll = 0x01000000;

constexpr std::uint32_t kProcessDetach = 0, kProcessAttach = 1;

using base::Hex;

}  // namespace

Arg Arg::Text(std::u16string text) {
    Arg a;
    a.isText_ = true;
    a.text_ = std::move(text);
    return a;
}

Arg Arg::Handle(const void* handle) {
    auto v = reinterpret_cast<std::uintptr_t>(handle);
    if (v > 0xFFFFFFFFu) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
        throw Fault(std::string("the phone's handle ") + buf + " does not fit the guest's 32 bits");
    }
    return Arg(static_cast<std::uint32_t>(v));
}

std::optional<std::uint32_t> DllBase(const PeImage& image) {
    std::uint32_t size = (image.imageSize + kDllAlign - 1) / kDllAlign * kDllAlign;
    if (size > kMaxDll) return std::nullopt;
    std::uint32_t base = kSlotTop - size;
    if (base == image.imageBase) base -= kDllAlign;
    return base;
}

Dll::Dll(std::unique_ptr<PeImage> image, std::unique_ptr<Machine> machine)
    : image_(std::move(image)), machine_(std::move(machine)) {}
Dll::Dll(Dll&&) noexcept = default;
Dll& Dll::operator=(Dll&&) noexcept = default;
Dll::~Dll() = default;

std::optional<Dll> Dll::Load(const std::vector<std::uint8_t>& bytes, const std::string& path, std::string* error) {
    std::optional<PeImage> parsed = ParsePeImage(bytes, path, error);
    if (!parsed) return std::nullopt;
    auto image = std::make_unique<PeImage>(std::move(*parsed));
    char flags[8];
    std::snprintf(flags, sizeof flags, "%04X", image->characteristics);
    if (!image->dll) {
        *error = path + ": not a DLL (its file header's characteristics, 0x" + flags + ", lack IMAGE_FILE_DLL, 0x2000)";
        return std::nullopt;
    }
    std::optional<std::uint32_t> base = DllBase(*image);
    if (!base) {
        *error = path + ": " + Hex(image->imageSize) + " bytes, too large for a DLL on the phone";
        return std::nullopt;
    }
    if (image->relocationsStripped) {
        *error = path + ": its base relocations were stripped (IMAGE_FILE_RELOCS_STRIPPED), so it cannot be "
                        "loaded anywhere but at its image base " + Hex(image->imageBase);
        return std::nullopt;
    }
    try {
        auto machine = std::make_unique<Machine>(*image, *base);
        return Dll(std::move(image), std::move(machine));
    } catch (const Fault& f) {
        *error = f.what();
        return std::nullopt;
    }
}

std::uint32_t Dll::Base() const { return machine_->Base(); }

bool Dll::Has(const std::string& exportName) const { return image_->FindExport(exportName) != nullptr; }

std::uint32_t Dll::Run(std::uint32_t address, const std::vector<Arg>& args, const std::string& what) {
    // A fault ends the DLL's code for good, as it ends the process on the
    // phone, even where the emulator could go on (a call of the phone that
    // failed leaves the guest waiting in it).
    if (faulted_) throw Fault(Path() + ": " + what + " called after the DLL's code stopped at a fault");
    try {
        return machine_->CallGuest(address, args, what.c_str());
    } catch (const Fault&) {
        faulted_ = true;
        throw;
    }
}

std::uint32_t Dll::Enter(std::uint32_t reason) {
    if (!image_->entryRva) return 1;
    // hinstDLL is the module's base address; reserved is NULL for a DLL
    // loaded (and freed) by LoadLibrary (FreeLibrary).
    return Run(Base() + image_->entryRva, {Base(), reason, 0u},
               std::string("the entry point (") + (reason == kProcessAttach ? "DLL_PROCESS_ATTACH)" : "DLL_PROCESS_DETACH)"));
}

bool Dll::Attach() {
    attached_ = Enter(kProcessAttach) != 0;
    return attached_;
}

bool Dll::Detach() {
    if (!attached_) throw Fault(Path() + ": detached without being attached");
    attached_ = false;
    return Enter(kProcessDetach) != 0;
}

std::uint32_t Dll::Call(const std::string& exportName, std::initializer_list<Arg> args) {
    return Call(exportName, std::vector<Arg>(args));
}

std::uint32_t Dll::Call(const std::string& exportName, const std::vector<Arg>& args) {
    const Export* e = image_->FindExport(exportName);
    if (!e) throw Fault(Path() + ": the DLL has no export named " + exportName);
    if (!attached_)
        throw Fault(Path() + ": " + exportName + " called before the DLL's entry point accepted DLL_PROCESS_ATTACH");
    return Run(Base() + e->rva, args, "the export " + exportName);
}

}  // namespace emu
