#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "ContactProblem.h"
#include "records/RecordStream.h"
#include "Result.h"

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

// The same for a text known to be vCards, or CSV, already decoded to UTF-8; broken names the lines that
// held a broken character (see DecodedText), whose cards or rows are skipped, each with a problem.
ContactsRead readVCardContacts(std::string_view text, const std::vector<ContactProblem>& broken = {});
ContactsRead readCsvContacts(std::string_view text, const std::vector<ContactProblem>& broken = {});

} // namespace tesselby
