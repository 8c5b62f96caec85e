// What a FITS copy and the night's index say about a frame: taken from the
// frame's record when it has a usable one, else from the frame's own header.
#pragma once

#include "cards.h"
#include "frame_record.h"

#include <optional>
#include <string>
#include <vector>

namespace qarch {

struct Observation {
    std::string frame; // "d12.ccd"
    long obsnum = 0;
    std::optional<qor::FrameRecord> record; // only a record of this very frame
    std::string record_fault;               // why no record was used
    std::vector<std::string> notes;         // what a reader of the copy should know
    std::string object;
    std::optional<double> exptime;
    std::string date_obs; // UTC start, ISO 8601; empty when unknown
    std::optional<double> mjd_obs;
    std::optional<double> offset; // asked to reported position, arc seconds
};

// record_text: the record file's content, when there is one. The record is
// used only when it reads without a fault and is of this frame: its number,
// and its start within ten minutes of the camera's own start stamp.
Observation observe(const std::string& frame, long obsnum, const Header& raw,
                    const std::optional<std::string>& record_text);

// The angle between the position asked for and the one the telescope
// reported, its equinox of date precessed to J2000.0 as the driver
// precesses; nothing when the status line held no position.
std::optional<double> pointing_offset(const qor::FrameRecord& r);

// The camera stamps local time: its DATE-OBS and TIME-OBS as UTC seconds
// since the epoch, read in the host's time zone.
std::optional<double> camera_start(const Header& raw);

// One keyword to write, in order; a card of the camera is passed as it
// stands.
struct Keyword {
    // A text longer than a card holds continues on CONTINUE cards.
    enum class Kind { text, real, integer, logical, card, comment, history };
    Kind kind = Kind::text;
    std::string name;
    std::string text; // a text value, or the card itself
    double real = 0;
    int decimals = 0; // below 0: significant digits
    long long integer = 0;
    bool logical = false;
    std::string comment;
};

// The whole header of the copy after its structural cards: standard
// keywords, the overscan sections, the observation, which raw frame it is a
// copy of (rawhash), the camera's own cards, and the notes as HISTORY. A
// camera card the standard does not allow is kept as a COMMENT, and said in
// notes.
std::vector<Keyword> fits_keywords(const Observation& o, const Header& raw, const RawLayout& l,
                                   const std::string& rawhash, std::vector<std::string>& notes);

// The index: a heading line and one line per frame (fits: the copy's file
// name, empty when there is none yet).
std::string index_heading();
std::string index_line(const Observation& o, const std::string& fits);

} // namespace qarch
