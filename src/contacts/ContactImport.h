#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "ContactProblem.h"
#include "Result.h"
#include "records/RecordStream.h"

namespace tesselby {

// The people in a file to import, found by what it holds: vCards when it starts with BEGIN:VCARD, else
// CSV with a header that names columns Tesselby knows. Any byte-order mark, UTF-8 or UTF-16, is read.
// Problems come in line order.
ContactsRead readContacts(std::string_view bytes);
// The same for a file read a piece at a time through source: a file of vCards in UTF-8 is never held
// whole, and its cards become people as they are read; any other is read whole first. Fails only when
// source does. Pieces are about pieceBytes; expectedBytes, when known, is the file's size.
Result<ContactsRead> readContacts(const ByteSource& source, std::size_t pieceBytes = std::size_t(1) << 20,
                                  std::uint64_t expectedBytes = 0);

// A source that can be read at any place, as a file can: up to room bytes from offset, 0 at the end.
// Reads may come from two threads at once.
using PlacedByteSource = std::function<Result<std::size_t>(std::uint64_t offset, char* into, std::size_t room)>;
// The same for such a source: a file of cards four pieces long or more is read in two halves at once.
Result<ContactsRead> readContacts(const PlacedByteSource& source, std::size_t pieceBytes, std::uint64_t expectedBytes);

// The same for a text known to be vCards, or CSV, already decoded to UTF-8; broken names the lines that
// held a broken character (see DecodedText), whose cards or rows are skipped, each with a problem.
ContactsRead readVCardContacts(std::string_view text, const std::vector<ContactProblem>& broken = {});
ContactsRead readCsvContacts(std::string_view text, const std::vector<ContactProblem>& broken = {});

} // namespace tesselby
