#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "VCardReader.h"

namespace tesselby {

// A structured value's parts (N's family;given;...), at the semicolons no backslash escapes.
std::vector<std::string_view> valueComponents(std::string_view value);

struct VCardValueError {
    std::string message;
};

// One part of a property's value as UTF-8 text: its ENCODING undone (quoted-printable, base64), its
// CHARSET turned into UTF-8, its escapes undone (\n becomes CR LF); or why it cannot be read.
std::variant<std::string, VCardValueError> decodeValue(const VCardProperty& property, std::string_view part);

} // namespace tesselby
