// The page and its script and style: fixed texts, the same for every request.
// The script fills the page from /status.json with textContent only, so no
// text from a file is ever taken as markup.
#pragma once

#include <string_view>

namespace qstatus {

extern const std::string_view page_html;
extern const std::string_view page_css;
extern const std::string_view page_js;

} // namespace qstatus
