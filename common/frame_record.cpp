#include "frame_record.h"

#include "site.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace qor {

namespace {

using Json = nlohmann::ordered_json;

// Records are a few hundred bytes; anything far larger is not one of ours.
constexpr std::size_t max_record = 65536;

bool digits(std::string_view s, std::size_t min, std::size_t max) {
    if (s.size() < min || s.size() > max) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Reads the fields of one JSON object, noting each one missing or of the
// wrong kind; a field that is not right keeps its default.
class Fields {
  public:
    Fields(const Json& j, std::vector<std::string>& problems) : j_(j), problems_(problems) {}

    const Json* find(const char* name) {
        auto it = j_.find(name);
        if (it == j_.end()) {
            problems_.push_back(std::string("missing ") + name);
            return nullptr;
        }
        return &*it;
    }
    void bad(const char* name, const char* why) {
        problems_.push_back(std::string("malformed ") + name + ": " + why);
    }
    bool text(const char* name, std::string& out) {
        const Json* v = find(name);
        if (!v) return false;
        if (!v->is_string()) {
            bad(name, "not a text");
            return false;
        }
        out = v->get<std::string>();
        return true;
    }
    template <class Int> bool integer(const char* name, Int& out, long long lo, long long hi) {
        const Json* v = find(name);
        if (!v) return false;
        if (!v->is_number_integer()) {
            bad(name, "not a whole number");
            return false;
        }
        // A number too large for a long long is out of range, not wrapped.
        bool huge = v->is_number_unsigned() &&
                    v->get<unsigned long long>() > static_cast<unsigned long long>(hi);
        long long n = huge ? hi : v->get<long long>();
        if (huge || n < lo || n > hi) {
            bad(name, "out of range");
            return false;
        }
        out = static_cast<Int>(n);
        return true;
    }
    bool number(const char* name, double& out, double lo, double hi) {
        const Json* v = find(name);
        if (!v) return false;
        if (!v->is_number()) {
            bad(name, "not a number");
            return false;
        }
        double x = v->get<double>();
        if (!(x >= lo && x <= hi)) {
            bad(name, "out of range");
            return false;
        }
        out = x;
        return true;
    }
    void angle(const char* name, std::string& out, double lo, double hi) {
        if (!text(name, out)) return;
        auto v = sexagesimal(out);
        if (!v || *v < lo || *v > hi) bad(name, "not a position");
    }

  private:
    const Json& j_;
    std::vector<std::string>& problems_;
};

} // namespace

std::string to_json(const FrameRecord& r) {
    Json j;
    j["frame"] = r.frame;
    j["obsnum"] = r.obsnum;
    j["batch_file"] = r.batch_file;
    j["line_number"] = r.line_number;
    j["line"] = r.line;
    j["frame_index"] = r.frame_index;
    j["frames_in_line"] = r.frames_in_line;
    j["object"] = r.object;
    j["ra_j2000"] = r.ra_j2000;
    j["dec_j2000"] = r.dec_j2000;
    j["ra_deg"] = r.ra_deg;
    j["dec_deg"] = r.dec_deg;
    j["ra_telescope"] = r.ra_telescope;
    j["dec_telescope"] = r.dec_telescope;
    j["telescope_equinox"] = r.telescope_equinox;
    j["filter"] = r.filter;
    j["filter_number"] = r.filter_number;
    j["exposure"] = r.exposure;
    j["readout"] = r.readout;
    j["window"] = r.window;
    j["observers"] = r.observers;
    j["utc_start"] = r.utc_start;
    j["jd_start"] = r.jd_start;
    j["build"] = r.build;
    return j.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

RecordRead parse_frame_record(std::string_view text) {
    RecordRead out;
    if (text.size() > max_record) {
        out.problems.push_back("not a record: " + std::to_string(text.size()) + " bytes");
        return out;
    }
    Json j = Json::parse(text.begin(), text.end(), nullptr, false);
    if (j.is_discarded()) {
        out.problems.push_back("not JSON (cut short or damaged)");
        return out;
    }
    if (!j.is_object()) {
        out.problems.push_back("not a JSON object");
        return out;
    }
    FrameRecord& r = out.record;
    Fields f(j, out.problems);
    f.text("frame", r.frame);
    if (f.integer("obsnum", r.obsnum, 0, 999999999) && j.contains("frame") &&
        r.frame != "d" + std::to_string(r.obsnum) + ".ccd") {
        f.bad("frame", "does not name the observation number");
    }
    f.text("batch_file", r.batch_file);
    f.integer("line_number", r.line_number, 1, 1000000);
    f.text("line", r.line);
    bool index = f.integer("frame_index", r.frame_index, 0, 1000000);
    if (f.integer("frames_in_line", r.frames_in_line, 1, 1000000) && index &&
        r.frame_index >= r.frames_in_line) {
        f.bad("frame_index", "not below frames_in_line");
    }
    f.text("object", r.object);
    f.angle("ra_j2000", r.ra_j2000, 0, 24);
    f.angle("dec_j2000", r.dec_j2000, -90, 90);
    f.number("ra_deg", r.ra_deg, 0, 360);
    f.number("dec_deg", r.dec_deg, -90, 90);
    // The telescope's texts are what the status line said; one the line
    // held no position in is the telescope's fault, not the record's.
    f.text("ra_telescope", r.ra_telescope);
    f.text("dec_telescope", r.dec_telescope);
    f.number("telescope_equinox", r.telescope_equinox, 1800, 2200);
    f.text("filter", r.filter);
    f.integer("filter_number", r.filter_number, -1000000, 1000000);
    f.number("exposure", r.exposure, 0, 1e6);
    if (f.text("readout", r.readout) && r.readout != "Slow" && r.readout != "Fast" &&
        r.readout != "Medium")
        f.bad("readout", "not Slow, Fast or Medium");
    if (const Json* w = f.find("window")) {
        bool good = w->is_array() && w->size() == 4;
        for (std::size_t i = 0; good && i < 4; ++i) {
            good = (*w)[i].is_string();
            if (good) r.window[i] = (*w)[i].get<std::string>();
        }
        if (!good) f.bad("window", "not four texts");
    }
    f.text("observers", r.observers);
    bool stamped = f.text("utc_start", r.utc_start);
    auto start = parse_iso_utc(r.utc_start);
    if (stamped && !start) f.bad("utc_start", "not YYYY-MM-DDThh:mm:ss.sss");
    if (f.number("jd_start", r.jd_start, 2400000, 2600000) && start &&
        std::fabs(julian_date(*start) - r.jd_start) * 86400 > 10) {
        f.bad("jd_start", "not the instant of utc_start");
    }
    f.text("build", r.build);
    return out;
}

std::string record_path_for(const std::string& frame_path) {
    std::string p = frame_path;
    if (p.size() >= 4 && p.compare(p.size() - 4, 4, ".ccd") == 0) p.resize(p.size() - 4);
    return p + ".json";
}

std::string frame_record_path(long obsnum) {
    return site_path("/data/d" + std::to_string(obsnum) + ".json");
}

std::string iso_utc(double unix_seconds) {
    long long ms = std::llround(unix_seconds * 1000);
    long long s = ms / 1000, frac = ms % 1000;
    if (frac < 0) {
        frac += 1000;
        --s;
    }
    std::time_t t = static_cast<std::time_t>(s);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03lld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, frac);
    return buf;
}

double julian_date(double unix_seconds) {
    return unix_seconds / 86400.0 + 2440587.5;
}

std::optional<double> parse_iso_utc(std::string_view s) {
    if (!s.empty() && s.back() == 'Z') s.remove_suffix(1);
    if (s.size() < 19 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':')
        return std::nullopt;
    auto num = [&](std::size_t pos, std::size_t n) -> std::optional<int> {
        if (!digits(s.substr(pos, n), n, n)) return std::nullopt;
        return std::stoi(std::string(s.substr(pos, n)));
    };
    auto y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2),
         se = num(17, 2);
    if (!y || !mo || !d || !h || !mi || !se || *mo < 1 || *mo > 12 || *d < 1 || *d > 31 ||
        *h > 23 || *mi > 59 || *se > 60)
        return std::nullopt;
    double frac = 0;
    if (s.size() > 19) {
        if (s[19] != '.' || !digits(s.substr(20), 1, 9)) return std::nullopt;
        frac = std::stod("0" + std::string(s.substr(19)));
    }
    std::tm tm{};
    tm.tm_year = *y - 1900;
    tm.tm_mon = *mo - 1;
    tm.tm_mday = *d;
    tm.tm_hour = *h;
    tm.tm_min = *mi;
    tm.tm_sec = *se;
    std::time_t t = timegm(&tm);
    if (tm.tm_mday != *d) return std::nullopt; // 31 February
    return static_cast<double>(t) + frac;
}


} // namespace qor
