// The equipment configuration loader: reads one TOML file (the schema is documented in
// docs/configuration.md) and adds its system settings, modules, drivers, enumerations, points,
// functions and alarms to a DatabaseBuilder. It checks every value against its field before
// anything is published, so a bad file never produces a database.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/builder.h"

namespace vexlor::config {

// Loads the configuration at `path` into `builder`. On success returns true and appends one
// line per warning (unknown keys, duplicate names, alarms outside their module's block) to
// `warnings` when given (also a missing system alarm pool 800..898 or "CTC.Language"
// point). A folder, a device, an empty file and an image over detail::kMaxImageBytes are
// refused. On failure returns false and sets `error` to one line naming the
// file, the line and the field, for example
//   equipment.toml:42: digital[3].enum: unknown enumeration "OnOf"
// The builder then holds a partial equipment and must be discarded, not published.
bool load_configuration(const std::string& path, DatabaseBuilder& builder, std::string* error,
                        std::vector<std::string>* warnings);

// Like load_configuration, but a bad record does not end the load: every error line goes to
// `errors` (records that depend on a bad one may add errors of their own) and every warning
// to `warnings`. True when there was no error.
bool check_configuration(const std::string& path, DatabaseBuilder& builder,
                         std::vector<std::string>* errors, std::vector<std::string>* warnings);

// Converts a configured text (UTF-8, as every TOML file is) into the charset the library is
// built for. Field widths are checked on the converted bytes.
std::string to_build_charset(std::string_view utf8);

}  // namespace vexlor::config
