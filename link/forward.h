// The daemon's side of the mailbox: it takes the driver's commands from the
// command ring, one per send phase, rewriting move commands into the fixed
// form the telescope control computer expects, and posts every reply record
// into the reply ring with the host time in front.
#pragma once

#include "ring.h"
#include "system.h"

#include <optional>
#include <string>
#include <string_view>

namespace qlink {

// What a send phase does with the command ring.
enum class TakeAction {
    nothing,  // ss could not be read: nothing is taken or written
    set_back, // ss was written by a third hand: it is set back to the last slot taken
    one_shot, // nothing posted: the one-shot command file may go out
    take,     // the slot of the next command is taken
};
struct TakeStep {
    qor::Counter local; // the daemon's copy of ss afterwards
    TakeAction action = TakeAction::nothing;
    char slot = '0'; // the slot to take
};
// local: the daemon's copy of ss, re-read only while it shows nothing
// pending (so a run of posted commands is taken one per send phase); read:
// ss as just read (nothing when it was not read, or did not read as a
// counter); taken: the taken character this daemon last wrote, nothing
// before its first look. A counter whose taken character is not ours (nor
// the driver's fresh "00") came from a third hand: its posted character
// cannot be trusted either, and acting on it would replay old slots.
TakeStep next_take(qor::Counter local, std::optional<qor::Counter> read,
                   std::optional<char> taken);

// Where a reply goes: the slot after pp's posted character, and whether pp
// is not what this daemon left there (the driver empties it to "00" after
// reading; otherwise it shows our last reply, unread).
struct ReplyStep {
    qor::Counter counter; // pp to write after the slot
    bool odd = false;
};
ReplyStep next_reply(qor::Counter pp, std::optional<char> last_slot);

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

    // The last move command sent, for a resend after a restart.
    const std::string& send_again() const { return send_again_; }
    void resend_later(std::string command) { send_again_ = std::move(command); }

  private:
    // The counter, or nothing (said once until it reads again) when the
    // key holds anything but two sequence characters.
    std::optional<qor::Counter> counter(const char* name, const char* consequence, bool& said);
    void take(char slot, std::string& send_buf);

    qor::System& sys_;
    qor::Mailbox box_;
    bool keep_send_again_;
    qor::Counter ss_;                // local copy of ss
    std::optional<char> taken_;      // the taken character of ss we last wrote
    std::optional<char> reply_slot_; // the posted character of pp we last wrote
    std::string send_again_;
    bool ss_said_ = false, ss_odd_said_ = false;
    bool pp_said_ = false, pp_odd_said_ = false;
};

} // namespace qlink
