// Header cards of raw frames and of our FITS copies: 80 characters each,
// keyword in columns 1-8, "= " in 9-10 and the value behind it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qarch {

constexpr std::size_t card_bytes = 80;
constexpr std::size_t block_bytes = 2880;
constexpr std::size_t raw_header_bytes = 5760; // raw frames: exactly two blocks

// The keyword of a card, without its padding blanks.
std::string keyword_of(std::string_view card);

// A card as the standard has it: printable text, a keyword of capitals,
// digits, '-' and '_' padded with blanks, and after "= " a value of a known
// form (a quoted text with inner quotes doubled, T or F, an integer, a real
// with exponent letter E or D, a complex pair).
bool standard_card(std::string_view card);

// The cards of a header up to its END card (which is not kept).
struct Header {
    std::vector<std::string> cards;
    bool ended = false;    // an END card was found
    std::size_t bytes = 0; // the header's length: whole blocks up to the END card

    const std::string* find(std::string_view keyword) const;
    // The value of the first card of the keyword: a text without its quotes
    // and trailing blanks, a number, or a logical.
    std::optional<std::string> text(std::string_view keyword) const;
    std::optional<double> number(std::string_view keyword) const;
    std::optional<bool> logical(std::string_view keyword) const;
};
Header read_cards(std::string_view bytes);

// What the format of a raw frame says about its layout (cards by position:
// 3 NAXIS1, 4 NAXIS2, 5 the detector column of the first pixel).
struct RawLayout {
    int n1 = 0;     // row length: image columns and overscan
    int n2 = 0;     // rows; the image part of a row is n2 columns
    int coloff = 0; // detector column of the first pixel
    long long data_bytes() const { return 2LL * n1 * n2; }
    long long file_bytes() const { return static_cast<long long>(raw_header_bytes) + data_bytes(); }
};
struct RawHead {
    Header header;
    std::optional<RawLayout> layout;
    std::string problem; // why there is no layout
};
// The first bytes of a raw frame (at least its two header blocks).
RawHead read_raw_head(std::string_view bytes);

} // namespace qarch
