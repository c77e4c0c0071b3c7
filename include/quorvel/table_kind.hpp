// Telling a table by its first line: the tables the programs write (in any
// format) are refused where another table is expected, and so are binary
// files, before anything is read from them or written over.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel::rule {

enum class TableKind { OTHER, RULES, ITEM_SETS };

/// The table whose first line (its line end removed) this is, as the
/// programs write rule and item-set tables as TSV, CSV or JSON Lines: a
/// header told by its cells (blanks, quotes and empty cells at its end
/// aside), a JSON record, or a row of such a table whose header is gone.
TableKind writtenTableKind(std::string_view firstLine);

/// The table a row (its line end removed) belongs to: a rule row is an
/// "A => B" cell (TSV) or two braced sides (CSV) and eight measures; an
/// item-set row a count and a braced set.
TableKind writtenRowKind(std::string_view line);

/// "rule table", "item-set table".
const char* tableKindName(TableKind kind);

/// "This is a rule table, not a transaction table."
std::string wrongTableMessage(TableKind found, const char* expected);

/// The UTF-8 byte-order mark, which Excel writes before a CSV's header.
constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

/// How far into a file a NUL byte in the first line tells a binary file.
constexpr size_t BINARY_SNIFF_BYTES = 4096;

/// True when a NUL byte comes before any line end in the first
/// BINARY_SNIFF_BYTES of `start`.
bool looksBinary(std::string_view start);

/// "This is not a text table: its first line holds a NUL byte."
extern const char* const NOT_TEXT_MESSAGE;

/// Why a start that looksBinary is not read: UTF-16 text (told by its
/// byte-order mark or its every other byte NUL) is named as such, with
/// how to convert it; anything else is NOT_TEXT_MESSAGE.
std::string notTextMessage(std::string_view start);

} // namespace quorvel::rule
