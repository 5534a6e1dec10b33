#include "config_file.h"

#include "base/text.h"

namespace config {
namespace {

bool IsCabName(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    return base::Lower(path.substr(dot)) == ".cab";
}

// The value bytes the content means, to store in the registry as they
// are: a .reg file's value, a raw image whole, or the text form encoded.
// Only the text form is sure to give one table; the others give what the
// file holds, so that a wrong length can be shown.
std::optional<LoadedConfig> ReadConfig(const std::string& content, const std::string& path, std::string* error) {
    LoadedConfig loaded;
    loaded.origin.file = path;
    switch (DetectInputKind(path, content)) {
    case InputKind::RegFile: {
        std::optional<Bytes> value = ParseRegFile(content, path, error);
        if (!value) return std::nullopt;
        loaded.value = *value;
        return loaded;
    }
    case InputKind::Image:
        loaded.value.assign(content.begin(), content.end());
        return loaded;
    case InputKind::Text:
        break;
    }
    std::optional<std::string> text = DecodeText(content, path, error);
    if (!text) return std::nullopt;
    std::optional<Table> table = ParseConfigText(*text, path, error, &loaded.origin);
    if (!table) return std::nullopt;
    loaded.value = EncodeTable(*table);
    return loaded;
}

}  // namespace

std::optional<ConfigFile> ReadConfigFile(const std::string& content, const std::string& path, std::string* error) {
    ConfigFile file;
    if (cecab::LooksLikeCabinet(content) || IsCabName(path)) {
        std::optional<cecab::InstallCabinet> cab = cecab::ReadInstallCabinet(Bytes(content.begin(), content.end()), path, error);
        if (!cab) return std::nullopt;
        file.config.origin.file = path;
        if (const cecab::CeRegValue* value = FindKlavorValue(cab->setup)) {
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
