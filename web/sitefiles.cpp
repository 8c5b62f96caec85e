#include "sitefiles.h"

#include "filters.h"
#include "text.h"

#include <algorithm>
#include <cctype>

namespace qstatus {

namespace {

bool digit(char c) {
    return c >= '0' && c <= '9';
}

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

// The whole text is one integer (blanks around it allowed).
std::optional<int> whole_int(std::string_view s) {
    std::string_view rest;
    auto v = qor::read_int(s, &rest);
    if (!v || !trim(rest).empty()) return std::nullopt;
    return v;
}

// hh:mm:ss.t as the telescope computer writes its clock and positions.
bool sexagesimal(std::string_view s) {
    static constexpr std::string_view form = "00:00:00.0";
    if (s.size() != form.size()) return false;
    for (std::size_t i = 0; i < form.size(); ++i) {
        if (form[i] == '0' ? !digit(s[i]) : s[i] != form[i]) return false;
    }
    return true;
}

std::vector<std::string_view> words(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        std::size_t start = i;
        while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (i > start) out.push_back(s.substr(start, i - start));
    }
    return out;
}

bool has_control(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r';
    });
}

// Frames asked for by a batch line: its fourth field.
long line_frames(std::string_view line) {
    auto w = words(line);
    if (w.size() < 4) return 0;
    auto n = whole_int(w[3]);
    return n ? std::clamp(*n, 0, 1000000) : 0;
}

} // namespace

std::optional<Position> decode_status_line(std::string_view line) {
    if (line.size() < 41) return std::nullopt;
    Position p;
    p.clock = line.substr(0, 10);
    p.ra = line.substr(20, 10);
    char sign = line[30];
    if (!sexagesimal(p.clock) || !sexagesimal(p.ra) || !sexagesimal(line.substr(31, 10)))
        return std::nullopt;
    // The link turns a blank into '_', so an unsigned declination comes as '_'.
    if (sign == '_' || sign == ' ') sign = '+';
    if (sign != '+' && sign != '-') return std::nullopt;
    p.dec = sign + std::string(line.substr(31, 10));
    if (line.size() >= 60) {
        std::string_view f = line.substr(56, 4);
        if (std::all_of(f.begin(), f.end(), digit)) p.filter = whole_int(f);
    }
    return p;
}

std::optional<TelescopeFile> split_telescope_txt(std::string_view text) {
    std::vector<std::string_view> lines;
    if (!complete_lines(text, lines) || lines.size() < 3) return std::nullopt;
    TelescopeFile t;
    std::size_t status_lines = lines.size() - 2;
    if (status_lines > 7) return std::nullopt;
    for (std::size_t i = 0; i < status_lines; ++i) {
        std::string part(lines[i]);
        // Line 6 carries two blanks the link put in after positions 53 and 55.
        if (i == 5) {
            if (part.size() > 7 && part[7] == ' ') part.erase(7, 1);
            if (part.size() > 4 && part[4] == ' ') part.erase(4, 1);
        }
        // Every line but the last holds ten positions; anything else is not
        // this file's layout.
        bool last = i + 1 == status_lines;
        if (part.size() > 10 || (!last && part.size() != 10)) return std::nullopt;
        t.status_line += part;
    }
    t.phase_text = lines.back();
    return t;
}

std::optional<Exposure> parse_phase(std::string_view text) {
    // Every form starts with the 21-character stamp of the exposure's begin,
    // hh:mm:ss at 11-18.
    if (text.size() < 21) return std::nullopt;
    for (int i : {11, 12, 14, 15, 17, 18})
        if (!digit(text[i])) return std::nullopt;
    if (text[13] != ':' || text[16] != ':') return std::nullopt;
    Exposure e;
    e.began = text.substr(11, 8);
    if (text.size() <= 40) {
        e.phase = Phase::exposing;
        e.remaining_s = whole_int(text.substr(21));
        if (!e.remaining_s) return std::nullopt;
    } else if (text.size() <= 62) {
        e.phase = Phase::reading_out;
        if (text.size() >= 51) e.readout_s = whole_int(text.substr(43));
    } else {
        e.phase = Phase::idle;
    }
    return e;
}

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
    auto t = whole_int(lines[n - 2]);
    std::string_view size = lines[n - 1], after;
    auto rows = qor::read_int(size, &after);
    if (!t || !rows || after.substr(0, 3) != " x " || !whole_int(after.substr(3)) ||
        j.filter.empty())
        return std::nullopt;
    j.exptime_s = *t;
    j.size = size;
    return j;
}

std::optional<BatchLine> parse_batch_line(std::string_view text) {
    std::vector<std::string_view> lines;
    if (!complete_lines(text, lines) || lines.size() != 1) return std::nullopt;
    std::string_view line = lines[0];
    if (trim(line).empty() || has_control(line) || line.size() > 512) return std::nullopt;
    BatchLine b;
    b.text = trim(line);
    auto w = words(line);
    b.code = w[0];
    if (w.size() > 1) b.filter = w[1];
    if (w.size() > 2) b.exptime = w[2];
    if (w.size() > 3) b.frames = whole_int(w[3]);
    // The object name is the last field of a full line.
    if (w.size() >= 14) b.object = w.back();
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
