// The far end's behaviour, apart from the pseudo-terminal: what it does with
// each record from the host, with each control line, and as time passes.
// Everything it wants to send goes to the outbox; the caller writes it.
#pragma once

#include "command.h"
#include "sky.h"
#include "status.h"
#include "splitter.h"

#include <deque>
#include <random>
#include <string>
#include <string_view>

namespace qor::scope {

struct Config {
    std::string root;             // site root; logs go to <root>/var/scope
    double status_interval = 3.0; // seconds between status records
    double slew_rate = 2.0;       // degrees per second on each axis
    double filter_time = 2.0;     // seconds for the wheel to turn
    double ti_interval = 60.0;    // seconds between time requests, 0 never
    double ti_timeout = 6.0;      // an answer later than this counts as missing
    int time_tolerance = 1;       // seconds an answer may differ from our clock
    int quote_every = 5;          // every n-th status record with quote signs, 0 never
    double clock_offset = 0;      // our clock runs ahead of the host's by this
    double longitude = 0;         // degrees east, for the sidereal time
    double start_ra = -1;         // hours; negative: the meridian at start
    double start_dec = 30;        // degrees
    int filter = 1;
    bool pace = true;         // send only after the host has read the last
    double restart_every = 0; // seconds between "TI" requests, 0 never
    double garbage_every = 0; // seconds between bursts of noise, 0 never
    int split_every = 0;      // every n-th status record in two halves, 0 never
    unsigned seed = 1;
    bool echo = false; // events also to standard error
};

// Three append-only logs, one line each: "<unix seconds> <hh:mm:ss.mmm> <text>".
class Log {
  public:
    Log(std::string dir, bool echo) : dir_(std::move(dir)), echo_(echo) {}
    void event(double t, std::string_view text); // scope.log
    void received(const Record& r);              // received.log, escaped bytes
    void sent(double t, std::string_view bytes); // sent.log, escaped bytes

  private:
    std::string dir_;
    bool echo_;
};

struct Outgoing {
    std::string bytes;
    std::string what;
    bool status = false;    // a whole status record, replaced by a newer one while queued
    bool wait_read = false; // only after the host has read what went before (split)
};

class Sim {
  public:
    Sim(Config c, Log& log, double now);

    void receive(const Record& r, double now);
    void control(std::string_view line, double now);
    void advance(double now);
    void on_sent(const Outgoing& o, double now);

    // The next moment advance() has work to do.
    double next_event(double now) const;

    std::deque<Outgoing>& outbox() { return outbox_; }
    bool stop_requested() const { return stop_; }
    // False while the line is unplugged (control "unplug [S]" until "plug"
    // or S seconds): the host then meets a hung-up line, and no device.
    bool plugged() const { return plugged_; }
    const Mount& mount() const { return mount_; }
    // The status line the telescope would send now (without its backquote).
    std::string status_now(double now) const;
    int filter() const { return filter_; }

  private:
    void queue(Outgoing o);
    void queue_status(double now);
    StatusFields fields(double now) const;
    void queue_garbage(std::size_t n);
    void reply(std::string text, const char* what);
    void command(const std::string& payload, Kind kind, double now);

    Config cfg_;
    Log& log_;
    std::deque<Outgoing> outbox_;
    std::mt19937 rng_;
    Mount mount_;
    double last_step_;
    bool move_reply_due_ = false;
    int filter_;
    int filter_target_ = -1; // the wheel is turning to it; -1 at rest (0 is a filter number)
    double filter_done_at_ = 0;
    bool dome_rotating_ = true;
    int slew_count_ = 0;
    long status_count_ = 0;
    double next_status_;
    double next_ti_;
    double next_restart_;
    double next_garbage_;
    bool paused_ = false;
    int split_next_ = -1; // bytes in the first half of the next status record
    bool fail_next_ = false;
    bool silent_next_ = false;
    double ti_sent_ = -1; // when our pending time request left, -1 none
    bool stop_ = false;
    bool plugged_ = true;
    double replug_at_ = 0; // 0: only on request
};

} // namespace qor::scope
