#pragma once

#include <QStringList>

// Three people as item values, in file order; their last names overlap ("Smith" is in all three), so
// searches find one, two or three of them.
inline const QStringList kThreePeople = {
    "John", "Smith",     "555-0100", "john@example.org", //
    "Anna", "Smithers",  "555-0101", "anna@example.org", //
    "Tom",  "Goldsmith", "",         "tom@example.org",
};
