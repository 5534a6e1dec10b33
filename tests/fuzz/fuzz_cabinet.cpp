// A cabinet file: any bytes. A refusal names the file; the members of one
// that reads (stored or MSZIP, any number of folders, reserved areas),
// written again as klavorcfg writes cabinets, read back as the same names
// and bytes, and write again as the same file; one that reads as an
// installation is described as show describes it.
#include "cecab/cabinet.h"
#include "fuzz_check.h"
#include "config/klavor_cab.h"

namespace {
const std::string kFile = "fuzz.cab";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const config::Bytes content(data, data + size);
    (void)cecab::LooksLikeCabinet(std::string(content.begin(), content.end()));

    std::string error;
    std::optional<cecab::Cabinet> read = cecab::ReadCabinet(content, kFile, &error);
    const std::vector<cecab::CabMember>* members = read ? &read->members : nullptr;
    if (!read) {
        FUZZ_CHECK(fuzz::NamesFile(error, kFile), "a refusal must name the file: " + error);
    } else {
        // Whatever reads, written again as klavorcfg writes cabinets (one
        // stored folder), reads back as the same members.
        std::optional<config::Bytes> written = cecab::WriteCabinet(*members, 1700000000, &error);
        FUZZ_CHECK(written, "what reads must write: " + error);
        std::optional<cecab::Cabinet> again = cecab::ReadCabinet(*written, kFile, &error);
        FUZZ_CHECK(again, "what klavorcfg writes must read back: " + error);
        FUZZ_CHECK(again->members.size() == members->size(), "write, read: another number of members");
        for (std::size_t i = 0; i < members->size(); ++i) {
            FUZZ_CHECK(again->members[i].name == (*members)[i].name, "write, read: member " + std::to_string(i) + " renamed");
            FUZZ_CHECK(again->members[i].data == (*members)[i].data, "write, read: member " + (*members)[i].name + " changed");
        }
        FUZZ_CHECK(cecab::WriteCabinet(again->members, 1700000000, &error) == written, "the writer is not deterministic");
    }

    std::optional<cecab::InstallCabinet> cab = cecab::ReadInstallCabinet(content, kFile, &error);
    if (!cab) {
        FUZZ_CHECK(fuzz::NamesFile(error, kFile), "a refusal must name the file: " + error);
        return 0;
    }
    FUZZ_CHECK(members, "a cabinet that reads as an installation must read as a cabinet");
    for (const auto& f : cab->setup.files) (void)cecab::FindMember(*cab, f.id);
    (void)config::FindKlavorValue(cab->setup);
    (void)config::DescribeInstallCabinet(*cab, kFile);
    return 0;
}
