// A configuration read from a file by its path: what the tools do with
// the configuration library's ReadConfig when the input is a file.
#ifndef KLAVOR_TOOLS_COMMON_CONFIG_FILES_H
#define KLAVOR_TOOLS_COMMON_CONFIG_FILES_H

#include <optional>
#include <string>

#include "config_text.h"

namespace files {

// The value a configuration file means (config::ReadConfig); a file that
// cannot be read gives "path: reason".
std::optional<config::LoadedConfig> LoadConfig(const std::string& path, std::string* error);
std::optional<config::Bytes> LoadConfigValue(const std::string& path, std::string* error);

}  // namespace files

#endif
