// From raw frames to their FITS copies and the night's index.
//
//   ccd2fits N|FRAME [--wait SECONDS]   one frame, then the index of its folder
//   nightfits [FOLDER]                  every frame of the folder, then its index
//
// The copy of FOLDER/dN.ccd is FOLDER/fits/dN.fits; the index is
// FOLDER/fits/index.csv. FOLDER is /data under the site root by default.
#pragma once

#include "cards.h"
#include "system.h"

#include <optional>
#include <string>
#include <vector>

namespace qarch {

std::string fits_dir(const std::string& frames_dir);
std::string index_path(const std::string& frames_dir);
// The observation number in a frame's file name "d12.ccd".
std::optional<long> frame_number(const std::string& name);

// Whether a raw frame can be copied: its size is the one its header
// announces and it is not changing.
struct Inspection {
    enum class State { whole, being_written, bad } state = State::bad;
    std::string why;
    std::string head_bytes; // the two header blocks as read
    RawHead head;
    qor::FileInfo info;
};
// settle: a frame changed less than this many seconds ago is watched for
// as long, to see that it does not change any more.
Inspection inspect_raw(qor::System& host, const std::string& raw, double settle);

// What a copy already made says about itself.
struct Copy {
    bool whole = false;       // its size is the one its header announces
    bool with_record = false; // made with the frame's record
    std::string rawhash;      // which raw frame it is a copy of
    qor::FileInfo info;
};
std::optional<Copy> existing_copy(qor::System& host, const std::string& fits);

struct Options {
    double settle = 2;
    bool skip_up_to_date = false; // leave a copy that nothing newer would change
};
enum class Result { converted, up_to_date, kept, being_written, failed };
struct Outcome {
    Result result = Result::failed;
    std::string fits;
    std::vector<std::string> messages; // each starts with the frame's name
};
// Never changes the raw frame; never replaces a copy of the same raw frame
// made with its record by one made without.
Outcome convert_frame(qor::System& host, const std::string& raw, const Options& options);

// The index of a folder, rewritten whole; false with the reason in why.
bool write_index(qor::System& host, const std::string& frames_dir, std::string& why);

// The programs, on their arguments (argv[0] first); return the exit status.
int ccd2fits(qor::System& host, const std::vector<std::string>& args);
int nightfits(qor::System& host, const std::vector<std::string>& args);

} // namespace qarch
