#include "sim.h"

#include "files.h"
#include "status.h"
#include "text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace qor::scope {

namespace {

// Local time of day in seconds, fraction kept.
double local_seconds(double t) {
    std::time_t whole = static_cast<std::time_t>(std::floor(t));
    std::tm tm{};
    localtime_r(&whole, &tm);
    return tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec + (t - std::floor(t));
}

std::string stamp(double t) {
    char buf[64];
    double ls = local_seconds(t);
    int ms = static_cast<int>((ls - std::floor(ls)) * 1000);
    int s = static_cast<int>(ls);
    std::snprintf(buf, sizeof buf, "%.6f %02d:%02d:%02d.%03d", t, s / 3600, s / 60 % 60, s % 60,
                  ms);
    return buf;
}

double ha_of(double lst_h, double ra_h) {
    double ha = std::remainder(lst_h - ra_h, 24.0);
    return std::fabs(ha);
}

constexpr std::size_t max_queue = 64;

} // namespace

void Log::event(double t, std::string_view text) {
    std::string line = stamp(t) + " " + std::string(text) + "\n";
    append_file(dir_ + "/scope.log", line);
    if (echo_) std::cerr << line;
}

void Log::received(const Record& r) {
    append_file(dir_ + "/received.log", stamp(r.t) + " " + escape_bytes(r.bytes) + "\n");
}

void Log::sent(double t, std::string_view bytes) {
    append_file(dir_ + "/sent.log", stamp(t) + " " + escape_bytes(bytes) + "\n");
}

Sim::Sim(Config c, Log& log, double now)
    : cfg_(std::move(c)), log_(log), rng_(cfg_.seed), last_step_(now), filter_(cfg_.filter),
      next_status_(now + 0.5), next_ti_(0), next_restart_(0), next_garbage_(0) {
    double lst = sidereal_hours(now, cfg_.longitude);
    mount_.ra_h = cfg_.start_ra >= 0 ? std::fmod(cfg_.start_ra, 24.0) : lst;
    mount_.dec_deg = std::clamp(cfg_.start_dec, -90.0, 90.0);
    if (cfg_.ti_interval > 0) next_ti_ = now + cfg_.ti_interval;
    if (cfg_.restart_every > 0) next_restart_ = now + cfg_.restart_every;
    if (cfg_.garbage_every > 0) next_garbage_ = now + cfg_.garbage_every;
}

void Sim::queue(Outgoing o) {
    if (o.status) {
        // A newer status record makes a queued one pointless.
        for (auto& q : outbox_) {
            if (q.status) {
                q = std::move(o);
                return;
            }
        }
    }
    if (outbox_.size() >= max_queue) outbox_.pop_front();
    outbox_.push_back(std::move(o));
}

StatusFields Sim::fields(double now) const {
    StatusFields f;
    f.clock_s = local_seconds(now + cfg_.clock_offset);
    f.lst_h = sidereal_hours(now, cfg_.longitude);
    f.ra_h = mount_.ra_h;
    f.dec_deg = mount_.dec_deg;
    f.ha_h = ha_of(f.lst_h, f.ra_h);
    f.slewing = mount_.slewing;
    f.slew_count = slew_count_;
    f.dome_rotating = dome_rotating_;
    f.filter_moving = filter_target_ >= 0;
    f.filter = filter_;
    f.temperature_c = 5.0 + 3.0 * std::sin(now / 3600.0);
    return f;
}

std::string Sim::status_now(double now) const {
    return status_line(fields(now));
}

void Sim::queue_status(double now) {
    if (mount_.slewing) slew_count_ = slew_count_ % 99 + 1;
    StatusFields f = fields(now);
    ++status_count_;
    bool quoted = cfg_.quote_every > 0 && status_count_ % cfg_.quote_every == 0;
    std::string rec = status_record(f, quoted);
    int split = split_next_;
    if (split < 0 && cfg_.split_every > 0 && status_count_ % cfg_.split_every == 0)
        split = static_cast<int>(rec.size() / 2);
    split_next_ = -1;
    if (split > 0 && split < static_cast<int>(rec.size())) {
        queue({rec.substr(0, split), "status record, first part", false, false});
        queue({rec.substr(split), "status record, second part", false, true});
    } else {
        queue({rec, quoted ? "status record (quote signs)" : "status record", true, false});
    }
}

void Sim::queue_garbage(std::size_t n) {
    std::uniform_int_distribution<int> byte(1, 255);
    std::string g;
    do {
        g.clear();
        for (std::size_t i = 0; i < n; ++i) g += static_cast<char>(byte(rng_));
    } while (g.starts_with("ti") || g.starts_with("TI"));
    queue({g, "garbage", false, false});
}

void Sim::reply(std::string text, const char* what) {
    queue({std::move(text), what, false, false});
}

void Sim::command(const std::string& payload, Kind kind, double now) {
    std::string word = payload.substr(0, payload.find_first_of(" \t"));
    if (silent_next_) {
        silent_next_ = false;
        log_.event(now, "command left unanswered on request: " + escape_bytes(payload));
        return;
    }
    if (fail_next_) {
        fail_next_ = false;
        log_.event(now, "command failed on request: " + escape_bytes(payload));
        reply(error_reply(word, "refused"), "reply");
        return;
    }
    if (kind == Kind::move) {
        MoveParse p = parse_move(payload);
        if (!p.target) {
            log_.event(now, "impossible move (" + p.error + "): " + escape_bytes(payload));
            reply(error_reply(word, p.error), "reply");
            return;
        }
        double ra = p.target->ra_h, dec = p.target->dec_deg;
        precess(ra, dec, p.target->epoch, julian_epoch(now));
        if (move_reply_due_) log_.event(now, "move superseded by a new one");
        start_slew(mount_, ra, dec);
        move_reply_due_ = true;
        log_.event(now, "slewing to " + hms_text(ra) + " " + dms_text(dec) +
                            " (equinox of date): " + escape_bytes(payload));
        return;
    }
    if (kind == Kind::filter) {
        std::string arg = payload.size() > 5 ? payload.substr(5) : "";
        while (!arg.empty() && (arg.back() == ' ' || arg.back() == '\t')) arg.pop_back();
        while (!arg.empty() && (arg.front() == ' ' || arg.front() == '\t')) arg.erase(0, 1);
        // Read for every command: the observers may change the wheel's table during the night.
        auto n = filter_number(load_filter_table(cfg_.root + "/u/tarnu/FILTER"), arg);
        if (!n) {
            log_.event(now, "no such filter: " + escape_bytes(payload));
            reply(error_reply(word, "no such filter"), "reply");
            return;
        }
        filter_target_ = *n;
        filter_done_at_ = now + cfg_.filter_time;
        log_.event(now, "turning the filter wheel to " + std::to_string(*n));
        return;
    }
    log_.event(now, "unknown command: " + escape_bytes(payload));
    reply(error_reply(word, "unknown command"), "reply");
}

void Sim::receive(const Record& r, double now) {
    log_.received(r);
    Kind kind = classify(r.bytes);
    std::string p = payload_of(r.bytes);
    switch (kind) {
    case Kind::poll:
        break;
    case Kind::attention:
        log_.event(now, "attention from the host");
        break;
    case Kind::dome_start:
        dome_rotating_ = true;
        log_.event(now, "dome start request");
        break;
    case Kind::dome_stop:
        dome_rotating_ = false;
        log_.event(now, "dome stop request");
        break;
    case Kind::time_answer: {
        int answer = *parse_time_answer(p);
        int host = static_cast<int>(local_seconds(r.t));
        int d = clock_difference(answer, host);
        std::string what = "time answer " + p;
        if (ti_sent_ < 0) what += " without a request,";
        ti_sent_ = -1;
        char buf[96];
        bool ok = std::abs(d) <= cfg_.time_tolerance;
        std::snprintf(buf, sizeof buf, " %s host clock %s (%+d s)",
                      ok ? "matches" : "does not match", stamp(r.t).substr(18).c_str(), d);
        log_.event(now, what + buf);
        break;
    }
    case Kind::move:
    case Kind::filter:
    case Kind::other:
        command(p, kind, now);
        break;
    }
}

void Sim::advance(double now) {
    double dt = std::max(0.0, now - last_step_);
    last_step_ = now;
    if (slew_step(mount_, dt, cfg_.slew_rate) && move_reply_due_) {
        move_reply_due_ = false;
        log_.event(now, "slew done at " + hms_text(mount_.ra_h) + " " + dms_text(mount_.dec_deg));
        reply(done_reply("move"), "reply");
    }
    if (filter_target_ >= 0 && now >= filter_done_at_) {
        filter_ = filter_target_;
        filter_target_ = -1;
        log_.event(now, "filter " + std::to_string(filter_) + " in the beam");
        reply(done_reply("filt"), "reply");
    }
    if (ti_sent_ >= 0 && now - ti_sent_ > cfg_.ti_timeout) {
        log_.event(now, "time request: no answer");
        ti_sent_ = -1;
    }
    if (cfg_.ti_interval > 0 && now >= next_ti_) {
        next_ti_ = now + cfg_.ti_interval;
        // One question at a time: none while the last is queued or unanswered.
        bool asking = ti_sent_ >= 0 || std::any_of(outbox_.begin(), outbox_.end(),
                                                   [](auto& o) { return o.bytes == "ti\n"; });
        if (!asking) queue({"ti\n", "time request", false, false});
    }
    if (cfg_.restart_every > 0 && now >= next_restart_) {
        next_restart_ = now + cfg_.restart_every;
        queue({"TI\n", "restart request", false, false});
    }
    if (cfg_.garbage_every > 0 && now >= next_garbage_) {
        next_garbage_ = now + cfg_.garbage_every;
        queue_garbage(20);
    }
    if (!plugged_ && replug_at_ > 0 && now >= replug_at_) {
        plugged_ = true;
        replug_at_ = 0;
    }
    if (now >= next_status_) {
        next_status_ += cfg_.status_interval;
        if (next_status_ <= now) next_status_ = now + cfg_.status_interval;
        if (!paused_) queue_status(now);
    }
}

double Sim::next_event(double now) const {
    double t = next_status_;
    if (mount_.slewing) t = std::min(t, now + 0.05);
    if (filter_target_ >= 0) t = std::min(t, filter_done_at_);
    if (ti_sent_ >= 0) t = std::min(t, ti_sent_ + cfg_.ti_timeout + 0.01);
    if (cfg_.ti_interval > 0) t = std::min(t, next_ti_);
    if (cfg_.restart_every > 0) t = std::min(t, next_restart_);
    if (cfg_.garbage_every > 0) t = std::min(t, next_garbage_);
    if (replug_at_ > 0) t = std::min(t, replug_at_);
    return t;
}

void Sim::on_sent(const Outgoing& o, double now) {
    log_.sent(now, o.bytes);
    if (o.bytes == "ti\n") ti_sent_ = now;
}

void Sim::control(std::string_view line, double now) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    std::string cmd(line.substr(0, line.find(' ')));
    std::string arg = line.find(' ') == std::string_view::npos
                          ? std::string()
                          : std::string(line.substr(line.find(' ') + 1));
    log_.event(now, "control: " + escape_bytes(line));
    auto number_arg = [&](double fallback) {
        char* end = nullptr;
        double v = std::strtod(arg.c_str(), &end);
        return arg.empty() || end == arg.c_str() || !std::isfinite(v) ? fallback : v;
    };
    if (cmd == "status") {
        queue_status(now);
    } else if (cmd == "ti") {
        queue({"ti\n", "time request", false, false});
    } else if (cmd == "TI") {
        queue({"TI\n", "restart request", false, false});
    } else if (cmd == "reply" || cmd == "send") {
        auto bytes = unescape_bytes(arg);
        if (!bytes) {
            log_.event(now, "control: bad escape in " + escape_bytes(arg));
            return;
        }
        if (cmd == "reply") *bytes += "\n";
        queue({*bytes, cmd == "reply" ? "injected reply" : "raw bytes", false, false});
    } else if (cmd == "garbage") {
        queue_garbage(static_cast<std::size_t>(std::clamp(number_arg(20), 1.0, 255.0)));
    } else if (cmd == "split") {
        split_next_ = static_cast<int>(std::clamp(number_arg(34), 1.0, 68.0));
        queue_status(now);
    } else if (cmd == "fail") {
        fail_next_ = true;
    } else if (cmd == "noreply") {
        silent_next_ = true;
    } else if (cmd == "pause") {
        paused_ = true;
    } else if (cmd == "resume") {
        paused_ = false;
    } else if (cmd == "clock") {
        cfg_.clock_offset = number_arg(0);
    } else if (cmd == "quotes") {
        cfg_.quote_every = static_cast<int>(std::max(0.0, number_arg(0)));
    } else if (cmd == "position") {
        auto p = parse_move("move " + arg);
        if (!p.target) {
            log_.event(now, "control: bad position " + escape_bytes(arg));
            return;
        }
        mount_.ra_h = p.target->ra_h;
        mount_.dec_deg = p.target->dec_deg;
        mount_.slewing = false;
        move_reply_due_ = false;
    } else if (cmd == "unplug") {
        // What was on its way is lost with the cable.
        plugged_ = false;
        replug_at_ = arg.empty() ? 0 : now + std::max(0.0, number_arg(0));
        outbox_.clear();
    } else if (cmd == "plug") {
        plugged_ = true;
        replug_at_ = 0;
    } else if (cmd == "stop") {
        stop_ = true;
    } else {
        log_.event(now, "control: unknown request");
    }
}

} // namespace qor::scope
