// Start-up, the start-up checks, the batch file and the line loop.
#include "driver.h"

#include "clock.h"
#include "frame_record.h"
#include "plan.h"
#include "site.h"
#include "text.h"

#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace qobs {

namespace {

const char* const banner = "\n\n\t************** QOR BATCH ***************\n";
const char* const usage = "\n\tUsage: qorobs batch_file \n"
                          "\n\t           Move_RA_DEC    delt_ra_dec    filter\n"
                          "\n\tqorobs  :      Yes            Yes          Yes"
                          "\n\tqorobs1 :      Yes            No           Yes"
                          "\n\tqorobs0 :      Yes            Yes          No "
                          "\n\tqorobs10:      Yes            No           No "
                          "\n\tqorobs00:      No             No           No "
                          "\n\n";

// Two digits at pos, nothing when they are not digits.
std::optional<int> two_digits(std::string_view text, std::size_t pos) {
    if (text.size() < pos + 2) return std::nullopt;
    char a = text[pos], b = text[pos + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return std::nullopt;
    return (a - '0') * 10 + (b - '0');
}

int int_at(std::string_view text, std::size_t pos) {
    if (text.size() <= pos) return 0;
    return std::atoi(std::string(text.substr(pos, 12)).c_str());
}

// A line of the batch file as the console shows it: whatever it holds,
// nothing in it can reach the terminal as a control sequence.
std::string numbered(std::size_t number, std::string_view line) {
    char head[24];
    std::snprintf(head, sizeof head, "%2zu: ", number);
    return head + qor::printable(line);
}


// The first line of a text (line end kept), at most max characters of it.
std::string first_line(std::string_view text, std::size_t max) {
    std::size_t end = text.find('\n');
    end = end == std::string_view::npos ? text.size() : end + 1;
    return std::string(text.substr(0, std::min(end, max)));
}

// qor2pc is running when the process list shows it under a command that
// begins with 'w' (it is started through its Windows loader).
bool qor2pc_running(std::string_view ps_output) {
    std::size_t pos = 0;
    while (pos < ps_output.size()) {
        std::size_t end = ps_output.find('\n', pos);
        if (end == std::string_view::npos) end = ps_output.size();
        std::string_view line = ps_output.substr(pos, end - pos);
        pos = end + 1;
        if (line.find("qor2pc") == std::string_view::npos) continue;
        auto w = words_of(line); // PID TTY STAT TIME COMMAND...
        if (w.size() > 4 && w[4][0] == 'w') return true;
    }
    return false;
}

} // namespace

float epoch_of_date(std::string_view asctime) {
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    int month = 12;
    for (int m = 0; m < 12 && asctime.size() >= 7; ++m) {
        if (asctime.substr(4, 3) == std::string_view(months + 3 * m, 3)) {
            month = m;
            break;
        }
    }
    double ep = int_at(asctime, 20) + (month * 30.25 + int_at(asctime, 8)) / 366.0;
    return static_cast<float>(static_cast<int>(ep * 10 + 0.5) / 10.0);
}

int seconds_of_day(std::string_view asctime) {
    return two_digits(asctime, 11).value_or(0) * 3600 + two_digits(asctime, 14).value_or(0) * 60 +
           two_digits(asctime, 17).value_or(0);
}

int clock_difference(int local, int remote) {
    int d = local - remote;
    if (d < -999) d += 86400;
    if (d > 999) d -= 86400;
    return std::abs(d);
}

int Driver::main(const std::vector<std::string>& args) {
    Step stop = run(args);
    if (stop && !batch_path.empty()) note("end", stop->message);
    // However the run ended, the marks of its finished lines are tried once
    // more; a batch file that does not hold them would be worked again.
    if (stop && !unsaved_.empty() && !marks_said_) {
        if (Step unsaved = save_marks()) {
            sys_.print(stop->message);
            stop = unsaved;
        }
    }
    if (!stop) return 0;
    sys_.print(stop->message);
    return stop->status;
}

void Driver::startup_clock() {
    std::string now = qor::asctime_text(static_cast<std::time_t>(sys_.now()));
    a_ep = epoch_of_date(now);
    v1 = mailbox_.show("v1", 80);
    if (auto remote = qor::clock_seconds(v1)) {
        clock_diff = clock_difference(seconds_of_day(now), *remote);
    }
}

void Driver::start_daemon() {
    qor::Argv daemon{qor::tool_path("telelink")};
    if (build_.daemon_mode != nullptr) daemon.emplace_back(build_.daemon_mode);
    // The daemon outlives this run: its lines go to the site's log, not to
    // our console, which may be a pipe that must close when we end.
    std::string log = qor::site_path("/u/tarnu/qorlib/telelink.log");
    if (!sys_.background(daemon, log)) {
        sys_.print("cannot start " + daemon[0] + " (its log " + log + "): " + std::strerror(errno) +
                   "\n");
    }
    mailbox_.set_counter("ss", {});
    mailbox_.set_counter("pp", {});
    ss_written_ = qor::Counter{};
}

Step Driver::run(const std::vector<std::string>& args) {
    startup_clock();
    start_daemon();
    sys_.print(banner);
    if (args.size() < 2) {
        sys_.print(usage);
        return std::nullopt;
    }
    if (clock_diff) {
        sys_.print("2 clock difference:  " + std::to_string(*clock_diff) +
                   " seconds ( allowed in 4sec.)\n");
    } else {
        sys_.print("2 clock difference:  unknown, the status line holds no telescope clock\n");
    }
    if (Step s = checkfilexist()) return s;
    // A telescope computer whose clock cannot be read is checked as one far off.
    if (!clock_diff || *clock_diff > 300) {
        if (Step s = checkiflinkpc()) return s;
    }
    if (Step s = load(args[1])) return s;
    note_interrupted_line();

    for (std::size_t i = begin_number() - 1; i < store.lines.size(); ++i) {
        follow_edits(i);
        if (i >= store.lines.size()) break;
        if (Step s = work_line(i)) return s;
    }
    if (Step s = save_marks()) return s;
    note("end", "finish");
    sys_.print("******************************** finish ************\n");
    sys_.background({"beep", "9"});
    return std::nullopt;
}

Step Driver::checkfilexist() {
    auto ps = sys_.capture({"ps", "ax"}, 1 << 20, 10);
    if (qor2pc_running(ps.out)) return Stop{"ERROR: please close qor2pc !\n\n"};

    sys_.run({qor::tool_path("jdstamp")}, jdstamp_limit);
    auto jd = words_of(sys_.read_file(qor::site_path("/u/tarnu/jd.tmp")).value_or(""));
    if (jd.empty() || jd[0].size() > 8 ||
        jd[0].find_first_not_of("0123456789") != std::string::npos) {
        return Stop{"\n\tERROR: cannot read the night's day number in " +
                    qor::site_path("/u/tarnu/jd.tmp") + "\n\n"};
    }
    std::string observers = qor::site_path("/u/tarnu/obs" + jd[0] + ".txt");
    if (auto text = sys_.read_file(observers)) {
        observers_ = first_line(*text, 59);
        if (!observers_.empty() && observers_.back() == '\n') observers_.pop_back();
        sys_.print(observers + ": " + first_line(*text, 59) + "\n");
    } else {
        sys_.print("\n\tWarnning: " + observers + " not existed!\n\n");
        sys_.print("input observers: ");
        if (auto names = sys_.read_line(59)) {
            observers_ = *names;
            if (qor::Done d = sys_.replace_file(observers, *names + "\n"); !d) {
                sys_.print("cannot write " + observers + ": " + d.why() + "\n");
            }
        }
    }

    // Only its presence counts; an empty file is fine.
    if (!sys_.read_file(qor::site_path("/u/tarnu/RUN_NUMBER"), 0)) {
        return Stop{"\n\tERROR: cannot found file: RUN_NUMBER\n\n"};
    }
    auto table = sys_.read_file(qor::site_path("/u/tarnu/FILTER"));
    if (!table) return Stop{"\n\tERROR: cannot found file: FILTER\n\n"};
    filters = parse_filter_table(*table);

    std::string log = qor::site_path("/u/tarnu/qorlib/obs.log");
    if (!sys_.read_file(log, 0)) sys_.replace_file(log, sys_.capture({"date"}, 256).out);
    return std::nullopt;
}

Step Driver::load(const std::string& path) {
    batch_path = path;
    auto text = sys_.read_file(path);
    if (!text) return Stop{"batch_file not found!\n"};
    mailbox_.set_counter("pp", {});
    store = BatchStore::parse(*text);
    known_text_ = *text;
    for (std::size_t i = 0; i < store.lines.size(); ++i) {
        sys_.print(numbered(i + 1, store.lines[i]));
    }
    for (std::size_t i = 0; i < store.beyond.size(); ++i) {
        sys_.print(numbered(BatchStore::max_lines + 1 + i, store.beyond[i]));
        sys_.print("Warning: file limited 2000 lines!!!\n");
    }
    if (!store.unended.empty()) {
        sys_.print("the last line has no line end: it is kept in the file but not worked\n");
    }
    // Lines that would stop the run, named now so they can be mended before the night.
    for (const auto& f : pending_faults(store, &filters)) sys_.print(fault_text(f.line, f.fault));
    return std::nullopt;
}

std::size_t Driver::begin_number() {
    if (store.lines.size() <= 1) return 1;
    sys_.print("Begin number: ");
    long n = std::strtol(sys_.read_line(8).value_or("").c_str(), nullptr, 10);
    // The run never starts before the first line.
    return n < 1 ? 1 : static_cast<std::size_t>(n);
}

Step Driver::work_line(std::size_t& index) {
    if (!is_pending(store.lines[index])) return std::nullopt;
    std::string original = store.lines[index];
    line_number_ = static_cast<int>(index) + 1;
    if (store.lines.size() > 1) sys_.print(numbered(index + 1, trim_trailing_blanks(original)));
    qor::ParsedLine parsed = parse_batch_line(original);
    if (!parsed.line) return Stop{"ERROR: " + fault_text(line_number_, *parsed.fault) + "\n"};
    const BatchLine& line = *parsed.line;
    sys_.replace_file(qor::site_path("/u/tarnu/status/nowjob.txt"), line.text);
    write2log(line.text);

    Setup setup = setpar(line);
    if (qor::Done d = sys_.replace_file(qor::tool_path("fff.dat"), setup.fff_dat); !d) {
        sys_.print("cannot write " + qor::tool_path("fff.dat") + ": " + d.why() + "\n");
    }
    if (setup.nsc) nsc = *setup.nsc;
    if (setup.nsr) nsr = *setup.nsr;

    note("line", std::to_string(line_number_) + ": " + line.text);
    if (Step s = wait_fresh_status()) return s;
    auto ff = getfiltframe(line, filters, qor::beam_filter(getvar2("qor", "v1")));
    if (!ff) return Stop{"ERROR: filter not defined in inputfile !!!\n\n"};
    filter_ = *ff;
    if (build_.filter_changes && ff->command[0] != ' ') {
        if (Step s = sendpc(ff->command, 1)) return s;
    }

    frames_of_line_ = ff->frames;
    for (int q = 0; q < ff->frames; ++q) {
        frame_of_line_ = q;
        Pointing p = getradec(line, q, a_ep);
        pointing_ = p;
        a_ra = p.a_ra;
        a_dec = p.a_dec;
        if (checks_pointing(build_, q)) {
            int e = jrd();
            sys_.print("-----------" + std::to_string(e) + "\n");
            if (e > (line.kind_c() ? 100 : 10)) {
                if (Step s = sendpc(p.command, q)) return s;
            }
        }
        if (Step s = exposure(line)) return s;
    }

    mark_worked(index, original, line.text);
    if (qor::Done d = rewrite(); !d) {
        warn("WARNING: cannot rewrite " + batch_path + ": " + d.why() +
             "; the marks go in with the next line's rewrite\n");
    }
    return std::nullopt;
}

qor::Done Driver::rewrite() {
    std::string text = store.text();
    qor::Done d = sys_.replace_file(batch_path, text);
    if (!d) return d;
    known_text_ = std::move(text);
    unsaved_.clear();
    return d;
}

// The night's events with their time, for the night report: one line
// each, "<UTC>\t<kind>\t<text>", appended to /u/tarnu/qorlib/events.log.
void Driver::note(std::string_view kind, std::string_view text) {
    std::string line = qor::iso_utc(sys_.now()) + "\t" + std::string(kind) + "\t" +
                       qor::printable(text.substr(0, text.find_last_not_of("\n") + 1));
    for (char& c : line)
        if (c == '\n') c = ' ';
    sys_.append_file(qor::site_path("/u/tarnu/qorlib/events.log"), line + "\n");
}

// A message of something gone wrong: on the console, and in the night's events.
void Driver::warn(const std::string& text) {
    sys_.print(text);
    note("fault", text);
}

void Driver::write2log(std::string_view text) {
    std::string log = qor::site_path("/u/tarnu/qorlib/obs.log");
    if (qor::Done d = sys_.append_file(log, std::string(text) + "\n"); !d) {
        sys_.print("cannot append to " + log + ": " + d.why() + "\n");
    }
}

} // namespace qobs
