#include "splitter.h"

namespace qor::scope {

void Splitter::finish(std::vector<Record>& out) {
    if (open_) out.push_back(std::move(cur_));
    cur_ = Record{};
    open_ = false;
}

void Splitter::feed(std::string_view bytes, double t, std::vector<Record>& out) {
    for (char c : bytes) {
        if (c == '`') finish(out);
        if (!open_) {
            open_ = true;
            cur_.t = t;
        }
        cur_.bytes += c;
        if (c == '\n' || cur_.bytes.size() >= 255) finish(out);
    }
    if (!bytes.empty()) last_ = t;
}

void Splitter::flush_if_quiet(double now, std::vector<Record>& out) {
    if (open_ && now - last_ >= quiet_s_) finish(out);
}

std::optional<double> Splitter::deadline() const {
    if (!open_) return std::nullopt;
    return last_ + quiet_s_;
}

} // namespace qor::scope
