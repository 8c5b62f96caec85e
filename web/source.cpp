#include "source.h"

#include "night.h"
#include "phase.h"
#include "site.h"
#include "sitefiles.h"
#include "status_line.h"
#include "telescope_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace qstatus {

using Json = nlohmann::ordered_json;

namespace {

constexpr std::string_view status_dir = "/u/tarnu/status/";

std::string status_file(std::string_view name) {
    return qor::site_path(std::string(status_dir) + std::string(name));
}

struct Loaded {
    std::string text;
    struct timespec mtime {};
    bool cut = false; // only the tail of a longer file
    std::string head; // with a cut, the file's first head_bytes
};

// Reads what fd holds, at most max_bytes of it: the whole file, or with tail
// set its last max_bytes (and, when that is not all of it, its first
// head_bytes too). A file larger than that without tail, a FIFO or a device
// put where a status file belongs, gives nothing. Closes fd.
std::optional<Loaded> load_fd(int fd, std::size_t max_bytes, bool tail,
                              std::size_t head_bytes = 0) {
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    Loaded l;
    l.mtime = st.st_mtim;
    auto size = static_cast<std::size_t>(st.st_size);
    std::size_t from = 0;
    if (size > max_bytes) {
        if (!tail) return std::nullopt;
        from = size - max_bytes;
        l.cut = true;
    }
    auto read_at = [fd](std::string& into, std::size_t at, std::size_t want) {
        into.resize(want);
        std::size_t got = 0;
        while (got < want) {
            ssize_t n = pread(fd, into.data() + got, want - got, static_cast<off_t>(at + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        into.resize(got);
        return true;
    };
    // Room for what the file holds (a byte more, should it be growing), not
    // for the most we would take: this runs every second.
    if (!read_at(l.text, from, std::min(max_bytes, size + 1))) return std::nullopt;
    if (l.cut && head_bytes > 0 && !read_at(l.head, 0, head_bytes)) return std::nullopt;
    return l;
}

// A symbolic link is never followed: it could show the page any file the
// account can read.
std::optional<Loaded> load(const std::string& path, std::size_t max_bytes, bool tail = false,
                           std::size_t head_bytes = 0) {
    return load_fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW), max_bytes,
                   tail, head_bytes);
}

// A night of a few hundred frames and a few thousand events takes a tenth
// of this; a site's index that holds every night is read from its end.
constexpr std::size_t night_read_limit = 1 << 20;

constexpr std::string_view fits_dir = "/data/fits";

// The folder of the FITS copies, the index and the thumbnails: neither it
// nor a file in it is followed if a link.
class FitsDir {
  public:
    FitsDir()
        : fd_(::open(qor::site_path(fits_dir).c_str(),
                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {}
    ~FitsDir() {
        if (fd_ >= 0) close(fd_);
    }
    FitsDir(const FitsDir&) = delete;
    FitsDir& operator=(const FitsDir&) = delete;

    int open(const std::string& name) const {
        return fd_ < 0 ? -1
                       : openat(fd_, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    }
    std::optional<struct timespec> regular_file(const std::string& name) const {
        struct stat st {};
        if (fd_ < 0 || fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            return std::nullopt;
        return st.st_mtim;
    }

  private:
    int fd_;
};

std::string stat_key(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return "-";
    return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "/" +
           std::to_string(st.st_size);
}

std::string local_text(std::time_t t, const char* format) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

Json unavailable() {
    return Json{{"available", false}};
}

const char* phase_name(qor::Phase p) {
    switch (p) {
    case qor::Phase::exposing:
        return "exposing";
    case qor::Phase::reading_out:
        return "reading out";
    case qor::Phase::idle:
        return "idle";
    }
    return "";
}

} // namespace

std::time_t night_start(std::time_t now) {
    std::tm tm{};
    localtime_r(&now, &tm);
    if (tm.tm_hour < 12) --tm.tm_mday; // mktime carries it into the month
    tm.tm_hour = 12;
    tm.tm_min = 0;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::string StatusSource::json() {
    long long second = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    std::lock_guard lock(mutex_);
    if (json_made_ != second) {
        json_ = collect(std::time(nullptr));
        json_made_ = second;
    }
    return json_;
}

std::string StatusSource::collect(std::time_t now) {
    Json facts;
    facts["generated"] = local_text(now, "%Y-%m-%d %H:%M:%S");
    facts["stale_after_s"] = options_.stale_after_s;

    // telescope.txt is rewritten for every status record: its age is the time
    // since the last record, whatever the telescope's own clock says.
    Json tel = unavailable(), expo = unavailable();
    std::optional<long long> age;
    if (auto f = load(status_file("telescope.txt"), 4096)) {
        age = std::max<long long>(0, now - f->mtime.tv_sec);
        auto parts = qor::read_telescope_file(f->text);
        if (auto p = parts ? qor::read_status_line(parts->status_line) : std::nullopt) {
            tel = {{"available", true}, {"clock", p->clock}, {"ra", p->ra}, {"dec", p->dec}};
            tel["filter_number"] = p->filter ? Json(*p->filter) : Json();
            std::optional<char> letter;
            if (p->filter) {
                if (auto table = load(qor::site_path("/u/tarnu/FILTER"), 65536))
                    letter = filter_letter(table->text, *p->filter);
            }
            tel["filter_letter"] = letter ? Json(std::string(1, *letter)) : Json();
        }
        if (auto e = parts ? qor::read_phase(parts->phase_text) : std::nullopt) {
            expo = {{"available", true}, {"phase", phase_name(e->phase)}, {"began", e->began}};
            expo["remaining_s"] = e->remaining_s ? Json(*e->remaining_s) : Json();
            expo["readout_s"] = e->readout_s ? Json(*e->readout_s) : Json();
        }
    }
    facts["status_age_s"] = age ? Json(*age) : Json();
    facts["stale"] = age && *age > options_.stale_after_s;
    facts["telescope"] = tel;
    facts["exposure"] = expo;

    // The link removes job.txt when the camera is idle again: between
    // exposures there is no frame being taken, and nothing is wrong.
    Json job = unavailable();
    struct stat job_st {};
    job["idle"] = lstat(status_file("job.txt").c_str(), &job_st) != 0 && errno == ENOENT &&
                  expo["available"] == true && expo["phase"] == phase_name(qor::Phase::idle);
    if (auto f = load(status_file("job.txt"), 4096)) {
        if (auto j = parse_job(f->text)) {
            job = {{"available", true},   {"frame", j->frame},         {"note", j->note},
                   {"code", j->code},     {"title", j->title},         {"object", j->object},
                   {"filter", j->filter}, {"exptime_s", j->exptime_s}, {"size", j->size}};
        }
    }
    facts["job"] = job;

    Json line = unavailable();
    if (auto f = load(status_file("nowjob.txt"), 4096)) {
        if (auto b = line_being_worked(f->text)) {
            line = {{"available", true},    {"text", b->text},        {"code", b->code},
                    {"filter", b->filter},  {"exptime", b->exposure}, {"object", b->object},
                    {"frames", b->frames}};
        }
    }
    facts["line"] = line;

    Json batch = unavailable();
    if (!options_.batch_file.empty()) {
        batch["file"] = options_.batch_file;
        if (auto f = load(options_.batch_file, 1 << 20)) {
            if (auto p = batch_progress(f->text)) {
                batch["available"] = true;
                batch["done"] = p->done;
                batch["pending"] = p->pending;
                batch["other"] = p->other;
                batch["frames_done"] = p->frames_done;
                batch["frames_pending"] = p->frames_pending;
                batch["next_line"] = p->next_line ? Json(*p->next_line) : Json();
                batch["finished"] = p->pending == 0 && p->done > 0;
            }
        }
    }
    facts["batch"] = batch;

    Frames fr = frames(now);
    facts["frames"] = fr.available ? Json{{"available", true},
                                          {"tonight", fr.tonight},
                                          {"since", local_text(night_start(now), "%H:%M")},
                                          {"latest", fr.latest}}
                                   : unavailable();

    Json last = unavailable();
    std::optional<LastImage> described;
    struct timespec described_at {};
    if (auto f = load(status_file("lastimage.txt"), 8192)) {
        if ((described = parse_lastimage(f->text))) {
            last = {{"available", true}, {"frame", described->frame}, {"cards", described->cards}};
            described_at = f->mtime;
        }
    }
    facts["lastimage"] = last;

    // ccdpeek writes lastimage.txt first and the previews after it: a
    // preview older than that file is still the previous frame's.
    Json preview = unavailable();
    if (auto image = pick_preview()) {
        preview = {
            {"available", true}, {"url", "/preview?v=" + image->version}, {"type", image->type}};
        std::optional<std::string> of;
        if (described && std::tie(image->mtime.tv_sec, image->mtime.tv_nsec) >=
                             std::tie(described_at.tv_sec, described_at.tv_nsec))
            of = described->frame;
        preview["frame"] = of ? Json(*of) : Json();
        preview["newer"] =
            fr.available && !fr.latest.empty() && fr.latest != of ? Json(fr.latest) : Json();
    }
    facts["preview"] = preview;

    Json log = unavailable();
    if (auto f = load(qor::site_path("/u/tarnu/qorlib/obs.log"), 16384, true)) {
        auto lines = last_lines(f->text, 15, f->cut);
        if (!lines.empty()) log = {{"available", true}, {"lines", lines}};
    }
    facts["log"] = log;

    // Texts from the files may hold anything: bytes that are not UTF-8 are
    // replaced rather than failing the whole answer.
    return facts.dump(-1, ' ', false, Json::error_handler_t::replace);
}

namespace {

Json unreadable(const std::string& path) {
    struct stat st {};
    bool missing = lstat(path.c_str(), &st) != 0 && errno == ENOENT;
    return Json{{"available", false}, {"why", missing ? "is not there" : "cannot be read"}};
}

} // namespace

std::string StatusSource::night_json() {
    const std::time_t now = std::time(nullptr);
    long long second = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    std::lock_guard lock(mutex_);
    if (night_made_ == second) return night_json_;
    night_made_ = second;
    // The thumbnails come and go by rename, which changes their folder.
    std::string key = stat_key(qor::site_path(std::string(fits_dir) + "/index.csv")) + " " +
                      stat_key(qor::site_path(fits_dir)) + " " +
                      stat_key(qor::site_path("/u/tarnu/qorlib/events.log")) + " " +
                      std::to_string(night_start(now)) +
                      (night_open_ ? " " + std::to_string(now) : "");
    if (key != night_key_) {
        night_json_ = collect_night(now);
        night_key_ = key;
    }
    return night_json_;
}

std::string StatusSource::collect_night(std::time_t now) {
    const std::time_t begin = night_start(now);
    // The next noon, whatever the clock's change between them.
    const NightWindow night{static_cast<double>(begin),
                            static_cast<double>(night_start(begin + 30 * 3600))};
    Json facts;
    facts["generated"] = local_text(now, "%Y-%m-%d %H:%M:%S");
    facts["night"] = {{"begin", local_text(begin, "%Y-%m-%d %H:%M")},
                      {"end", local_text(static_cast<std::time_t>(night.end), "%Y-%m-%d %H:%M")}};

    const FitsDir dir;
    Json index = unreadable(qor::site_path(std::string(fits_dir) + "/index.csv"));
    if (auto f = load_fd(dir.open("index.csv"), night_read_limit, true, 4096)) {
        std::string_view all = f->cut ? f->head : f->text;
        std::size_t nl = all.find('\n');
        std::optional<Index> parsed;
        if (nl != std::string_view::npos)
            parsed =
                parse_index(all.substr(0, nl),
                            f->cut ? std::string_view(f->text) : all.substr(nl + 1), f->cut, night);
        if (parsed) {
            for (auto& row : parsed->rows) {
                const std::string name = "d" + std::to_string(row.number) + ".jpg";
                if (auto t = dir.regular_file(name))
                    row.thumb = "/thumb/" + name + "?v=" + std::to_string(t->tv_sec) + "." +
                                std::to_string(t->tv_nsec);
            }
            index = index_facts(*parsed, night_read_limit);
        } else {
            index = {{"available", false}, {"why", "is not in the index's form"}};
        }
    }
    index["file"] = "/data/fits/index.csv";
    facts["index"] = index;

    const std::string events_path = qor::site_path("/u/tarnu/qorlib/events.log");
    Json timeline = unreadable(events_path);
    night_open_ = false;
    if (auto f = load(events_path, night_read_limit, true)) {
        if (auto t = parse_events(f->text, f->cut, night, static_cast<double>(now))) {
            night_open_ =
                std::any_of(t->spans.begin(), t->spans.end(), [](const Span& s) { return s.open; });
            timeline = timeline_facts(*t, night_read_limit);
        } else {
            timeline = {{"available", false}, {"why", "holds no events in their form"}};
        }
    }
    timeline["file"] = "/u/tarnu/qorlib/events.log";
    facts["timeline"] = timeline;
    return facts.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::shared_ptr<const Image> StatusSource::thumbnail(std::string_view name) {
    if (!thumbnail_name(name)) return nullptr;
    // A thumbnail is 256 x 256: a few kB.
    auto f = load_fd(FitsDir().open(std::string(name)), 1 << 20, false);
    const char* type = f ? image_type(f->text) : nullptr;
    if (type == nullptr || std::string_view(type) != "image/jpeg") return nullptr;
    auto image = std::make_shared<Image>();
    image->bytes = std::move(f->text);
    image->type = "image/jpeg";
    image->mtime = f->mtime;
    return image;
}

StatusSource::Frames StatusSource::frames(std::time_t now) {
    // The camera system renames every finished frame into /data/ as
    // d<number>.ccd, which changes the directory's time; rescan only then (or
    // when a new night begins), as the directory holds every night's frames.
    std::string dir = qor::site_path("/data");
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    std::time_t since = night_start(now);
    std::string key = std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) +
                      "/" + std::to_string(since);
    if (key == frames_key_) return frames_;

    Frames f;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return {};
    f.available = true;
    struct timespec newest {};
    while (dirent* e = readdir(d)) {
        std::string_view name = e->d_name;
        if (name.size() < 6 || name[0] != 'd' || name.substr(name.size() - 4) != ".ccd") continue;
        std::string_view number = name.substr(1, name.size() - 5);
        if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        struct stat fs {};
        if (fstatat(dirfd(d), e->d_name, &fs, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(fs.st_mode))
            continue;
        if (fs.st_mtim.tv_sec < since) continue;
        ++f.tonight;
        if (std::tie(fs.st_mtim.tv_sec, fs.st_mtim.tv_nsec) >=
            std::tie(newest.tv_sec, newest.tv_nsec)) {
            newest = fs.st_mtim;
            f.latest = name;
        }
    }
    closedir(d);
    frames_ = f;
    frames_key_ = key;
    return f;
}

std::shared_ptr<const Image> StatusSource::preview() {
    std::lock_guard lock(mutex_);
    return pick_preview();
}

std::shared_ptr<const Image> StatusSource::pick_preview() {
    // The newest whole one wins; at the same time the larger preview. ccdpeek
    // writes last1 before last2, so while last2.jpg is still being converted
    // the fresh last1.jpg is shown.
    static constexpr std::array<std::string_view, 4> names = {"last2.jpg", "last1.jpg", "last2.gif",
                                                              "last1.gif"};
    struct Candidate {
        std::string path;
        struct stat st;
    };
    std::vector<Candidate> found;
    for (auto name : names) {
        Candidate c{status_file(name), {}};
        if (lstat(c.path.c_str(), &c.st) == 0 && S_ISREG(c.st.st_mode)) found.push_back(c);
    }
    std::stable_sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
        return std::tie(a.st.st_mtim.tv_sec, a.st.st_mtim.tv_nsec) >
               std::tie(b.st.st_mtim.tv_sec, b.st.st_mtim.tv_nsec);
    });
    for (const auto& c : found) {
        std::string key = c.path + "@" + std::to_string(c.st.st_mtim.tv_sec) + "." +
                          std::to_string(c.st.st_mtim.tv_nsec) + "/" + std::to_string(c.st.st_size);
        if (key == image_key_ && image_) return image_;
        auto f = load(c.path, 8 << 20);
        const char* type = f ? image_type(f->text) : nullptr;
        if (type == nullptr) continue;
        auto image = std::make_shared<Image>();
        image->bytes = std::move(f->text);
        image->type = type;
        char version[32];
        std::snprintf(version, sizeof version, "%zx", std::hash<std::string>{}(key));
        image->version = version;
        image->mtime = c.st.st_mtim;
        image_ = image;
        image_key_ = key;
        return image_;
    }
    return nullptr;
}

} // namespace qstatus
