#include "sitefiles.h"

#include "filters.h"
#include "text.h"

#include <algorithm>
#include <cctype>

namespace qstatus {

namespace {

// Lines ended by a newline; false when the text does not end with one, which
// is how a file caught in the middle of being written looks.
bool complete_lines(std::string_view text, std::vector<std::string_view>& lines) {
    lines.clear();
    if (text.empty() || text.back() != '\n') return false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool has_control(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r';
    });
}

// Frames asked for by a batch line: its fourth field.
long line_frames(std::string_view line) {
    auto w = qor::words_of(line);
    if (w.size() < 4) return 0;
    auto n = qor::whole_int(w[3]);
    return n ? std::clamp(*n, 0, 1000000) : 0;
}

} // namespace

std::optional<Job> parse_job(std::string_view text) {
    std::vector<std::string_view> lines;
    // Frame number, a name block of two or three lines, filter, time, size.
    if (!complete_lines(text, lines) || lines.size() < 6 || lines.size() > 7) return std::nullopt;
    Job j;
    std::string_view rest;
    auto frame = qor::read_int(lines[0], &rest);
    if (!frame || (!rest.empty() && rest[0] != ' ')) return std::nullopt;
    j.frame = *frame;
    j.note = trim(rest);
    j.code = trim(lines[1]);
    j.title = trim(lines[2]);
    if (lines.size() == 7) j.object = trim(lines[3]);
    std::size_t n = lines.size();
    j.filter = trim(lines[n - 3]);
    auto t = qor::whole_int(lines[n - 2]);
    std::string_view size = lines[n - 1], after;
    auto rows = qor::read_int(size, &after);
    if (!t || !rows || after.substr(0, 3) != " x " || !qor::whole_int(after.substr(3)) ||
        j.filter.empty())
        return std::nullopt;
    j.exptime_s = *t;
    j.size = size;
    return j;
}

std::optional<qor::BatchLine> line_being_worked(std::string_view text) {
    std::vector<std::string_view> lines;
    if (!complete_lines(text, lines) || lines.size() != 1) return std::nullopt;
    auto b = qor::parse_batch_line(lines[0]).line;
    if (b && !b->text.empty() && b->text.back() == '\n') b->text.pop_back();
    return b;
}

std::optional<Progress> batch_progress(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    std::size_t end = text.rfind('\n');
    if (end == std::string_view::npos) return std::nullopt;
    std::vector<std::string_view> lines;
    // The driver does not load a last line without its newline.
    complete_lines(text.substr(0, end + 1), lines);
    Progress p;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (line.substr(0, 4) == "v   ") {
            ++p.done;
            p.frames_done += line_frames(line.substr(4));
        } else if (line.size() > 2 && line[2] != ' ' && !trim(line).empty()) {
            // A blank as third character marks a done or disabled line.
            ++p.pending;
            p.frames_pending += line_frames(line);
            if (!p.next_line) p.next_line = static_cast<int>(i + 1);
        } else {
            ++p.other;
        }
    }
    return p;
}

std::optional<LastImage> parse_lastimage(std::string_view text) {
    std::vector<std::string_view> lines;
    // The frame's path and eight cards; fewer means the writer is not done.
    if (!complete_lines(text, lines) || lines.size() < 9) return std::nullopt;
    LastImage l;
    l.path = trim(lines[0]);
    if (l.path.empty() || has_control(l.path)) return std::nullopt;
    l.frame = l.path.substr(l.path.rfind('/') + 1);
    for (std::size_t i = 1; i < 9; ++i) {
        std::string_view card = lines[i];
        while (!card.empty() && card.back() == ' ') card.remove_suffix(1);
        l.cards.emplace_back(card);
    }
    return l;
}

std::vector<std::string> last_lines(std::string_view text, std::size_t n, bool cut_at_start) {
    std::vector<std::string_view> all;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        all.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    if (cut_at_start && !all.empty()) all.erase(all.begin());
    std::vector<std::string> out;
    for (std::size_t i = all.size() > n ? all.size() - n : 0; i < all.size(); ++i) {
        std::string_view line = all[i];
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.emplace_back(line.substr(0, 400));
    }
    return out;
}

std::optional<char> filter_letter(std::string_view filter_table, int number) {
    return qor::parse_filter_table(filter_table).letter_of(number);
}

const char* image_type(std::string_view b) {
    if (b.size() >= 4 && b.substr(0, 3) == "\xFF\xD8\xFF" && b.substr(b.size() - 2) == "\xFF\xD9")
        return "image/jpeg";
    if (b.size() >= 14 && (b.substr(0, 6) == "GIF87a" || b.substr(0, 6) == "GIF89a") &&
        b.back() == ';')
        return "image/gif";
    return nullptr;
}

} // namespace qstatus
