// Microsoft cabinet files (MSCF), the container of a Windows CE
// installation, written and unpacked through libgcab.
//
// Before libgcab sees a cabinet, its structure is walked here within the
// file's bounds: libgcab takes some lies without complaint (a wrong total
// size, a wrong count of data blocks, a file table somewhere else than the
// header says), and a user should hear exactly what is wrong.
#ifndef KLAVOR_CONFIG_CABINET_H
#define KLAVOR_CONFIG_CABINET_H

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "config_text.h"  // Bytes

namespace config {

struct CabMember {
    std::string name;
    Bytes data;
};

// True when the content starts like a cabinet ("MSCF").
bool LooksLikeCabinet(const std::string& content);

// One uncompressed folder holding the members in the order given, each
// with the archive attribute and dated `modified` (seconds since the epoch,
// stored as local time as DOS dates are; clamped to 1980-2107).
std::optional<Bytes> WriteCabinet(const std::vector<CabMember>& members, std::time_t modified, std::string* error);

// The members of a cabinet in the order it lists them, or nullopt with
// `error` set to "file: what is wrong". Takes uncompressed and MSZIP
// folders; refuses a cabinet that spans several files.
std::optional<std::vector<CabMember>> ReadCabinet(const Bytes& content, const std::string& file, std::string* error);

}  // namespace config

#endif
