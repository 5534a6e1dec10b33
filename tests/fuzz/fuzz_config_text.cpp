// klavorcfg's readable configuration: any file content, decoded as the tool
// decodes it, then parsed. A refusal names the file and the line; a table
// that parses survives being written out (as `show` and `defaults` write it)
// and parsed again, image for image; the check says something sane of it.
#include "config/config_check.h"
#include "config/config_text.h"
#include "fuzz_check.h"

namespace {

const std::string kFile = "fuzz.klavor";

config::Bytes ReparseImage(const std::string& text, const std::string& what) {
    std::string error;
    std::optional<config::Table> again = config::ParseConfigText(text, kFile, &error);
    FUZZ_CHECK(again, what + " does not parse: " + error + "\n" + text);
    return config::EncodeTable(*again);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content = fuzz::Text(data, size);
    (void)config::DetectInputKind(kFile, content);

    std::string error;
    std::optional<std::string> text = config::DecodeText(content, kFile, &error);
    if (!text) {
        FUZZ_CHECK(fuzz::NamesFile(error, kFile), "undecodable text must be said with the file: " + error);
        return 0;
    }
    config::Origin origin;
    std::optional<config::Table> table = config::ParseConfigText(*text, kFile, &error, &origin);
    if (!table) {
        FUZZ_CHECK(fuzz::NamesFileAndLine(error, kFile), "a refusal must name the file and line: " + error);
        return 0;
    }
    const config::Bytes image = config::EncodeTable(*table);
    FUZZ_CHECK(config::DecodeValue(image) && config::EncodeTable(*config::DecodeValue(image)) == image,
               "the image must decode to the same table");

    const std::string formatted = config::FormatConfigText(*table);
    FUZZ_CHECK(ReparseImage(formatted, "the formatted table") == image, "format, parse: another image\n" + formatted);
    const std::string shown = config::DescribeValue(image, kFile);
    FUZZ_CHECK(ReparseImage(shown, "what show prints") == image, "show, parse: another image\n" + shown);

    int lines = 1;
    for (char c : *text) lines += c == '\n';
    for (const config::Finding& f : config::CheckTable(*table, origin)) {
        FUZZ_CHECK(f.line >= 0 && f.line <= lines, "a finding on a line the file does not have: " + f.text);
        FUZZ_CHECK(fuzz::NamesFile(f.text, kFile) || fuzz::NamesFileAndLine(f.text, kFile),
                   "a finding must name the file: " + f.text);
    }
    return 0;
}
