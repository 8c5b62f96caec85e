// The daemon's side of the mailbox: it takes the driver's commands from the
// command ring, one per send phase, rewriting move commands into the fixed
// form the telescope control computer expects, and posts every reply record
// into the reply ring with the host time in front.
#pragma once

#include "ring.h"
#include "system.h"

#include <string>
#include <string_view>

namespace qlink {

class Forwarder {
  public:
    Forwarder(qor::System& sys, bool keep_send_again)
        : sys_(sys), box_(sys), keep_send_again_(keep_send_again) {}

    // whatsend: puts the next command into send_buf, or leaves it as it was
    // when none waits. The one-shot command file xydw goes out when the ring
    // is empty.
    void whatsend(std::string& send_buf);

    // Posts a reply record, stamped with jtime, into the next reply slot.
    void post_reply(std::string_view jtime, std::string_view reply);

    // Local copy of ss: re-read only while it shows nothing pending, so a
    // run of posted commands is taken one per send phase.
    qor::Counter ss;
    // The last move command sent, for a resend after a restart.
    std::string send_again;

  private:
    // The counter, or nothing (said once until it reads again) when the
    // key holds anything but two sequence characters.
    std::optional<qor::Counter> counter(const char* name, const char* consequence, bool& said);
    // Whether ss as read can be acted on: its taken character is the one
    // this daemon last wrote (or the driver's reset "00"). Anything else was
    // written by a third hand: its posted character cannot be trusted
    // either, and acting on it would replay old slots to the telescope. The
    // counter is then set back to the last slot taken, which the driver sees
    // as its command not yet taken, and posts again.
    bool trusted(const qor::Counter& read);

    qor::System& sys_;
    qor::Mailbox box_;
    bool keep_send_again_;
    std::optional<char> taken_;       // the taken character of ss we last wrote
    std::optional<char> reply_slot_;  // the posted character of pp we last wrote
    bool ss_said_ = false, ss_odd_said_ = false;
    bool pp_said_ = false, pp_odd_said_ = false;
};

} // namespace qlink
