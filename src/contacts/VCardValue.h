#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "VCardReader.h"

namespace tesselby {

// A structured value's part (N's family;given;...) by its place, parts ending at the semicolons no
// backslash escapes; none when the value has fewer.
std::optional<std::string_view> valueComponent(std::string_view value, std::size_t index);

struct VCardValueError {
    std::string message;
};

// One part of a property's value as UTF-8 text: its ENCODING undone (quoted-printable, base64), its
// CHARSET turned into UTF-8, its escapes undone (\n becomes CR LF); or why it cannot be read.
std::variant<std::string, VCardValueError> decodeValue(const VCardProperty& property, std::string_view part);

} // namespace tesselby
