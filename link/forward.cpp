#include "forward.h"

#include "coords.h"
#include "framing.h"
#include "site.h"

namespace qlink {

std::optional<qor::Counter> Forwarder::counter(const char* name, const char* consequence,
                                               bool& said) {
    auto c = box_.counter(name);
    if (!c && !said)
        sys_.print(std::string("mailbox counter ") + name + " unreadable: " + consequence + "\n");
    said = !c;
    return c;
}

bool Forwarder::trusted(const qor::Counter& read) {
    // The first look adopts what it finds (a command posted before a restart
    // is still to go out); "00" is the driver starting afresh.
    if (!taken_ || read.taken == *taken_ || read == qor::Counter{}) {
        taken_ = read.taken;
        ss_odd_said_ = false;
        return true;
    }
    qor::Counter back{*taken_, *taken_};
    if (!ss_odd_said_) {
        sys_.print("mailbox counter ss reads " + read.text() +
                   ", but the last command this daemon took was in slot s" + *taken_ +
                   ": nothing taken, the counter set back to " + back.text() + "\n");
    }
    ss_odd_said_ = true;
    box_.set_counter("ss", back);
    ss = back;
    return false;
}

void Forwarder::whatsend(std::string& send_buf) {
    if (!ss.pending()) {
        // An error text or a hand-typed value is no counter: acting on it
        // would replay old slots to the telescope and write nonsense back.
        auto read = counter("ss", "no command taken", ss_said_);
        if (!read || !trusted(*read)) return;
        ss = *read;
    }
    if (!ss.pending()) {
        // Nothing posted: a one-shot command left by hand goes out instead.
        std::string xydw = qor::tool_path("xydw");
        if (auto content = sys_.read_file(xydw)) {
            send_buf = std::string(c_text(first_line(*content, 79)));
            sys_.remove_file(xydw);
        }
        return;
    }
    char next = qor::successor(ss.taken);
    auto got = sys_.capture({qor::tool_path("keyshow"), qor::slot_key('s', next)}, 128);
    // A tool that hung gave no slot: read it again next time rather than
    // mark a command taken that never went out.
    if (got.timed_out) return;
    ss.taken = next;
    taken_ = next;
    std::string command = qor::from_key_word(c_text(got.out));
    if (command.starts_with("mo")) {
        if (auto moved = rewrite_move(command)) {
            if (keep_send_again_) send_again = *moved;
            send_buf = *moved;
        } else {
            // Never point the telescope from coordinates we could not read.
            if (command.empty() || command.back() != '\n') command += '\n';
            sys_.print("bad coordinates, not sent: " + command);
        }
    } else {
        send_buf = command;
    }
    box_.set_counter("ss", ss);
}

void Forwarder::post_reply(std::string_view jtime, std::string_view reply) {
    sys_.sleep(1);
    auto pp = counter("pp", "replies not posted", pp_said_);
    if (!pp) return;
    // The driver empties the ring after reading ("00"); otherwise it still
    // shows our last reply, unread. Anything else came from a third hand:
    // the reply still goes into the next slot, where the driver, which
    // checks every reply's time stamp, finds it.
    bool ours = *pp == qor::Counter{} ||
                (pp->taken == '0' && (!reply_slot_ || pp->posted == *reply_slot_));
    if (!ours && !pp_odd_said_) {
        sys_.print("mailbox counter pp reads " + pp->text() + ", but the last reply this daemon " +
                   "posted was in slot p" + reply_slot_.value_or('0') + "\n");
    }
    pp_odd_said_ = !ours;
    pp->posted = qor::successor(pp->posted);
    reply_slot_ = pp->posted;
    // The words sh would make of "keyset p<n> <jtime><reply>": a line end in
    // the reply ends the word, and nothing in it is run.
    box_.set(qor::slot_key('p', pp->posted),
             std::string(c_text(jtime)) + std::string(c_text(reply)));
    box_.set_counter("pp", *pp);
}

} // namespace qlink
