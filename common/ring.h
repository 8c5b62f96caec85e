// The mailbox between the batch driver and the link daemon: two rings of
// four camera-database keys, the command ring (slots s0..s3, counter ss)
// written by the driver and the reply ring (slots p0..p3, counter pp)
// written by the daemon, and v1, the latest telescope status line.
//
// A counter holds two sequence characters '0'..'3': the posted character
// (slot most recently written) and the taken character (slot most recently
// read). The ring holds unread entries exactly when they differ. A writer
// puts the entry into the slot of the successor of the posted character
// first, then writes the counter; a reader steps the taken character on and
// reads that slot.
#pragma once

#include "system.h"

#include <optional>
#include <string>
#include <string_view>

namespace qor {

inline bool is_sequence(char c) {
    return c >= '0' && c <= '3';
}

// '0' -> '1' -> '2' -> '3' -> '0'.
inline char successor(char c) {
    return static_cast<char>(((c + 1) & 3) | 0x30);
}

struct Counter {
    char posted = '0';
    char taken = '0';

    bool pending() const { return posted != taken; }
    std::string text() const { return {posted, taken}; }
    bool operator==(const Counter&) const = default;
};

// A counter as a key tool prints it: two sequence characters, then nothing,
// a line end or white space. Anything else (an error text from the
// database, one digit typed by hand, no output at all) is no counter: a
// reader must then act as if nothing were new, and never write it back.
std::optional<Counter> read_counter(std::string_view output);

// The key of a slot: the ring's letter and the sequence character ("s1", "p3").
std::string slot_key(char ring, char sequence);

// A command as one key value: every blank becomes '_' (and back again).
std::string key_word(std::string_view command);
std::string from_key_word(std::string_view word);

// The key tools as both sides run them: "/u/tarnu/mokel/keyshow KEY" and
// "/u/tarnu/mokel/keyset KEY VALUE".
class Mailbox {
  public:
    explicit Mailbox(System& system) : system_(system) {}

    // The counter ss or pp, or nothing when the key does not hold one.
    std::optional<Counter> counter(std::string_view name);
    void set_counter(std::string_view name, Counter counter);

    // What keyshow prints for the key, at most max_chars of it, cut at the
    // first NUL (as a C reader of the pipe sees it).
    std::string show(std::string_view key, std::size_t max_chars);

    // Runs keyset with the key and the words that sh would make of the
    // value: a value is one word by the mailbox's convention, and a line end
    // in it is not part of it. Returns keyset's exit status.
    int set(std::string_view key, std::string_view value);

  private:
    System& system_;
};

} // namespace qor
