#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace tesselby {

// The four fields of a person, in the order the file holds them: the file's first item is a first name,
// its fifth the next person's, and so on.
enum class Field { FirstName, LastName, Phone, Email };

inline constexpr int kFieldCount = 4;
inline constexpr std::array<Field, kFieldCount> kFields = {Field::FirstName, Field::LastName, Field::Phone,
                                                           Field::Email};

// A field's place in a record, counted from 0.
constexpr std::size_t fieldIndex(Field field)
{
    return static_cast<std::size_t>(field);
}

// Something for each field, reached by the field's name, or by its place where the fields are walked in
// the file's order.
template <typename T> struct PerField : std::array<T, kFieldCount> {
    using std::array<T, kFieldCount>::operator[];
    constexpr T& operator[](Field field) { return (*this)[fieldIndex(field)]; }
    constexpr const T& operator[](Field field) const { return (*this)[fieldIndex(field)]; }
};

// What a field is called: one table for both screens and the command.
struct FieldNames {
    std::string_view caption; // the screens' option buttons, labels and boxes
    std::string_view inWords; // inside a sentence to the person
    std::string_view option;  // tesselby-contacts' --field
};
inline constexpr PerField<FieldNames> kFieldNames = {
    FieldNames{"First Name", "first name", "first"},
    FieldNames{"Last Name", "last name", "last"},
    FieldNames{"Phone #", "phone number", "phone"},
    FieldNames{"E-Mail", "e-mail address", "email"},
};

constexpr const FieldNames& namesOf(Field field)
{
    return kFieldNames[field];
}

// The field a command-line option names, if any.
constexpr std::optional<Field> fieldForOption(std::string_view option)
{
    for (const Field field : kFields) {
        if (namesOf(field).option == option)
            return field;
    }
    return std::nullopt;
}

} // namespace tesselby
