#include "night.h"

#include "frame_record.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace qstatus {

using Json = nlohmann::ordered_json;

// clang-format off
const char* const index_column_names[index_columns] = {
    "frame", "utc_start", "line", "object", "filter", "exposure_s", "ra_j2000", "dec_j2000",
    "ra_telescope", "dec_telescope", "telescope_equinox", "offset_arcsec", "fits", "source"};
// clang-format on

namespace {

// A text shown on the page: one line, and not a whole file's worth.
constexpr std::size_t text_limit = 300;

bool all_digits(std::string_view s, std::size_t most) {
    return !s.empty() && s.size() <= most &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "d12<ext>" -> 12.
std::optional<long> numbered(std::string_view name, std::string_view ext) {
    if (name.size() < 2 + ext.size() || name[0] != 'd' || !name.ends_with(ext)) return {};
    std::string_view digits = name.substr(1, name.size() - 1 - ext.size());
    if (!all_digits(digits, 9)) return {};
    return std::stol(std::string(digits));
}

std::optional<double> number(std::string_view s) {
    if (s.empty() || s.size() > 30) return {};
    std::string text(s);
    char* end = nullptr;
    double x = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(x)) return {};
    return x;
}

// The records of CSV text as archive/ writes it: a field is quoted when it
// holds a comma, a quote or a line end, and a quote in it is doubled. A
// record that breaks these rules is returned empty; what follows the last
// line end (a record cut short) goes to rest.
std::vector<std::vector<std::string>> csv_records(std::string_view text, std::string_view& rest) {
    std::vector<std::vector<std::string>> records;
    std::size_t i = 0, start = 0;
    while (i < text.size()) {
        std::vector<std::string> fields(1);
        bool bad = false, ended = false;
        while (i < text.size() && !ended) {
            std::string& f = fields.back();
            if (f.empty() && text[i] == '"') {
                bool closed = false;
                for (++i; i < text.size() && !closed; ++i) {
                    if (text[i] != '"') {
                        f += text[i];
                    } else if (i + 1 < text.size() && text[i + 1] == '"') {
                        f += '"';
                        ++i;
                    } else {
                        closed = true;
                    }
                }
                if (!closed) break; // cut inside the quotes
                if (i < text.size() && text[i] != ',' && text[i] != '\n') bad = true;
            }
            if (i >= text.size()) break;
            char c = text[i++];
            if (c == ',') {
                fields.emplace_back();
            } else if (c == '\n') {
                ended = true;
            } else if (c == '"') {
                bad = true;
            } else {
                fields.back() += c;
            }
            if (bad) { // the rest of the line is not worth reading
                std::size_t nl = text.find('\n', i);
                i = nl == std::string_view::npos ? text.size() : nl + 1;
                ended = nl != std::string_view::npos;
            }
        }
        if (!ended) break;
        records.push_back(bad ? std::vector<std::string>{} : std::move(fields));
        start = i;
    }
    rest = text.substr(start);
    return records;
}

// The row, when every field is what archive/ writes there.
std::optional<IndexRow> index_row(std::vector<std::string> f) {
    if (f.size() != index_columns) return {};
    IndexRow r;
    auto n = numbered(f[0], ".ccd");
    if (!n) return {};
    r.number = *n;
    if (!f[1].empty() && !(r.start = qor::parse_iso_utc(f[1]))) return {};
    if (!f[2].empty() && !all_digits(f[2], 9)) return {};
    for (std::size_t i : {5u, 10u, 11u})
        if (!f[i].empty() && !number(f[i])) return {};
    if (!f[12].empty() && f[12] != "d" + std::to_string(r.number) + ".fits") return {};
    if (f[13] != "record" && f[13] != "header") return {};
    for (auto& field : f) {
        if (field.size() > text_limit) field.resize(text_limit);
        std::replace_if(
            field.begin(), field.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; },
            ' ');
    }
    r.fields = std::move(f);
    return r;
}

// One line of events.log: "<UTC>\t<kind>\t<text>".
struct Event {
    double at = 0;
    std::string_view kind, text;
};

std::optional<Event> event_of(std::string_view line) {
    std::size_t t1 = line.find('\t');
    std::size_t t2 = t1 == std::string_view::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string_view::npos) return {};
    auto at = qor::parse_iso_utc(line.substr(0, t1));
    if (!at) return {};
    Event e{*at, line.substr(t1 + 1, t2 - t1 - 1), line.substr(t2 + 1)};
    static constexpr std::string_view kinds[] = {"line",  "post", "reply", "expose",
                                                 "frame", "wait", "fault", "end"};
    if (std::find(std::begin(kinds), std::end(kinds), e.kind) == std::end(kinds)) return {};
    return e;
}

std::string shown(std::string_view text) {
    return std::string(text.substr(0, text_limit));
}

// Follows the driver through its events, one at a time, in the order it
// wrote them: the times of a night whose clock was set right may go back.
class Spans {
  public:
    explicit Spans(Timeline& t) : t_(t) {}

    void add(const Event& e) {
        if (e.kind != "wait") close_wait(e.at);
        if (e.kind == "wait") {
            if (wait_ && wait_->text == e.text) return; // still the same
            close_wait(e.at);
            wait_ = Span{SpanKind::wait, e.at, e.at, shown(e.text)};
        } else if (e.kind == "post") {
            // The driver posts a command again when the daemon lost it: one
            // command still, until its reply.
            if (post_ && command_ == e.text) return;
            close_post(e.at, "no reply");
            bool move = e.text.starts_with("move_"), filter = e.text.starts_with("filt_");
            if (!move && !filter) return;
            command_ = e.text;
            post_ = Span{move ? SpanKind::slew : SpanKind::filter, e.at, e.at, shown(e.text)};
        } else if (e.kind == "reply") {
            close_post(e.at, "reply " + shown(e.text));
        } else if (e.kind == "expose") {
            close_post(e.at, "no reply");
            auto space = e.text.rfind(' ');
            auto seconds = number(e.text.substr(space == std::string_view::npos ? 0 : space + 1));
            if (space == std::string_view::npos || !seconds || *seconds < 0 || *seconds > 86400) {
                ++t_.garbage;
                return;
            }
            t_.spans.push_back({SpanKind::exposure, e.at, e.at + *seconds, shown(e.text)});
            exposed_ = std::string(e.text.substr(0, space));
            exposure_end_ = e.at + *seconds;
        } else if (e.kind == "frame") {
            close_post(e.at, "no reply");
            // From the exposure's end until the frame is there: the camera
            // reads out and writes it, and the driver waits for it.
            if (e.text == exposed_ && e.at > exposure_end_)
                t_.spans.push_back({SpanKind::readout, exposure_end_, e.at, shown(e.text)});
            exposed_.clear();
        } else {
            if (e.kind != "fault") close_post(e.at, "no reply");
            MarkKind k = e.kind == "line"  ? MarkKind::line
                         : e.kind == "end" ? MarkKind::end
                                           : MarkKind::fault;
            t_.marks.push_back({k, e.at, shown(e.text)});
        }
    }

    // What is still going on lasts until now.
    void finish(double now) {
        for (auto* open : {&wait_, &post_}) {
            if (!*open) continue;
            (*open)->end = std::max((*open)->begin, now);
            (*open)->open = true;
            t_.spans.push_back(**open);
            open->reset();
        }
    }

  private:
    void close_wait(double at) {
        if (!wait_) return;
        wait_->end = std::max(wait_->begin, at);
        t_.spans.push_back(*wait_);
        wait_.reset();
    }
    void close_post(double at, const std::string& how) {
        if (!post_) return;
        post_->end = std::max(post_->begin, at);
        post_->text += ", " + how;
        t_.spans.push_back(*post_);
        post_.reset();
    }

    Timeline& t_;
    std::optional<Span> wait_, post_;
    std::string command_;
    std::string exposed_; // the frame of the last exposure, until it is there
    double exposure_end_ = 0;
};

const char* kind_name(SpanKind k) {
    switch (k) {
    case SpanKind::exposure:
        return "exposure";
    case SpanKind::readout:
        return "readout";
    case SpanKind::slew:
        return "slew";
    case SpanKind::filter:
        return "filter";
    case SpanKind::wait:
        return "wait";
    }
    return "";
}

const char* kind_name(MarkKind k) {
    switch (k) {
    case MarkKind::line:
        return "line";
    case MarkKind::fault:
        return "fault";
    case MarkKind::end:
        return "end";
    }
    return "";
}

std::string local_clock(double t) {
    std::time_t s = static_cast<std::time_t>(std::floor(t));
    std::tm tm{};
    localtime_r(&s, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

// Seconds to the millisecond: the events' own resolution.
double ms(double s) {
    return std::round(s * 1000) / 1000;
}

std::string plural(long n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string megabytes(std::size_t bytes) {
    return std::to_string(bytes >> 20) + " MB";
}

} // namespace

std::optional<Index> parse_index(std::string_view heading, std::string_view rows, bool rows_cut,
                                 NightWindow night) {
    std::string expected;
    for (const char* name : index_column_names)
        expected += std::string(expected.empty() ? "" : ",") + name;
    if (heading != expected) return {};
    Index index;
    if (rows_cut) {
        std::size_t nl = rows.find('\n');
        rows = nl == std::string_view::npos ? std::string_view() : rows.substr(nl + 1);
    }
    std::string_view rest;
    bool first = true;
    for (auto& fields : csv_records(rows, rest)) {
        auto row = index_row(std::move(fields));
        if (!row) {
            ++index.garbage;
            continue;
        }
        if (first && rows_cut && row->start && night.holds(*row->start)) index.begin_unread = true;
        first = false;
        if (!row->start) {
            ++index.undated;
        } else if (!night.holds(*row->start)) {
            ++index.other_nights;
        } else {
            index.rows.push_back(std::move(*row));
        }
    }
    index.cut = !rest.empty();
    return index;
}

std::optional<Timeline> parse_events(std::string_view text, bool cut_at_start, NightWindow night,
                                     double now) {
    if (cut_at_start) {
        std::size_t nl = text.find('\n');
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    }
    Timeline t;
    Spans spans(t);
    bool any = false, first = true;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            t.cut = true; // the driver appends whole lines: this one is still coming
            break;
        }
        auto e = event_of(text.substr(pos, nl - pos));
        pos = nl + 1;
        if (!e) {
            ++t.garbage;
            continue;
        }
        any = true;
        if (first && cut_at_start && night.holds(e->at)) t.begin_unread = true;
        first = false;
        if (night.holds(e->at)) spans.add(*e);
    }
    if (!any && (t.garbage > 0 || t.cut)) return {};
    spans.finish(std::min(now, night.end));
    return t;
}

bool thumbnail_name(std::string_view name) {
    return numbered(name, ".jpg").has_value();
}

Json index_facts(const Index& index, std::size_t read_limit) {
    Json rows = Json::array();
    for (const auto& r : index.rows) {
        Json row;
        row["start"] = r.start ? Json(local_clock(*r.start)) : Json();
        for (std::size_t i = 0; i < index_columns; ++i) row[index_column_names[i]] = r.fields[i];
        row["thumb"] = r.thumb ? Json(*r.thumb) : Json();
        rows.push_back(std::move(row));
    }
    Json notes = Json::array();
    if (index.begin_unread)
        notes.push_back("the index is larger than " + megabytes(read_limit) +
                        ": only its last part was read, the night's first frames are missing");
    if (index.garbage)
        notes.push_back(plural(index.garbage, "row", "rows") + " not in the index's form left out");
    if (index.cut) notes.push_back("its last row is cut short and left out");
    if (index.undated)
        notes.push_back(plural(index.undated, "frame", "frames") +
                        " without a start time not shown");
    if (index.other_nights)
        notes.push_back(plural(index.other_nights, "frame", "frames") +
                        " of other nights not shown");
    return {{"available", true}, {"rows", rows}, {"notes", notes}};
}

Json timeline_facts(const Timeline& t, std::size_t read_limit) {
    double t0 = 0, t1 = 0;
    bool any = false;
    auto see = [&](double a, double b) {
        t0 = any ? std::min(t0, a) : a;
        t1 = any ? std::max(t1, b) : b;
        any = true;
    };
    for (const auto& s : t.spans) see(s.begin, s.end);
    for (const auto& m : t.marks) see(m.at, m.at);

    Json spans = Json::array(), marks = Json::array();
    Json totals = {{"exposure", 0.0}, {"readout", 0.0}, {"slew", 0.0},
                   {"filter", 0.0},   {"wait", 0.0},    {"fault", 0}};
    for (const auto& s : t.spans) {
        spans.push_back({{"kind", kind_name(s.kind)},
                         {"from", ms(s.begin - t0)},
                         {"to", ms(s.end - t0)},
                         {"text", s.text},
                         {"open", s.open}});
        totals[kind_name(s.kind)] = ms(totals[kind_name(s.kind)].get<double>() + s.end - s.begin);
    }
    for (const auto& m : t.marks) {
        marks.push_back({{"kind", kind_name(m.kind)}, {"at", ms(m.at - t0)}, {"text", m.text}});
        if (m.kind == MarkKind::fault) totals["fault"] = totals["fault"].get<int>() + 1;
    }

    Json notes = Json::array();
    if (t.begin_unread)
        notes.push_back("the log is larger than " + megabytes(read_limit) +
                        ": only its last part was read, the night's first events are missing");
    if (t.garbage)
        notes.push_back(plural(t.garbage, "line", "lines") + " not in the events' form left out");
    if (t.cut) notes.push_back("its last line is cut short and left out");

    // The page draws the axis in the site's time, wherever the browser is.
    std::time_t at = static_cast<std::time_t>(t0);
    std::tm tm{};
    localtime_r(&at, &tm);
    return {{"available", true},       {"t0", ms(t0)},   {"utc_offset_s", tm.tm_gmtoff},
            {"length_s", ms(t1 - t0)}, {"spans", spans}, {"marks", marks},
            {"totals", totals},        {"notes", notes}};
}

} // namespace qstatus
