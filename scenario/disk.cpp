#include "disk.h"

#include <fstream>

#include "files/files.h"

namespace scenario {
namespace {

std::string Dir(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace

FileReader DiskFiles(const std::string& scenarioFile, const std::string& filesDir) {
    return [dir = Dir(scenarioFile), filesDir](const std::string& name, FileUse use,
                                               std::string* error) -> std::optional<NamedFile> {
        std::string path = name;
        if (path.empty() || path[0] != '/') {
            path = dir + name;
            if (use == FileUse::Cabinet && !filesDir.empty() && std::ifstream(filesDir + "/" + name).good())
                path = filesDir + "/" + name;
        }
        std::optional<std::string> content = files::ReadInput(path, error);
        if (!content) return std::nullopt;
        return NamedFile{path, std::move(*content)};
    };
}

std::variant<Scenario, ParseError> ParseScenario(const std::string& text, const std::string& file,
                                                 const std::string& filesDir) {
    return ParseScenario(text, file, DiskFiles(file, filesDir));
}

std::variant<Scenario, ParseError> LoadScenario(const std::string& path, const std::string& filesDir) {
    std::string error;
    std::optional<std::string> text = files::ReadInput(path, &error);
    // The message already names the file.
    if (!text) return ParseError{path, 0, error.substr(path.size() + 2)};
    return ParseScenario(*text, path, filesDir);
}

}  // namespace scenario
