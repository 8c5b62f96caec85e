// Judging a chaos night: what the batch file asked for against what the
// driver claimed, what the camera exposed and what the telescope did and
// received, each taken from its own log.
#include "filters.h"
#include "line.h"
#include "record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>

namespace qor::chaos {

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::string without_end(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    return line;
}

std::string note(const char* format, auto... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

// A line of a simulator's log: "<unix seconds> <hh:mm:ss.mmm> <text>".
struct Logged {
    double t;
    std::string text;
};
std::vector<Logged> logged(const std::string& log) {
    std::vector<Logged> out;
    for (const auto& l : lines_of(log)) {
        auto a = l.find(' '), b = l.find(' ', a + 1);
        if (b == std::string::npos) continue;
        out.push_back({std::atof(l.c_str()), l.substr(b + 1)});
    }
    return out;
}

// A command as words: blanks for the mailbox's '_', the record's backquote
// and line end gone, a '+' sign dropped (the daemon writes north without one).
std::vector<std::string> command_words(std::string text) {
    if (!text.empty() && text[0] == '`') text.erase(0, 1);
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\\n") == 0)
        text.resize(text.size() - 2);
    std::replace(text.begin(), text.end(), '_', ' ');
    std::vector<std::string> w = qobs::words_of(text);
    for (auto& x : w) {
        if (!x.empty() && x[0] == '+') x.erase(0, 1);
    }
    return w;
}

bool is_command(std::string_view text) {
    if (!text.empty() && text[0] == '`') text.remove_prefix(1);
    return text.substr(0, 4) == "move" || text.substr(0, 4) == "filt";
}

// What the telescope did, from its event log: where it stood, which filter
// was in the beam, and when it was slewing or turning the wheel.
struct Telescope {
    struct Span {
        double from, to;
    };
    std::vector<std::pair<double, qor::TelescopePosition>> stood; // from then on, at rest there
    std::vector<std::pair<double, int>> beam;
    std::vector<Span> slewing, turning;

    static std::optional<qor::TelescopePosition> position(const std::string& text) {
        int h, m, d, am;
        float s, as;
        char sign;
        if (std::sscanf(text.c_str(), "%d:%d:%f %c%d:%d:%f", &h, &m, &s, &sign, &d, &am, &as) !=
            7) {
            return std::nullopt;
        }
        qor::TelescopePosition p;
        p.ra = h + m / 60.0 + s / 3600.0;
        p.dec = d + am / 60.0 + as / 3600.0;
        if (sign == '-') p.dec = -p.dec;
        return p;
    }

    Telescope(const Record& r) {
        stood.push_back({0, {r.start_ra, r.start_dec}});
        beam.push_back({0, r.start_filter});
        double slew_from = -1, turn_from = -1;
        for (const auto& e : logged(r.scope_log)) {
            const std::string& t = e.text;
            if (t.rfind("slewing to ", 0) == 0) {
                if (slew_from < 0) slew_from = e.t;
            } else if (t.rfind("slew done at ", 0) == 0) {
                if (auto p = position(t.substr(13))) stood.push_back({e.t, *p});
                slewing.push_back({slew_from < 0 ? e.t : slew_from, e.t});
                slew_from = -1;
            } else if (t.rfind("turning the filter wheel to ", 0) == 0) {
                if (turn_from < 0) turn_from = e.t;
            } else if (t.rfind("filter ", 0) == 0 && t.find(" in the beam") != std::string::npos) {
                beam.push_back({e.t, std::atoi(t.c_str() + 7)});
                turning.push_back({turn_from < 0 ? e.t : turn_from, e.t});
                turn_from = -1;
            }
        }
        if (slew_from >= 0) slewing.push_back({slew_from, 1e18});
        if (turn_from >= 0) turning.push_back({turn_from, 1e18});
    }

    template <class T> static T at(const std::vector<std::pair<double, T>>& v, double t) {
        T value = v.front().second;
        for (const auto& [when, what] : v) {
            if (when <= t) value = what;
        }
        return value;
    }
    static bool during(const std::vector<Span>& spans, double from, double to) {
        for (const auto& s : spans) {
            if (s.from <= to && s.to >= from) return true;
        }
        return false;
    }
};

// The camera's own account of each frame: its exposure on the wall clock
// and the object it was taken for.
struct Exposure {
    double begin = 0, end = 0;
    std::string object;
};
std::map<int, Exposure> exposures(const Record& r) {
    std::map<int, Exposure> out;
    for (const auto& l : lines_of(r.camera_log)) {
        int n;
        char state[16], object[128];
        double b, e;
        if (std::sscanf(l.c_str(), "d%d.ccd %*d %*d %15s %lf %lf %127s", &n, state, &b, &e,
                        object) == 5) {
            out[n] = {b + r.mono_to_real, e + r.mono_to_real, object};
        }
    }
    return out;
}

std::vector<const char*> messages_for(Fault f) {
    switch (f) {
    case Fault::kill_driver:
        return {};
    case Fault::unplug:
        return {"serial line lost"};
    case Fault::hang_exp3:
        return {"exp3 gave no exposure state"};
    case Fault::hang_dbshow:
        return {"unreadable", "no observation number"};
    case Fault::hang_obsnum:
        return {"no observation number"};
    case Fault::junk_ss:
        return {"mailbox counter ss reads"};
    case Fault::junk_pp:
        return {"mailbox counter pp"};
    case Fault::clock_back:
    case Fault::clock_forward:
        return {"host clock stepped by"};
    case Fault::disk_full:
        return {"WARNING: cannot rewrite"};
    }
    return {};
}

// Frames: each line's frames as claimed by the run that last worked it,
// against the camera's exposures and the telescope's state meanwhile.
void judge_frames(const Record& r, Table& t) {
    Worked w = worked(r);
    std::map<int, int> claims_of;
    for (const auto& e : w.events) {
        if (e.kind == FrameEvent::claim) ++claims_of[e.obsnum];
    }
    for (const auto& [n, count] : claims_of) {
        if (count > 1) {
            t.frames_twice += count - 1;
            t.notes.push_back(note("d%d.ccd claimed %d times", n, count));
        }
    }

    auto table = qor::parse_filter_table(r.filter_table);
    auto taken = exposures(r);
    Telescope scope(r);
    auto final_lines = lines_of(r.final_batch);
    for (std::size_t i = 0; i < r.batch.size(); ++i) {
        const std::string& line = r.batch[i];
        std::string plain = without_end(line);
        bool marked =
            std::find(final_lines.begin(), final_lines.end(), "v   " + plain) != final_lines.end();
        if (!marked) {
            ++t.lines_unmarked;
            t.notes.push_back(note("line %zu (%s) not marked", i + 1, plain.substr(0, 4).c_str()));
        }
        auto ff = qobs::getfiltframe(*qor::parse_batch_line(line).line, table, std::nullopt);
        int frames = ff ? ff->frames : 0;
        std::vector<const FrameEvent*> got(frames, nullptr);
        for (const auto& e : w.events) {
            if (e.kind == FrameEvent::claim && e.line == static_cast<int>(i) &&
                static_cast<int>(e.run) == w.last_run[i] && e.q < frames) {
                got[e.q] = &e;
            }
        }
        std::string object = without_end(qobs::object_text(line));
        int tolerance = line[0] == 'C' ? 100 : 10;
        for (int q = 0; q < frames; ++q) {
            if (got[q] == nullptr) {
                ++t.frames_missing;
                t.notes.push_back(note("line %zu frame %d: no frame claimed", i + 1, q));
                continue;
            }
            int n = got[q]->obsnum;
            auto x = taken.find(n);
            if (x == taken.end()) {
                ++t.wrong_pointing;
                t.notes.push_back(note("d%d.ccd (line %zu frame %d): the camera logged no such "
                                       "exposure",
                                       n, i + 1, q));
                continue;
            }
            const Exposure& ex = x->second;
            if (ex.object != object) {
                ++t.wrong_pointing;
                t.notes.push_back(note("d%d.ccd (line %zu frame %d): exposed for %s", n, i + 1, q,
                                       ex.object.c_str()));
                continue;
            }
            auto want = qobs::getradec(*qor::parse_batch_line(line).line, q, r.a_ep);
            int e =
                qobs::pointing_error(Telescope::at(scope.stood, ex.begin), want.a_ra, want.a_dec);
            if (Telescope::during(scope.slewing, ex.begin, ex.end)) {
                ++t.wrong_pointing;
                t.notes.push_back(note("d%d.ccd (line %zu frame %d): the telescope slewed during "
                                       "the exposure",
                                       n, i + 1, q));
            } else if (e > tolerance) {
                ++t.wrong_pointing;
                t.notes.push_back(
                    note("d%d.ccd (line %zu frame %d): pointing error %d (at most %d)", n, i + 1, q,
                         e, tolerance));
            }
            int beam = Telescope::at(scope.beam, ex.begin);
            if (Telescope::during(scope.turning, ex.begin, ex.end) || !ff || beam != ff->wanted) {
                ++t.wrong_filter;
                t.notes.push_back(note("d%d.ccd (line %zu frame %d): filter %d in the beam, %d "
                                       "wanted",
                                       n, i + 1, q, beam, ff ? ff->wanted : -1));
            }
        }
    }
}

// Commands: every post of every run against what the telescope received,
// matched in order (a post can only arrive after its run began). A post of
// a killed run that never left is excused: its run died waiting for it.
void judge_commands(const Record& r, Table& t) {
    struct Post {
        std::vector<std::string> words;
        std::size_t run;
        bool last_of_killed = false;
    };
    std::vector<Post> posts;
    for (std::size_t k = 0; k < r.runs.size(); ++k) {
        std::size_t from = r.runs[k].obslog_from;
        std::size_t to = k + 1 < r.runs.size() ? r.runs[k + 1].obslog_from : r.obs_log.size();
        std::size_t first = posts.size();
        // A command posted again at once by its run (its ring set back, or
        // the operator's re_do) is one command: it is due once.
        std::string previous;
        for (const auto& l : lines_of(
                 r.obs_log.substr(std::min(from, r.obs_log.size()), to > from ? to - from : 0))) {
            bool post = l.rfind("filt_", 0) == 0 || l.rfind("move_", 0) == 0;
            if (post && l != previous) posts.push_back({command_words(l), k});
            previous = l;
        }
        if (r.runs[k].killed && posts.size() > first) posts.back().last_of_killed = true;
    }
    std::vector<Logged> got;
    for (auto& l : logged(r.received_log)) {
        if (is_command(l.text)) got.push_back(l);
    }

    // Posts and receptions paired in order, as many as can be; where two
    // pairings tie, the post left unpaired is the excused one.
    std::size_t n = posts.size(), m = got.size();
    auto pairs = [&](std::size_t i, std::size_t j) {
        return posts[i].words == command_words(got[j].text) &&
               got[j].t >= r.runs[posts[i].run].started - 1;
    };
    auto left = [&](std::size_t i) { return posts[i].last_of_killed ? 1 : 0; };
    std::vector<std::vector<int>> best(n + 1, std::vector<int>(m + 1, 0));
    for (std::size_t i = n; i-- > 0;) best[i][m] = best[i + 1][m] + left(i);
    for (std::size_t i = n; i-- > 0;) {
        for (std::size_t j = m; j-- > 0;) {
            best[i][j] = std::max(best[i + 1][j] + left(i), best[i][j + 1]);
            if (pairs(i, j)) best[i][j] = std::max(best[i][j], best[i + 1][j + 1] + 3);
        }
    }
    std::size_t i = 0, j = 0;
    auto lost = [&](std::size_t i) {
        if (posts[i].last_of_killed) return;
        ++t.commands_lost;
        std::string text;
        for (const auto& w : posts[i].words) text += w + " ";
        t.notes.push_back(
            note("posted by run %zu, never sent: %s", posts[i].run + 1, text.c_str()));
    };
    auto twice = [&](std::size_t j) {
        ++t.commands_twice;
        t.notes.push_back(note("sent with no post of its own: %s", got[j].text.c_str()));
    };
    while (i < n && j < m) {
        if (pairs(i, j) && best[i][j] == best[i + 1][j + 1] + 3) {
            ++i, ++j;
        } else if (best[i][j] == best[i + 1][j] + left(i)) {
            lost(i++);
        } else {
            twice(j++);
        }
    }
    while (i < n) lost(i++);
    while (j < m) twice(j++);
}

// Every fault must be followed by a message in the driver's console or the
// daemon's log.
void judge_messages(const Record& r, Table& t) {
    for (const auto& f : r.injected) {
        auto wanted = messages_for(f.step.fault);
        if (!f.trigger_seen) {
            ++t.late_triggers;
            t.notes.push_back("trigger never seen, injected at its limit: " + describe(f.step));
        }
        if (wanted.empty()) continue;
        std::string after = r.console.substr(std::min(f.console_at, r.console.size())) + "\n" +
                            r.daemon_log.substr(std::min(f.daemon_log_at, r.daemon_log.size()));
        bool said = std::any_of(wanted.begin(), wanted.end(),
                                [&](const char* m) { return after.find(m) != std::string::npos; });
        if (!said) {
            ++t.silent_faults;
            t.notes.push_back("no message after: " + describe(f.step));
        }
    }
}

} // namespace

Worked worked(const Record& r) {
    Worked w;
    w.last_run.assign(r.batch.size(), -1);
    std::vector<std::string> plain;
    for (const auto& l : r.batch) plain.push_back(without_end(l));
    for (std::size_t k = 0; k < r.runs.size(); ++k) {
        std::size_t from = std::min(r.runs[k].console_from, r.console.size());
        std::size_t to = k + 1 < r.runs.size() ? r.runs[k + 1].console_from : r.console.size();
        std::string text = r.console.substr(from, to > from ? to - from : 0);
        // Lines are listed once at loading; the work begins after the prompt.
        auto begin = text.find("Begin number: ");
        if (begin == std::string::npos) continue;
        int line = -1, q = 0;
        for (auto l : lines_of(text.substr(begin + 14))) {
            std::size_t s = l.find_first_not_of(' ');
            if (s == std::string::npos) continue;
            l.erase(0, s);
            std::size_t colon = l.find(": ");
            if (colon != std::string::npos && colon > 0 &&
                l.find_first_not_of("0123456789") == colon) {
                auto at = std::find(plain.begin(), plain.end(), without_end(l.substr(colon + 2)));
                if (at != plain.end()) {
                    line = static_cast<int>(at - plain.begin());
                    q = 0;
                    w.last_run[line] = static_cast<int>(k);
                }
                continue;
            }
            int n;
            if (line >= 0 && std::sscanf(l.c_str(), "wantfile: d%d.ccd", &n) == 1) {
                w.events.push_back({FrameEvent::want, k, line, q, n});
            } else if (line >= 0 &&
                       std::sscanf(l.c_str(), "-------produced file d%d.ccd", &n) == 1) {
                w.events.push_back({FrameEvent::claim, k, line, q++, n});
            }
        }
    }
    return w;
}

Table judge(const Record& r) {
    Table t;
    t.ended_early = r.ended_early;
    t.prompts = r.prompts;
    t.notes = r.notes;
    judge_frames(r, t);
    judge_commands(r, t);
    judge_messages(r, t);
    return t;
}

Table& Table::operator+=(const Table& o) {
    frames_missing += o.frames_missing;
    frames_twice += o.frames_twice;
    wrong_pointing += o.wrong_pointing;
    wrong_filter += o.wrong_filter;
    commands_lost += o.commands_lost;
    commands_twice += o.commands_twice;
    lines_unmarked += o.lines_unmarked;
    silent_faults += o.silent_faults;
    ended_early += o.ended_early;
    late_triggers += o.late_triggers;
    never_injected += o.never_injected;
    prompts += o.prompts;
    notes.insert(notes.end(), o.notes.begin(), o.notes.end());
    return *this;
}

bool Table::clean() const {
    return frames_missing + frames_twice + wrong_pointing + wrong_filter + commands_lost +
               commands_twice + lines_unmarked + silent_faults + ended_early + prompts ==
           0;
}

std::string table_text(const Table& t, const std::string& title) {
    std::string out = title + "\n";
    auto row = [&](const char* what, int n) { out += note("  %-38s %4d\n", what, n); };
    row("frames missing", t.frames_missing);
    row("frames claimed twice", t.frames_twice);
    row("frames at another pointing", t.wrong_pointing);
    row("frames through another filter", t.wrong_filter);
    row("commands lost", t.commands_lost);
    row("commands sent twice", t.commands_twice);
    row("lines unmarked at the end", t.lines_unmarked);
    row("faults without a console message", t.silent_faults);
    row("runs that ended by themselves", t.ended_early);
    row("operator prompts (each after 292 s)", t.prompts);
    out += note("  (%d triggers not seen, %d faults never injected)\n", t.late_triggers,
                t.never_injected);
    return out;
}

} // namespace qor::chaos
