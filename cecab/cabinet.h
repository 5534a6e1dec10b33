// Microsoft cabinet files (MSCF 1.3), the container of a Windows CE
// installation: written uncompressed, read stored or MSZIP-compressed.
//
// Everything a cabinet says (sizes, offsets, counts, checksums) is checked
// against the file before it is believed, so that a user hears exactly what
// is wrong: "file: what is wrong".
#ifndef KLAVOR_CECAB_CABINET_H
#define KLAVOR_CECAB_CABINET_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"

namespace cecab {

using base::Bytes;

// File attributes (CFFILE), and folder compressions (CFFOLDER).
enum : std::uint16_t { kCabReadOnly = 0x01, kCabArchive = 0x20, kCabNameIsUtf8 = 0x80 };
enum : std::uint16_t { kCabStored = 0, kCabMszip = 1 };
constexpr std::size_t kCabBlockBytes = 32768;  // the most one data block expands to

struct CabMember {
    std::string name;
    Bytes data;
    // As read; the writer gives every member the archive attribute and
    // the cabinet's date, in its one folder.
    std::uint16_t attributes = kCabArchive;
    std::uint16_t folder = 0;
};

struct Cabinet {
    std::vector<CabMember> members;  // in the order the cabinet lists them
    std::vector<std::uint16_t> folders;  // each folder's compression
    std::uint16_t setId = 0;
    // Reserved bytes per header, per folder entry and per data block.
    std::size_t headerReserve = 0, folderReserve = 0, dataReserve = 0;
};

// True when the content starts like a cabinet ("MSCF").
bool LooksLikeCabinet(const std::string& content);

// A moment as a DOS date and time, the members' date in a cabinet, taken
// in UTC and not in any local time zone, so that the same moment gives
// the same bytes wherever the cabinet is made. Even seconds; clamped to
// 1980-01-01 00:00:00 to 2107-12-31 23:59:58.
struct DosDateTime {
    std::uint16_t date = 0, time = 0;
};
DosDateTime DosDateTimeUtc(std::int64_t secondsSince1970);

// One uncompressed folder holding the members in the order given, each
// with the archive attribute and dated `modified` (seconds since
// 1970-01-01 00:00 UTC, see DosDateTimeUtc). Data blocks of 32768 bytes,
// each with its checksum; the set id is taken from the contents. The same
// inputs give the same bytes.
std::optional<Bytes> WriteCabinet(const std::vector<CabMember>& members, std::int64_t modified, std::string* error);

// The cabinet's members and layout, or nullopt with `error` set to "file:
// what is wrong". Takes stored and MSZIP folders, reserved areas and any
// number of folders; refuses a cabinet that spans several files, and a
// data block whose checksum does not match its data (a damaged cabinet
// whose bytes should not reach a phone).
std::optional<Cabinet> ReadCabinet(const Bytes& content, const std::string& file, std::string* error);

}  // namespace cecab

#endif
