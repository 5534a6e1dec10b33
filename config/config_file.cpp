#include "config_file.h"

#include <cctype>

namespace config {
namespace {

bool IsCabName(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".cab";
}

}  // namespace

std::optional<ConfigFile> ReadConfigFile(const std::string& content, const std::string& path, std::string* error) {
    ConfigFile file;
    if (LooksLikeCabinet(content) || IsCabName(path)) {
        std::optional<InstallCabinet> cab = ReadInstallCabinet(Bytes(content.begin(), content.end()), path, error);
        if (!cab) return std::nullopt;
        file.config.origin.file = path;
        if (const CeRegValue* value = FindKlavorValue(cab->setup)) {
            file.config.value = value->data;
            file.table = DecodeValue(value->data);
        }
        file.cab = std::move(cab);
        return file;
    }
    std::optional<LoadedConfig> read = ReadConfig(content, path, error);
    if (!read) return std::nullopt;
    file.config = std::move(*read);
    file.table = DecodeValue(file.config.value);
    return file;
}

std::string NoTableMessage(const ConfigFile& file, const std::string& path) {
    if (file.cab && !FindKlavorValue(file.cab->setup))
        return path + ": the cabinet sets no " + RegistryValueName() + " value";
    return WrongLengthMessage(path, file.config.value.size());
}

}  // namespace config
