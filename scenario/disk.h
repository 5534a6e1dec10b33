// Scenarios from the disk: the files a scenario names are read beside it.
#ifndef KLAVOR_SCENARIO_DISK_H
#define KLAVOR_SCENARIO_DISK_H

#include <string>
#include <variant>

#include "scenario.h"

namespace scenario {

// A relative name is in the scenario's own folder; `filesDir`, if given, is
// where a cabinet an `install` line names by a relative path is looked for
// first (klavor-sim --files).
FileReader DiskFiles(const std::string& scenarioFile, const std::string& filesDir = "");
std::variant<Scenario, ParseError> ParseScenario(const std::string& text, const std::string& file,
                                                 const std::string& filesDir = "");
std::variant<Scenario, ParseError> LoadScenario(const std::string& path, const std::string& filesDir = "");

}  // namespace scenario

#endif
