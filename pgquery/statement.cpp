#include "statement.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qor::pgq {

Kind query_kind(const char* kind) {
    if (kind == nullptr) return Kind::unknown;
    if (std::strcmp(kind, "items") == 0) return Kind::items;
    if (std::strcmp(kind, "nitems") == 0) return Kind::nitems;
    if (std::strcmp(kind, "select") == 0) return Kind::select;
    if (std::strcmp(kind, "vselect") == 0) return Kind::vselect;
    return Kind::unknown;
}

const char* key_column(const char* keycol) {
    return std::strcmp(keycol, "__STD") == 0 ? "name0x3b2d29" : keycol;
}

int compose_query(char* buf, std::size_t size, Kind kind, const char* table, const char* keyval,
                  const char* columns, const char* keycol) {
    const char* k = key_column(keycol);
    switch (kind) {
    case Kind::items:
        return std::snprintf(buf, size, "SELECT %s FROM %s", k, table);
    case Kind::nitems:
        return std::snprintf(buf, size, "SELECT count(%s) FROM %s", k, table);
    case Kind::select:
    case Kind::vselect:
        return std::snprintf(buf, size, "SELECT %s FROM %s where %s='%s'", columns, table, k,
                             keyval);
    case Kind::unknown:
        break;
    }
    return -1;
}

char* format_message(const char* fmt, ...) {
    std::va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    if (n < 0) return nullptr;
    auto* text = static_cast<char*>(std::malloc(static_cast<std::size_t>(n) + 1));
    if (text == nullptr) return nullptr;
    va_start(ap, fmt);
    std::vsnprintf(text, static_cast<std::size_t>(n) + 1, fmt, ap);
    va_end(ap);
    return text;
}

} // namespace qor::pgq
