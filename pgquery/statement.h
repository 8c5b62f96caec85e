// The statements the query module composes, and its message texts.
#pragma once

#include <cstddef>

namespace qor::pgq {

enum class Kind { items, nitems, select, vselect, unknown };

// The query kind named by the caller, compared as a whole string.
Kind query_kind(const char* kind);

// The key column as sent to the server: "__STD" stands for the standard
// name column of the catalogue tables.
const char* key_column(const char* keycol);

// Writes the statement of the kind into buf (at most size bytes, always
// terminated when size > 0) and returns its full length, like snprintf;
// -1 for an unknown kind or a text too long to count. keyval goes between
// the quotes as given: the caller quotes it.
int compose_query(char* buf, std::size_t size, Kind kind, const char* table, const char* keyval,
                  const char* columns, const char* keycol);

// A newly allocated string holding the whole formatted text, or null when
// no memory is left. The caller releases it with free().
char* format_message(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace qor::pgq
