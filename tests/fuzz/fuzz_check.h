// What the fuzz targets share: a check that stops the run with a message,
// so that libFuzzer keeps the input that broke it.
#ifndef KLAVOR_TESTS_FUZZ_CHECK_H
#define KLAVOR_TESTS_FUZZ_CHECK_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(cond, what)                                                                 \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", __FILE__, __LINE__, #cond, \
                         std::string(what).c_str());                                           \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace fuzz {

inline std::string Text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// "file:LINE: message" with a line number of at least 1 and a message.
inline bool NamesFileAndLine(const std::string& error, const std::string& file) {
    if (error.compare(0, file.size() + 1, file + ":") != 0) return false;
    std::size_t i = file.size() + 1, digits = 0;
    while (i < error.size() && error[i] >= '0' && error[i] <= '9') ++i, ++digits;
    return digits > 0 && error[file.size() + 1] != '0' && error.compare(i, 2, ": ") == 0 && error.size() > i + 2;
}

// "file: message".
inline bool NamesFile(const std::string& error, const std::string& file) {
    return error.compare(0, file.size() + 2, file + ": ") == 0 && error.size() > file.size() + 2;
}

}  // namespace fuzz

#endif
