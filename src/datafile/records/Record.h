#pragma once

#include <string>

#include "records/Field.h"

namespace tesselby {

// One person: first name, last name, phone number, e-mail address, in the file's field order.
using Record = PerField<std::string>;

} // namespace tesselby
