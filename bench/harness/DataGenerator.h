#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tesselby::bench {

// A last name that one record in twenty carries, and a text that no record holds.
inline constexpr const char* kCommonLastName = "Okafor";
inline constexpr const char* kAbsentText = "Zzyzx";
// A text one e-mail address holds in a list of a million people or more, and a letter that about one
// last name in seven holds.
inline constexpr const char* kRareText = ".777777@";
inline constexpr const char* kOneLetter = "S";

// A data file of the given number of people, in the program's own format: names with accents and
// non-Latin letters, last names with commas and apostrophes, phone numbers, unique e-mail addresses.
std::string generateDataFile(std::size_t records, unsigned seed = 1);
// The same list, handed to write a part at a time, so a list larger than memory can be made.
void generateDataFile(std::size_t records, const std::function<void(std::string_view)>& write, unsigned seed = 1);

// vCards of the given number of people as a phone exports them (version 3.0, N and FN, a preferred cell
// phone and a home one, an e-mail address), about 240 bytes each, the same people as generateDataFile's.
void generatePhoneCards(std::size_t records, const std::function<void(std::string_view)>& write, unsigned seed = 1);

} // namespace tesselby::bench
