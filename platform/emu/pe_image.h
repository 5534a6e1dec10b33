// A Windows CE ARM executable or DLL as the phone's loader sees it: its
// headers, sections, imports, exports, base relocations and icon groups,
// read and checked from the file.
#ifndef KLAVOR_EMU_PE_IMAGE_H
#define KLAVOR_EMU_PE_IMAGE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace emu {

struct Section {
    std::string name;
    std::uint32_t rva = 0;
    std::uint32_t size = 0;  // bytes the section takes in memory
    std::uint32_t characteristics = 0;
    bool Executable() const { return (characteristics & 0x20000000u) != 0; }
    bool Readable() const { return (characteristics & 0x40000000u) != 0; }
    bool Writable() const { return (characteristics & 0x80000000u) != 0; }
};

// One entry of the import address table.
struct Import {
    std::string dll;
    std::string name;          // empty for an import by ordinal
    std::uint16_t ordinal = 0;  // for an import by ordinal
    std::uint32_t iatRva = 0;   // where the loader writes the address
    std::string Text() const;   // "COREDLL.dll!Sleep" or "COREDLL.dll#123"
};

// One entry of the export directory.
struct Export {
    std::string name;           // empty for one exported by ordinal only
    std::uint16_t ordinal = 0;  // the ordinal base plus its index
    std::uint32_t rva = 0;
};

struct PeImage {
    std::string path;
    std::uint32_t imageBase = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t entryRva = 0;  // 0 in a DLL without an entry point
    std::uint32_t stackReserve = 0;
    std::uint32_t headersSize = 0;
    std::vector<std::uint8_t> memory;  // the image as mapped: imageSize bytes from imageBase
    std::vector<Section> sections;
    std::vector<Import> imports;
    std::vector<int> iconGroups;  // the integer names of the RT_GROUP_ICON resources
    bool dll = false;                  // IMAGE_FILE_DLL
    bool relocationsStripped = false;  // IMAGE_FILE_RELOCS_STRIPPED: it runs only at imageBase
    std::uint16_t characteristics = 0;  // the file header's, for messages
    std::vector<Export> exports;  // in the order of the export address table
    // The words that hold addresses in the image (IMAGE_REL_BASED_HIGHLOW),
    // by RVA, each inside a section: they move with the image.
    std::vector<std::uint32_t> relocations;

    const Export* FindExport(const std::string& exportName) const;  // by name, as GetProcAddress does
};

// Moves the image to base: memory holds a copy of image.memory, in which
// every relocated word moves by the difference from imageBase. (An image
// whose relocations were stripped cannot move: that is the caller's to check.)
void ApplyRelocations(const PeImage& image, std::uint32_t base, std::uint8_t* memory);

// Reads an ARM (machine 0x1C0) Windows CE executable or DLL. On failure returns
// nothing and says why in *error, naming the file.
std::optional<PeImage> LoadPeImage(const std::string& path, std::string* error);
std::optional<PeImage> ParsePeImage(const std::vector<std::uint8_t>& file, const std::string& name,
                                    std::string* error);

}  // namespace emu

#endif
