// The simulated camera: exposure bookkeeping in the database and the
// background process that "exposes", reads out and writes the raw frame.
#pragma once

#include <string>

namespace qor::sim {

// What an exposure is taken with (the camera's set-up keys).
struct Setup {
    long hundredths = 0;  // exposure time, hundredths of a second
    std::string sc = "0"; // start column and row, columns and rows of the window
    std::string sr = "0";
    std::string nc = "4096";
    std::string nr = "4096";
    std::string windowset = "0";
    std::string readspeed = "Slow";
    std::string object = "none";
};

// A time stamp of the camera, local time "YYYY-MM-DDThh:mm:ss.t": 21
// characters that compare as text in time order.
std::string camera_stamp();

// The database key of a field of one of the last eight exposures (0 newest).
std::string exposure_key(int index, const char* field);

// Starts an exposure with the set-up and returns at once: the begin stamp is
// written before it returns, then a detached process waits out the exposure
// and the readout, writes /data/d<obsnum>.ccd (complete or not at all),
// advances the observation number and stamps the readout end.
// Returns 0, or 1 with a message on stderr when the camera is busy.
int start_exposure(const Setup& setup);

} // namespace qor::sim
