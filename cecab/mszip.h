// MSZIP, the compression of a cabinet folder: each data block is "CK" and
// a deflate stream (RFC 1951) of at most 32768 bytes, whose back-references
// may reach into the blocks before it in the same folder.
#ifndef KLAVOR_CECAB_MSZIP_H
#define KLAVOR_CECAB_MSZIP_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"

namespace cecab {

using base::Bytes;

// Expands one MSZIP block (with its "CK") onto the end of `stream`, the
// folder's data so far, which is also the window its back-references read.
// The block must expand to exactly `expanded` bytes. False, with `error`
// saying what is wrong, for anything else; `stream` is then undefined.
bool ExpandMszipBlock(const std::uint8_t* block, std::size_t size, std::size_t expanded, Bytes& stream,
                      std::string* error);

}  // namespace cecab

#endif
