// Cuts the byte stream from the host into records.
//
// The host frames nothing but the start: a record is a backquote and what
// follows it. A record ends at a newline, at the next backquote, after 255
// bytes, or when the line has been quiet for a moment (a poll is a lone
// backquote, a dome request a backquote and one character, with nothing
// behind them). Text before any backquote is kept as an unframed record.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor::scope {

struct Record {
    std::string bytes;
    double t = 0; // arrival of its first byte, Unix seconds
};

class Splitter {
  public:
    explicit Splitter(double quiet_s = 0.15) : quiet_s_(quiet_s) {}

    // Bytes that arrived at time t; finished records go to out.
    void feed(std::string_view bytes, double t, std::vector<Record>& out);

    // Finishes the pending record when the line has been quiet long enough.
    void flush_if_quiet(double now, std::vector<Record>& out);

    // When flush_if_quiet next has something to do.
    std::optional<double> deadline() const;

  private:
    void finish(std::vector<Record>& out);

    double quiet_s_;
    Record cur_;
    bool open_ = false;
    double last_ = 0;
};

} // namespace qor::scope
