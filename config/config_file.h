// Whatever file a user gives as a configuration: the text form, a .reg
// file, a raw image, or an installation cabinet that sets the value. One
// reading for every front, so that each says the same of the same file.
#ifndef KLAVOR_CONFIG_CONFIG_FILE_H
#define KLAVOR_CONFIG_CONFIG_FILE_H

#include <optional>
#include <string>

#include "config_text.h"
#include "klavor_cab.h"

namespace config {

struct ConfigFile {
    LoadedConfig config;                // the value (empty when a cabinet sets none) and where it came from
    std::optional<Table> table;         // none: the value is not one table long, or there is none
    std::optional<cecab::InstallCabinet> cab;  // when the file is a cabinet
};

// The one reading of a configuration file, for every front: a cabinet by
// its content ("MSCF") or its .cab name; else a .reg file, a raw image or
// the text form as DetectInputKind (config_text.h) tells them apart. The
// value is what the file holds, to store in the registry as it is: only
// the text form is sure to give one table, so that a wrong length can be
// shown. Errors are "file: what is wrong" or "file:line: what is wrong".
std::optional<ConfigFile> ReadConfigFile(const std::string& content, const std::string& path, std::string* error);

// Why a file gives no table to write: its value is not one table long, or
// it is a cabinet that sets no value. Call only when `file.table` is empty.
std::string NoTableMessage(const ConfigFile& file, const std::string& path);

}  // namespace config

#endif
