// The page's files: web/assets/ embedded into the program at build time
// (web/embed.cmake writes them into a generated source), the same for every
// request. The scripts fill the pages from JSON with textContent only, so no
// text from a file is ever taken as markup.
#pragma once

#include <string_view>

namespace qstatus::assets {

extern const std::string_view page_js; // what both pages' scripts share
extern const std::string_view status_html;
extern const std::string_view status_css;
extern const std::string_view status_js;
extern const std::string_view night_html;
extern const std::string_view night_css;
extern const std::string_view night_js;

} // namespace qstatus::assets
