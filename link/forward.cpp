#include "forward.h"

#include "move_command.h"
#include "framing.h"
#include "site.h"

namespace qlink {

TakeStep next_take(qor::Counter local, std::optional<qor::Counter> read,
                   std::optional<char> taken) {
    if (!local.pending()) {
        if (!read) return {local, TakeAction::nothing};
        // The first look adopts what it finds (a command posted before a
        // restart is still to go out); "00" is the driver starting afresh.
        if (taken && read->taken != *taken && *read != qor::Counter{}) {
            return {{*taken, *taken}, TakeAction::set_back};
        }
        local = *read;
    }
    if (!local.pending()) return {local, TakeAction::one_shot};
    return {local, TakeAction::take, qor::successor(local.taken)};
}

namespace {

// The slot the ring steps through just before this one ('3' before '0').
char slot_before(char slot) {
    return qor::successor(qor::successor(qor::successor(slot)));
}

} // namespace

ReplyStep next_reply(qor::Counter pp, std::optional<char> last_slot) {
    bool ours = pp == qor::Counter{} || (pp.taken == '0' && (!last_slot || pp.posted == *last_slot));
    pp.posted = qor::successor(pp.posted);
    // A counter that showed the ring empty would hide this reply for good
    // (a taken character written by a third hand, or four replies unread):
    // it announces this one at least.
    if (!pp.pending()) pp.taken = slot_before(pp.posted);
    return {pp, !ours};
}

std::optional<qor::Counter> Forwarder::counter(const char* name, const char* consequence,
                                               bool& said) {
    auto c = box_.counter(name);
    if (!c && !said)
        sys_.print(std::string("mailbox counter ") + name + " unreadable: " + consequence + "\n");
    said = !c;
    return c;
}

void Forwarder::whatsend(std::string& send_buf) {
    // An error text or a hand-typed value is no counter: acting on it would
    // replay old slots to the telescope and write nonsense back.
    std::optional<qor::Counter> read;
    if (!ss_.pending()) read = counter("ss", "no command taken", ss_said_);
    TakeStep step = next_take(ss_, read, taken_);
    ss_ = step.local;
    switch (step.action) {
    case TakeAction::nothing:
        return;
    case TakeAction::set_back:
        if (!ss_odd_said_) {
            sys_.print("mailbox counter ss reads " + read->text() +
                       ", but the last command this daemon took was in slot s" + *taken_ +
                       ": nothing taken, the counter set back to " + ss_.text() + "\n");
        }
        ss_odd_said_ = true;
        box_.set_counter("ss", ss_);
        return;
    case TakeAction::one_shot:
        if (read) {
            taken_ = ss_.taken;
            ss_odd_said_ = false;
        }
        // Nothing posted: a one-shot command left by hand goes out instead.
        if (auto content = sys_.read_file(qor::tool_path("xydw"))) {
            send_buf = std::string(c_text(first_line(*content, 79)));
            sys_.remove_file(qor::tool_path("xydw"));
        }
        return;
    case TakeAction::take:
        if (read) {
            taken_ = ss_.taken;
            ss_odd_said_ = false;
        }
        take(step.slot, send_buf);
        return;
    }
}

void Forwarder::take(char slot, std::string& send_buf) {
    auto got = sys_.capture({qor::tool_path("keyshow"), qor::slot_key('s', slot)}, 128);
    // A tool that hung gave no slot: read it again next time rather than
    // mark a command taken that never went out.
    if (got.timed_out) return;
    ss_.taken = slot;
    taken_ = slot;
    std::string command = qor::from_key_word(c_text(got.out));
    if (command.starts_with("mo")) {
        if (auto moved = rewrite_move(command)) {
            if (keep_send_again_) send_again_ = *moved;
            send_buf = *moved;
        } else {
            // Never point the telescope from coordinates we could not read.
            if (command.empty() || command.back() != '\n') command += '\n';
            sys_.print("bad coordinates, not sent: " + command);
        }
    } else {
        send_buf = command;
    }
    box_.set_counter("ss", ss_);
}

void Forwarder::post_reply(std::string_view jtime, std::string_view reply) {
    sys_.sleep(1);
    auto pp = counter("pp", "replies not posted", pp_said_);
    if (!pp) return;
    ReplyStep step = next_reply(*pp, reply_slot_);
    // Not what we left: the reply still goes into the next slot, where the
    // driver, which checks every reply's time stamp, finds it.
    if (step.odd && !pp_odd_said_) {
        sys_.print("mailbox counter pp reads " + pp->text() + ", but the last reply this daemon " +
                   "posted was in slot p" + reply_slot_.value_or('0') + "\n");
    }
    pp_odd_said_ = step.odd;
    reply_slot_ = step.counter.posted;
    // The words sh would make of "keyset p<n> <jtime><reply>": a line end in
    // the reply ends the word, and nothing in it is run.
    box_.set(qor::slot_key('p', step.counter.posted),
             std::string(c_text(jtime)) + std::string(c_text(reply)));
    box_.set_counter("pp", step.counter);
}

} // namespace qlink
