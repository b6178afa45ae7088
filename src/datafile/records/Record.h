#pragma once

#include <array>
#include <string>

namespace tesselby {

// One person: first name, last name, phone number, e-mail address, in the file's field order.
inline constexpr int kFieldCount = 4;
using Record = std::array<std::string, kFieldCount>;

} // namespace tesselby
