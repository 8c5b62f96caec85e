#include "observation.h"

#include "precession.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <set>

namespace qarch {

namespace {

// Beyond this the record and the frame are of two different exposures: the
// driver writes the record when it starts the exposure, moments before the
// camera stamps its start (even after a few refused starts).
constexpr double same_exposure_seconds = 600;

std::string fixed(double x, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
    return buf;
}

// Why the record cannot be used for this frame, or nothing.
std::optional<std::string> foreign(const qor::FrameRecord& r, long obsnum, const Header& raw) {
    if (r.obsnum != obsnum) return "it is the record of observation " + std::to_string(r.obsnum);
    auto camera = camera_start(raw);
    auto start = qor::parse_iso_utc(r.utc_start);
    if (camera && start && std::fabs(*camera - *start) > same_exposure_seconds)
        return "its start " + r.utc_start + " is " + fixed(std::fabs(*camera - *start), 0) +
               " s from the camera's";
    return std::nullopt;
}

// FITS header text is printable ASCII.
std::string ascii(std::string s) {
    for (char& c : s)
        if (c < ' ' || c > '~') c = '?';
    return s;
}

Keyword text(std::string name, std::string value, std::string comment) {
    Keyword k;
    k.name = std::move(name);
    k.text = ascii(std::move(value));
    k.comment = std::move(comment);
    return k;
}
Keyword real(std::string name, double value, int decimals, std::string comment) {
    Keyword k;
    k.kind = Keyword::Kind::real;
    k.name = std::move(name);
    k.real = value;
    k.decimals = decimals;
    k.comment = std::move(comment);
    return k;
}
Keyword integer(std::string name, long long value, std::string comment) {
    Keyword k;
    k.kind = Keyword::Kind::integer;
    k.name = std::move(name);
    k.integer = value;
    k.comment = std::move(comment);
    return k;
}
Keyword logical(std::string name, bool value, std::string comment) {
    Keyword k;
    k.kind = Keyword::Kind::logical;
    k.name = std::move(name);
    k.logical = value;
    k.comment = std::move(comment);
    return k;
}

std::string section(int x1, int x2, int y1, int y2) {
    return "[" + std::to_string(x1) + ":" + std::to_string(x2) + "," + std::to_string(y1) + ":" +
           std::to_string(y2) + "]";
}

void add_sections(std::vector<Keyword>& k, const RawLayout& l) {
    const int side = l.n2, over = l.n1 - l.n2;
    k.push_back(text("DATASEC", section(1, side, 1, l.n2), "image part of the rows"));
    k.push_back(text("TRIMSEC", section(1, side, 1, l.n2), "what remains after trimming"));
    if (over > 0) k.push_back(text("BIASSEC", section(side + 1, l.n1, 1, l.n2), "overscan"));
    if (over != 64) return;
    // The two detector halves (detector columns 0-2047 and 2048-4095) have
    // a bias level each, read in 32 overscan columns each.
    const int last_left = std::min(side, 2048 - l.coloff),
              first_right = std::max(1, 2049 - l.coloff);
    if (last_left >= 1) {
        k.push_back(text("DATASECA", section(1, last_left, 1, l.n2), "image on the left half"));
        k.push_back(text("BIASSECA", section(side + 1, side + 32, 1, l.n2), "its overscan"));
    }
    if (first_right <= side) {
        k.push_back(
            text("DATASECB", section(first_right, side, 1, l.n2), "image on the right half"));
        k.push_back(text("BIASSECB", section(side + 33, l.n1, 1, l.n2), "its overscan"));
    }
}

std::string csv(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string q = "\"";
    for (char c : field) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

} // namespace

std::optional<double> camera_start(const Header& raw) {
    auto date = raw.text("DATE-OBS");
    if (!date) return std::nullopt;
    std::string when = *date;
    if (when.find('T') == std::string::npos) {
        auto time = raw.text("TIME-OBS");
        if (!time) return std::nullopt;
        when += "T" + *time;
    }
    std::tm tm{};
    double seconds = 0;
    int used = 0;
    if (std::sscanf(when.c_str(), "%4d-%2d-%2dT%2d:%2d:%lf%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &seconds, &used) != 6 ||
        used != static_cast<int>(when.size()) || !(seconds >= 0 && seconds < 61))
        return std::nullopt;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_sec = static_cast<int>(seconds);
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<double>(t) + (seconds - std::floor(seconds));
}

std::optional<double> pointing_offset(const qor::FrameRecord& r) {
    auto ra = qor::sexagesimal(r.ra_telescope), dec = qor::sexagesimal(r.dec_telescope);
    if (!ra || !dec || *ra > 24 || std::fabs(*dec) > 90) return std::nullopt;
    double a = *ra, d = *dec;
    qobs::precess(a, d, r.telescope_equinox, 2000.0);
    const double rad = 1 / qobs::degrees_per_radian;
    double a1 = a * 15 * rad, d1 = d * rad, a2 = r.ra_deg * rad, d2 = r.dec_deg * rad;
    // Haversine: exact for the small angles that matter here.
    double h = std::pow(std::sin((d2 - d1) / 2), 2) +
               std::cos(d1) * std::cos(d2) * std::pow(std::sin((a2 - a1) / 2), 2);
    return 2 * std::asin(std::sqrt(std::min(1.0, h))) * qobs::degrees_per_radian * 3600;
}

Observation observe(const std::string& frame, long obsnum, const Header& raw,
                    const std::optional<std::string>& record_text) {
    Observation o;
    o.frame = frame;
    o.obsnum = obsnum;
    const std::string record_name = qor::record_path_for(frame);
    std::string why;
    if (!record_text) {
        why = "no record " + record_name;
    } else {
        qor::RecordRead r = qor::parse_frame_record(*record_text);
        for (const auto& p : r.problems) why += (why.empty() ? "" : ", ") + p;
        if (!why.empty()) {
            why = "record " + record_name + " not used: " + why;
        } else if (auto other = foreign(r.record, obsnum, raw)) {
            why = "record " + record_name + " not used: " + *other;
        } else {
            o.record = r.record;
        }
    }
    if (o.record) {
        const qor::FrameRecord& r = *o.record;
        o.object = r.object;
        o.exptime = r.exposure;
        o.date_obs = qor::iso_utc(*qor::parse_iso_utc(r.utc_start));
        o.mjd_obs = r.jd_start - 2400000.5;
        o.offset = pointing_offset(r);
        return o;
    }
    o.record_fault = why;
    o.notes.push_back(why + ": converted from the frame's own header");
    o.object = raw.text("OBJECT").value_or("");
    o.exptime = raw.number("EXPTIME");
    if (auto t = camera_start(raw)) {
        o.date_obs = qor::iso_utc(*t);
        o.mjd_obs = qor::julian_date(*t) - 2400000.5;
    }
    return o;
}

std::vector<Keyword> fits_keywords(const Observation& o, const Header& raw, const RawLayout& l,
                                   const std::string& rawhash, std::vector<std::string>& notes) {
    std::vector<Keyword> k;
    if (!o.date_obs.empty()) {
        k.push_back(text("DATE-OBS", o.date_obs, "UTC start of the exposure"));
        k.push_back(text("TIMESYS", "UTC", "time scale of DATE-OBS"));
        k.push_back(real("MJD-OBS", *o.mjd_obs, 8, "modified Julian date of DATE-OBS"));
    }
    if (const auto* r = o.record ? &*o.record : nullptr) {
        k.push_back(real("EXPTIME", r->exposure, -15, "exposure, seconds"));
        k.push_back(text("OBJECT", r->object, "object of the batch line"));
        k.push_back(text("OBSERVER", r->observers, "the night's observers"));
        k.push_back(text("RA", r->ra_j2000, "right ascension asked for, J2000"));
        k.push_back(text("DEC", r->dec_j2000, "declination asked for, J2000"));
        k.push_back(real("RA_DEG", r->ra_deg, 6, "the same, degrees"));
        k.push_back(real("DEC_DEG", r->dec_deg, 6, "the same, degrees"));
        k.push_back(real("EQUINOX", 2000.0, 1, "equinox of RA and DEC"));
        k.push_back(text("RADESYS", "FK5", "frame of RA and DEC"));
        k.push_back(text("TELRA", r->ra_telescope, "telescope's right ascension, of date"));
        k.push_back(text("TELDEC", r->dec_telescope, "telescope's declination, of date"));
        k.push_back(real("TELEQUIN", r->telescope_equinox, 3, "equinox of TELRA and TELDEC"));
        if (o.offset) k.push_back(real("POINTOFF", *o.offset, 1, "asked to telescope, arcsec"));
        k.push_back(text("FILTER", r->filter, "filter letter"));
        k.push_back(integer("FILTNUM", r->filter_number, "filter number"));
        k.push_back(text(
            "CAMSETUP", r->window[0] + " " + r->window[1] + " " + r->window[2] + " " + r->window[3],
            "start column, row, columns, rows"));
        k.push_back(text("BATCHFIL", r->batch_file, "batch file"));
        k.push_back(integer("BATCHLIN", r->line_number, "line of the batch file"));
        k.push_back(text("BATCHTXT", r->line, "the line"));
        k.push_back(integer("FRAMEIDX", r->frame_index, "frame of the line, from 0"));
        k.push_back(integer("NFRAMES", r->frames_in_line, "frames of the line"));
        k.push_back(text("OBSBUILD", r->build, "driver build that took the frame"));
    }
    add_sections(k, l);
    k.push_back(logical("OBSREC", o.record.has_value(), "made with the frame's record"));
    k.push_back(text("RAWHASH", rawhash, "raw frame this is a copy of"));

    // The camera's own cards follow. Ours win where both exist; the
    // structural ones are the writer's; the camera stamps local time, which
    // must not pass for the standard UTC keywords.
    std::set<std::string> taken{"SIMPLE", "BITPIX", "NAXIS", "NAXIS1", "NAXIS2", "EXTEND",
                                "BZERO",  "BSCALE", "END",   "",       "TIMESYS"};
    for (const auto& key : k) taken.insert(key.name);
    for (const auto& card : raw.cards) {
        std::string name = keyword_of(card);
        std::string c = card;
        if (name == "DATE-OBS") c.replace(0, 8, "DATE-LOC");
        if (name == "TIME-OBS") c.replace(0, 8, "TIME-LOC");
        name = keyword_of(c);
        bool commentary = name == "COMMENT" || name == "HISTORY";
        if (!commentary && !taken.insert(name).second) continue;
        Keyword keep;
        keep.kind = Keyword::Kind::card;
        keep.name = name;
        keep.text = c;
        if (!standard_card(c)) {
            std::string shown = ascii(c);
            while (!shown.empty() && shown.back() == ' ') shown.pop_back();
            notes.push_back("camera card not valid FITS, kept as a comment: " + shown);
            keep.kind = Keyword::Kind::comment;
            keep.text = "camera card: " + shown;
        }
        k.push_back(keep);
    }
    for (const auto& note : o.notes) {
        Keyword h;
        h.kind = Keyword::Kind::history;
        h.text = ascii(note);
        k.push_back(h);
    }
    return k;
}

std::string index_heading() {
    return "frame,utc_start,line,object,filter,exposure_s,ra_j2000,dec_j2000,ra_telescope,"
           "dec_telescope,telescope_equinox,offset_arcsec,fits,source\n";
}

std::string index_line(const Observation& o, const std::string& fits) {
    const qor::FrameRecord* r = o.record ? &*o.record : nullptr;
    auto num = [](std::optional<double> x, int d) { return x ? fixed(*x, d) : std::string(); };
    std::vector<std::string> f{
        o.frame,
        o.date_obs,
        r ? std::to_string(r->line_number) : "",
        o.object,
        r ? r->filter : "",
        o.exptime ? fixed(*o.exptime, 3) : "",
        r ? r->ra_j2000 : "",
        r ? r->dec_j2000 : "",
        r ? r->ra_telescope : "",
        r ? r->dec_telescope : "",
        r ? fixed(r->telescope_equinox, 3) : "",
        num(o.offset, 1),
        fits,
        r ? "record" : "header",
    };
    std::string line;
    for (std::size_t i = 0; i < f.size(); ++i) line += (i ? "," : "") + csv(f[i]);
    return line + "\n";
}

} // namespace qarch
