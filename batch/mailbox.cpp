// The driver's side of the mailbox: post a command, wait for its reply,
// ask the operator when none comes; and the status-line checks.
#include "driver.h"

#include "site.h"

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

} // namespace

std::string Driver::getvar2(std::string_view group, std::string_view name) {
    std::string out =
        sys_.capture({qor::tool_path("varshow"), std::string(group), std::string(name)}, 80).out;
    out.resize(std::min(out.size(), out.find('\0')));
    return out;
}

Driver::Answer Driver::ask_operator() {
    for (;;) {
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
    std::string a = mailbox_.show("v1", 80);
    sys_.sleep(4);
    std::string b = mailbox_.show("v1", 80);
    if (a.size() < 54 || b.size() < 54) return false;
    for (std::size_t i : {52, 53, 26, 37}) {
        if (a[i] != b[i]) return true;
    }
    return false;
}

Step Driver::sendpc(const std::string& command, int flag) {
    for (;;) { // posting; re_do comes back here
        write2log(command);
        // A counter that does not read is the empty ring, as the driver left it.
        qor::Counter ss = mailbox_.counter("ss").value_or(qor::Counter{});
        char n = qor::successor(ss.posted);
        mailbox_.set(qor::slot_key('s', n), qor::key_word(command));
        mailbox_.set_counter("ss", {n, ss.taken});
        sys_.sleep(1);

        bool redo = false;
        for (int polls = 0; !redo;) { // waiting
            sys_.sleep(2);
            Answer answer = Answer::wait;
            if (++polls > polls_before_timeout) {
                if (flag == 0 && still_moving()) {
                    polls = polls_after_motion;
                    continue;
                }
                answer = ask_operator();
            } else {
                // A reply is there only when the ring holds an unread entry;
                // a counter that does not read as one announces nothing.
                auto pp = mailbox_.counter("pp");
                if (!pp || !pp->pending()) continue;
                std::string reply;
                char b = pp->taken;
                do {
                    if (b != pp->posted) b = qor::successor(b);
                    reply = reply_text(mailbox_.show(qor::slot_key('p', b), 80));
                } while (b != pp->posted);
                mailbox_.set_counter("pp", {});
                sys_.print("************* " + reply + "\n");
                if (reply.size() <= 14 || reply[14] != 'e') return std::nullopt;
                answer = ask_operator();
            }
            polls = 0;
            switch (answer) {
            case Answer::wait:
                break;
            case Answer::quit:
                return Stop{};
            case Answer::redo:
                redo = true;
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
        // A new status line shows a new units digit of the seconds.
        if (now.size() > 7 && (v1.size() <= 7 || now[7] != v1[7])) {
            sys_.print("QOR talk with PC OK !\n");
            return std::nullopt;
        }
    }
    return Stop{"\n\tERROR: QOR cannot talk with PC !!!\n\n"};
}

} // namespace qobs
