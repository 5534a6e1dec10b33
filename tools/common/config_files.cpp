#include "config_files.h"

#include "files.h"

namespace files {

std::optional<config::LoadedConfig> LoadConfig(const std::string& path, std::string* error) {
    std::optional<std::string> content = ReadInput(path, error);
    if (!content) return std::nullopt;
    return config::ReadConfig(*content, path, error);
}

std::optional<config::Bytes> LoadConfigValue(const std::string& path, std::string* error) {
    std::optional<config::LoadedConfig> loaded = LoadConfig(path, error);
    if (!loaded) return std::nullopt;
    return loaded->value;
}

}  // namespace files
