// What differs between the builds of the batch driver. Everything else is
// shared; each program's main names its row of this table.
#pragma once

namespace qobs {

enum class Moves {
    every_frame, // pointing check before every frame: the dither offsets are applied
    first_frame, // before the first frame of a line only
    never,       // no pointing check, no move
};

struct Build {
    const char* name;
    bool filter_changes;     // post the filter command of a line
    Moves moves;             // when the pointing is checked and a move posted
    const char* daemon_mode; // argument the link daemon is started with, or none
};

inline constexpr Build qorobs_build{
    .name = "qorobs", .filter_changes = true, .moves = Moves::every_frame, .daemon_mode = nullptr};
// qorobs with the daemon in run mode 1, which prints every status record.
inline constexpr Build qorobs9_build{
    .name = "qorobs9", .filter_changes = true, .moves = Moves::every_frame, .daemon_mode = "1"};
inline constexpr Build qorobs1_build{
    .name = "qorobs1", .filter_changes = true, .moves = Moves::first_frame, .daemon_mode = nullptr};
inline constexpr Build qorobs0_build{.name = "qorobs0",
                                     .filter_changes = false,
                                     .moves = Moves::every_frame,
                                     .daemon_mode = nullptr};
inline constexpr Build qorobs10_build{.name = "qorobs10",
                                      .filter_changes = false,
                                      .moves = Moves::first_frame,
                                      .daemon_mode = nullptr};
inline constexpr Build qorobs00_build{
    .name = "qorobs00", .filter_changes = false, .moves = Moves::never, .daemon_mode = nullptr};

// Whether the build checks the pointing before frame q of a line.
constexpr bool checks_pointing(const Build& b, int q) {
    return b.moves == Moves::every_frame || (b.moves == Moves::first_frame && q == 0);
}

} // namespace qobs
