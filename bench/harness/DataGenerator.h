#pragma once

#include <cstddef>
#include <string>

namespace tesselby::bench {

// A last name that one record in twenty carries, and a text that no record holds.
inline constexpr const char* kCommonLastName = "Okafor";
inline constexpr const char* kAbsentText = "Zzyzx";

// A data file of the given number of people, in the program's own format: names with accents and
// non-Latin letters, last names with commas and apostrophes, phone numbers, unique e-mail addresses.
std::string generateDataFile(std::size_t records, unsigned seed = 1);

} // namespace tesselby::bench
