// The control file of a CE installation cabinet (the .000 member): any
// bytes. A refusal names the file; a control file that reads, written again
// as klavorcfg writes them and read back, is the same setup, and every path
// in it can be shown.
#include "cecab/ce_setup.h"
#include "fuzz_check.h"

namespace {
const std::string kFile = "fuzz.000";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const cecab::Bytes content(data, data + size);
    std::string error;
    std::optional<cecab::CeSetup> setup = cecab::DecodeCeSetup(content, kFile, &error);
    if (!setup) {
        FUZZ_CHECK(fuzz::NamesFile(error, kFile), "a refusal must name the file: " + error);
        return 0;
    }

    // Everything show prints of it, on paths whose ids the reader has checked.
    for (const auto& d : setup->dirs) (void)cecab::CeExpandFolder(cecab::CePathText(*setup, d.path));
    for (const auto& h : setup->hives) (void)cecab::CePathText(*setup, h.key), (void)cecab::CeRootName(h.root);
    for (const auto& l : setup->links)
        (void)cecab::CePathText(*setup, l.name), (void)cecab::CeFolderMacroText(l.folder);
    (void)cecab::CeProcessorName(setup->processor);

    std::optional<cecab::Bytes> written = cecab::EncodeCeSetup(*setup, &error);
    FUZZ_CHECK(written, "a control file that reads must write again: " + error);
    std::optional<cecab::CeSetup> again = cecab::DecodeCeSetup(*written, kFile, &error);
    FUZZ_CHECK(again, "what klavorcfg writes must read back: " + error);
    FUZZ_CHECK(*again == *setup, "read, write, read: another setup");
    return 0;
}
