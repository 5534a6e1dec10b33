// Little-endian integers in a file's bytes, as cabinets, their control
// files and PE images store them. The caller has checked the bounds.
#ifndef KLAVOR_BASE_LITTLE_ENDIAN_H
#define KLAVOR_BASE_LITTLE_ENDIAN_H

#include <cstdint>

namespace base {

inline std::uint16_t LoadLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace base

#endif
