// The simulated camera control system's key/value database.
//
// One file per key under $QOR_ROOT/var/camdb/, holding the value without a
// line end. Every write goes to a temporary file that is renamed over the
// key, so a reader sees the old value or the new one, never a mix.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qor::sim {

// The directory of the database in the site root.
std::string camdb_dir();

// Keys are dotted names of letters, digits, '_' and '-' (never a path:
// no '/', no leading '.'), so a key can never name a file outside the store.
bool valid_key(std::string_view key);

// The value of the key, or nothing when the key is unknown or invalid.
std::optional<std::string> db_get(std::string_view key);

// Stores the value; false when the key is invalid or the store cannot be written.
bool db_set(std::string_view key, std::string_view value);

// The value read as a whole number, or the fallback when missing or not a number.
long db_get_long(std::string_view key, long fallback);

// A camera system that stopped answering: while the key sim.hang.<program>
// holds 1, the program waits until it is killed and prints nothing. Any
// other value hangs only a program asked about a key that begins with it
// (sim.hang.dbshow = setups.variables.obsnum: only that read hangs).
void hang_if_asked(std::string_view program, std::string_view key = "");

} // namespace qor::sim
