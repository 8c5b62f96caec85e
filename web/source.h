// What the status page shows, read from the site's files.
//
// Only fixed paths of the site (through QOR_ROOT) and the batch file named on
// the command line are ever opened; nothing from a request reaches here.
#pragma once

#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace qstatus {

struct Options {
    std::string batch_file; // empty: progress is not available
    int stale_after_s = 30; // no status record for this long: stale
};

struct Image {
    std::string bytes;
    const char* type = nullptr;
    std::string version; // changes whenever another image is served
    struct timespec mtime {};
};

class StatusSource {
  public:
    explicit StatusSource(Options options) : options_(std::move(options)) {}

    // The facts as JSON text. Made again at most once a second however many
    // clients ask, so the files are read once a second at most.
    std::string json();

    // The newest whole preview (last2/last1, JPEG or GIF), if there is one.
    std::shared_ptr<const Image> preview();

    // The facts as of now, made afresh; for one thread only (json() is the
    // shared way in).
    std::string collect(std::time_t now);

    // The night report's facts (/night.json): the night's index of frames
    // and the timeline of its events. Made again at most once a second, and
    // only when a file it reads changed or a span is still going on.
    std::string night_json();
    // As of now, made afresh; for one thread only.
    std::string collect_night(std::time_t now);

    // A frame's thumbnail, /data/fits/NAME for a thumbnail_name, if it is a
    // whole JPEG.
    std::shared_ptr<const Image> thumbnail(std::string_view name);

  private:
    struct Frames {
        bool available = false;
        long tonight = 0;
        std::string latest;
    };
    Frames frames(std::time_t now);
    std::shared_ptr<const Image> pick_preview();

    Options options_;
    std::mutex mutex_;
    std::string json_;
    std::optional<long long> json_made_; // steady-clock second it was made
    std::shared_ptr<const Image> image_;
    std::string image_key_;
    Frames frames_;
    std::string frames_key_;
    std::string night_json_;
    std::string night_key_;
    std::optional<long long> night_made_;
    bool night_open_ = false; // the timeline holds a span still going on
};

// The start of the observing night a moment belongs to: the last local noon.
std::time_t night_start(std::time_t now);

} // namespace qstatus
