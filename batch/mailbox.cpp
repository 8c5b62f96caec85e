// The driver's side of the mailbox: post a command, wait for its reply,
// ask the operator when none comes; and the status-line checks.
#include "driver.h"

#include "clock.h"
#include "site.h"
#include "status_line.h"
#include "text.h"

#include <cmath>

namespace qobs {

namespace {

constexpr int polls_before_timeout = 145; // 146 intervals of 2 s: about 292 s
constexpr int polls_after_motion = 40;    // the next time-out 106 intervals later

// A reply as the driver keeps it: up to the first character below a blank
// or above 0x7f (the dbshow line end included).
std::string reply_text(std::string_view slot) {
    std::size_t n = 0;
    while (n < slot.size() && static_cast<unsigned char>(slot[n]) >= 0x20 &&
           static_cast<unsigned char>(slot[n]) < 0x80) {
        ++n;
    }
    return std::string(slot.substr(0, n));
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// Seconds of the day between a's and b's "hh:mm:ss", the day wrapped: within
// half a day either way.
int seconds_after(int a, int b) {
    int d = a - b;
    if (d < -43200) d += 86400;
    if (d >= 43200) d -= 86400;
    return d;
}

int clock_seconds(std::string_view hhmmss) {
    return ((hhmmss[0] - '0') * 10 + (hhmmss[1] - '0')) * 3600 +
           ((hhmmss[3] - '0') * 10 + (hhmmss[4] - '0')) * 60 + (hhmmss[6] - '0') * 10 +
           (hhmmss[7] - '0');
}

} // namespace

std::optional<int> reply_stamp(std::string_view slot) {
    if (slot.size() < 9 || slot[2] != ':' || slot[5] != ':' || slot[8] != '_') return std::nullopt;
    for (std::size_t i : {0, 1, 3, 4, 6, 7})
        if (!digit(slot[i])) return std::nullopt;
    if (slot[0] > '2' || slot[3] > '5' || slot[6] > '5') return std::nullopt;
    return clock_seconds(slot);
}

std::string Driver::getvar2(std::string_view group, std::string_view name) {
    std::string out =
        sys_.capture({qor::tool_path("varshow"), std::string(group), std::string(name)}, 80).out;
    out.resize(std::min(out.size(), out.find('\0')));
    return out;
}

Driver::Answer Driver::ask_operator() {
    for (;;) {
        note("wait", "operator");
        sys_.print("----------what can I do: quit, wait, re_do, ignore <cr=wait>  ");
        std::string answer = sys_.read_line(1).value_or("");
        if (answer.empty() || answer[0] == 'w') return Answer::wait;
        if (answer[0] == 'q') return Answer::quit;
        if (answer[0] == 'r') return Answer::redo;
        if (answer[0] == 'i') return Answer::ignore;
    }
}

// The telescope is moving when the slew counter or the tens of the
// coordinates' seconds change within 4 s. A status line too short to show
// them tells nothing: then it is taken as standing still.
bool Driver::still_moving() {
    std::string a = qor::motion_marks(mailbox_.show("v1", 80));
    sys_.sleep(4);
    std::string b = qor::motion_marks(mailbox_.show("v1", 80));
    return !a.empty() && !b.empty() && a != b;
}

// Only this driver moves the posted character of ss (the daemon moves the
// taken one), so a posted character other than ours was written by a third
// hand, or the daemon set the counter back after one did.
void Driver::check_ss(const qor::Counter& read) {
    bool odd = ss_written_ && read.posted != ss_written_->posted;
    if (odd && !ss_odd_said_) {
        warn("mailbox counter ss reads " + read.text() + ", but this run last wrote " +
             ss_written_->text() + "\n");
    }
    ss_odd_said_ = odd;
}

// The driver only ever writes "00" to pp, so its taken character is '0'.
void Driver::check_pp(const qor::Counter& read) {
    bool odd = read.taken != '0';
    if (odd && !pp_odd_said_) {
        warn("mailbox counter pp reads " + read.text() + ", but this run last wrote 00\n");
    }
    pp_odd_said_ = odd;
}


// What the link daemon says of the serial line, whenever it changes while
// we wait: a command that cannot reach the telescope must not look like a
// slow telescope.
void Driver::say_link(const std::string& command, std::string& said) {
    auto text = sys_.read_file(qor::site_path("/u/tarnu/status/link.txt"));
    if (!text) return;
    std::string state = qor::printable(text->substr(0, std::min(text->find('\n'), std::size_t{200})));
    if (state == said || (said.empty() && state == "serial line up")) return;
    said = state;
    warn("waiting for the reply to " + command + ": " + state + "\n");
}

// The moment of a posting, kept on the monotonic clock together with the
// earliest the wall clock has read for it since: the daemon stamps a reply
// with the wall clock as it ran then, and a clock stepped back and forward
// again meanwhile must not make a true reply look older than the command.
void Driver::Posting::see(qor::System& sys) {
    earliest = std::min(earliest, sys.now() - (sys.monotonic() - at));
}

// The replies that answer the posting: those the counter announces, in ring
// order, whose stamp is not earlier than the posting. A slot without a
// stamp holds no reply (a fresh database's placeholder); a reply stamped
// earlier answered something else (an earlier run's command, a command
// posted again). Each is said once. When no announced slot answers, the
// other slots are looked at too: a counter overwritten by a third hand
// must not hide the reply.
std::optional<std::string> Driver::answer_to(const qor::Counter& pp, Posting& posting,
                                             std::set<std::string>& said) {
    posting.see(sys_);
    int at = clock_seconds(qor::clock_text(static_cast<std::time_t>(std::floor(posting.earliest))));
    auto read = [&](char slot, bool quiet) -> std::optional<std::string> {
        std::string text = reply_text(mailbox_.show(qor::slot_key('p', slot), 80));
        auto stamp = reply_stamp(text);
        if (stamp && seconds_after(*stamp, at) >= 0) return text;
        if (!quiet && said.insert(text).second) {
            warn(stamp ? "ignoring a reply stamped before the command: " + text + "\n"
                       : "ignoring reply slot p" + std::string(1, slot) +
                             ": it holds no stamped reply (" + qor::printable(text) + ")\n");
        }
        return std::nullopt;
    };
    std::optional<std::string> reply;
    char b = pp.taken;
    do {
        if (b != pp.posted) b = qor::successor(b);
        if (auto r = read(b, false)) reply = r;
    } while (b != pp.posted);
    if (!reply) {
        for (char slot : {'0', '1', '2', '3'}) {
            auto r = read(slot, true);
            if (r && (!reply || seconds_after(*reply_stamp(*r), *reply_stamp(*reply)) > 0)) reply = r;
        }
    }
    return reply;
}

// ss before a posting. A camera database that does not answer (a hung
// tool, ended at its limit) is asked again; one that still does not is
// taken to hold what this run last left there, the daemon having taken the
// last command: never "00", which would post into a slot the daemon has
// already taken and sets back.
qor::Counter Driver::counter_to_post_on() {
    auto read = mailbox_.counter("ss");
    for (int tries = 1; !read && tries < 3; ++tries) {
        sys_.sleep(2);
        read = mailbox_.counter("ss");
    }
    if (read) {
        check_ss(*read);
        return *read;
    }
    qor::Counter last = ss_written_.value_or(qor::Counter{});
    warn("mailbox counter ss unreadable: posting after slot s" + std::string(1, last.posted) +
         ", this run's last\n");
    return {last.posted, last.posted};
}

PollAction next_poll(int polls, int flag, char posted, std::optional<qor::Counter> ss,
                     std::optional<qor::Counter> pp) {
    if (polls > polls_before_timeout) {
        return flag == 0 ? PollAction::check_motion : PollAction::ask;
    }
    // Once taken, the daemon leaves our posted character in place; a ring
    // that no longer shows it and holds nothing was set back before the
    // daemon took the command. A third hand's counter (something pending)
    // is the daemon's to set back first.
    if (ss && ss->posted != posted && !ss->pending()) return PollAction::post_again;
    // A reply is there only when the ring holds an unread entry; a counter
    // that does not read as one announces nothing.
    if (pp && pp->pending()) return PollAction::read_replies;
    return PollAction::wait;
}

bool reply_failed(std::string_view reply) {
    return reply.size() > 14 && reply[14] == 'e';
}

Step Driver::sendpc(const std::string& command, int flag) {
    std::string link; // what the daemon said of the line, said here once
    for (;;) { // posting; re_do and a command set back come here again
        write2log(command);
        qor::Counter ss = counter_to_post_on();
        char n = qor::successor(ss.posted);
        Posting posting{sys_.monotonic(), sys_.now()};
        note("post", command);
        mailbox_.set(qor::slot_key('s', n), qor::key_word(command));
        ss_written_ = qor::Counter{n, ss.taken};
        mailbox_.set_counter("ss", *ss_written_);
        sys_.sleep(1);

        std::set<std::string> said;
        bool repost = false;
        for (int polls = 0; !repost;) { // waiting
            sys_.sleep(2);
            ++polls;
            std::optional<qor::Counter> ss_now, pp;
            if (polls <= polls_before_timeout) {
                posting.see(sys_);
                say_link(command, link);
                ss_now = mailbox_.counter("ss");
                if (ss_now) check_ss(*ss_now);
                pp = mailbox_.counter("pp");
                if (pp) check_pp(*pp);
            }
            Answer answer = Answer::wait;
            switch (next_poll(polls, flag, n, ss_now, pp)) {
            case PollAction::wait:
                continue;
            case PollAction::post_again:
                warn("the command ring was set back before the link daemon took " + command +
                     ": posting it again\n");
                repost = true;
                continue;
            case PollAction::check_motion:
                if (still_moving()) {
                    polls = polls_after_motion;
                    continue;
                }
                answer = ask_operator();
                break;
            case PollAction::ask:
                answer = ask_operator();
                break;
            case PollAction::read_replies: {
                auto reply = answer_to(*pp, posting, said);
                mailbox_.set_counter("pp", {});
                if (!reply) continue;
                sys_.print("************* " + *reply + "\n");
                note("reply", *reply);
                if (!reply_failed(*reply)) return std::nullopt;
                answer = ask_operator();
                break;
            }
            }
            polls = 0;
            switch (answer) {
            case Answer::wait:
                break;
            case Answer::quit:
                return Stop{};
            case Answer::redo:
                repost = true;
                break;
            case Answer::ignore:
                return std::nullopt;
            }
        }
    }
}

Step Driver::checkiflinkpc() {
    for (int tries = 0; tries < 3; ++tries) {
        if (tries > 0) sys_.sleep(2);
        std::string now = mailbox_.show("v1", 80);
        // A new status line shows a new units digit of the clock's seconds.
        std::string clock = qor::split_status_line(now).clock, before = qor::split_status_line(v1).clock;
        if (clock.size() > 7 && (before.size() <= 7 || clock[7] != before[7])) {
            sys_.print("QOR talk with PC OK !\n");
            status_fresh_ = true;
            return std::nullopt;
        }
    }
    return Stop{"\n\tERROR: QOR cannot talk with PC !!!\n\n"};
}

// Nothing about the telescope (its filter, its position) is decided from a
// status line older than this run: the one in the database may have been
// written before the telescope spoke, or by a run long gone.
Step Driver::wait_fresh_status() {
    if (status_fresh_) return std::nullopt;
    for (int waited = 0;; ++waited) {
        std::string now = mailbox_.show("v1", 80);
        if (now.size() > 7 && now != v1) {
            status_fresh_ = true;
            return std::nullopt;
        }
        if (waited == 3 || (waited > 0 && waited % 20 == 0)) {
            sys_.print("waiting for a new status line from the telescope (" +
                       std::to_string(waited) + " s)\n");
            if (waited == 3) note("wait", "status line");
        }
        if (waited >= fresh_status_limit) return Stop{"\n\tERROR: QOR cannot talk with PC !!!\n\n"};
        sys_.sleep(1);
    }
}

} // namespace qobs
