#pragma once

#include <string_view>

#include "ContactProblem.h"

namespace tesselby {

// The people in a file to import, found by what it holds: vCards when it starts with BEGIN:VCARD, else
// CSV with a header that names columns Tesselby knows. Any byte-order mark, UTF-8 or UTF-16, is read.
// Problems come in line order.
ContactsRead readContacts(std::string_view bytes);

} // namespace tesselby
