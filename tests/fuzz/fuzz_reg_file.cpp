// The .reg reader: any file content. A refusal names the file (and the line
// where there is one); a value it reads survives being written as klavorcfg
// writes .reg files and read again, byte for byte.
#include "config/config_text.h"
#include "fuzz_check.h"

namespace {
const std::string kFile = "fuzz.reg";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content = fuzz::Text(data, size);
    (void)config::DetectInputKind(kFile, content);

    std::string error;
    std::optional<config::Bytes> value = config::ParseRegFile(content, kFile, &error);
    if (!value) {
        FUZZ_CHECK(fuzz::NamesFileAndLine(error, kFile) || fuzz::NamesFile(error, kFile),
                   "a refusal must name the file: " + error);
        return 0;
    }
    const std::string written = config::FormatRegFile(*value);
    std::optional<config::Bytes> again = config::ParseRegFile(written, kFile, &error);
    FUZZ_CHECK(again, "what klavorcfg writes must read back: " + error + "\n" + written);
    FUZZ_CHECK(*again == *value, "write, read: other bytes\n" + written);
    // What show then prints of it.
    (void)config::DescribeValue(*value, kFile);
    return 0;
}
