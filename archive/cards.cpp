#include "cards.h"

#include "text.h"

#include <cstdlib>
#include <regex>

namespace qarch {

namespace {

std::string trimmed(std::string_view s) {
    std::size_t a = s.find_first_not_of(' ');
    if (a == std::string_view::npos) return {};
    std::size_t b = s.find_last_not_of(' ');
    return std::string(s.substr(a, b - a + 1));
}

// The value field of a card: what follows "= " when the card has one.
std::optional<std::string_view> value_field(std::string_view card) {
    if (card.size() < 10 || card[8] != '=' || card[9] != ' ') return std::nullopt;
    return card.substr(10);
}

// A card's value that is not a text: up to the comment.
std::optional<std::string> plain_value(std::string_view card) {
    auto v = value_field(card);
    if (!v) return std::nullopt;
    std::string t = trimmed(v->substr(0, v->find('/')));
    if (t.empty() || t[0] == '\'') return std::nullopt;
    return t;
}

std::optional<int> whole(const std::string* card) {
    if (!card) return std::nullopt;
    auto t = plain_value(*card);
    if (!t) return std::nullopt;
    auto n = qor::whole_int(*t);
    if (!n || *n < -1000000 || *n > 1000000) return std::nullopt;
    return n;
}

bool standard_value(std::string_view field) {
    std::string v = trimmed(field);
    if (!v.empty() && v[0] == '\'') {
        for (std::size_t i = 1; i < v.size(); ++i) {
            if (v[i] != '\'') continue;
            if (i + 1 < v.size() && v[i + 1] == '\'') {
                ++i;
                continue;
            }
            // The closing quote: only a comment may follow.
            std::string rest = trimmed(std::string_view(v).substr(i + 1));
            return rest.empty() || rest[0] == '/';
        }
        return false;
    }
    v = trimmed(v.substr(0, v.find('/')));
    static const std::string number = R"([+-]?(\d+\.?\d*|\.\d+)([ED][+-]?\d+)?)";
    static const std::regex value("T|F|" + number + "|\\( *" + number + " *, *" + number + " *\\)");
    return std::regex_match(v, value);
}

} // namespace

bool standard_card(std::string_view card) {
    if (card.size() != card_bytes) return false;
    for (char c : card)
        if (c < ' ' || c > '~') return false;
    // The keyword starts in column 1; only blanks follow it up to column 8.
    std::string_view field = card.substr(0, 8);
    std::string_view name = field.substr(0, field.find(' '));
    if (field.find_first_not_of(' ', name.size()) != std::string_view::npos) return false;
    for (char c : name)
        if (!(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9') && c != '-' && c != '_')
            return false;
    if (name == "COMMENT" || name == "HISTORY" || card.substr(8, 2) != "= ") return true;
    return standard_value(card.substr(10));
}

std::string keyword_of(std::string_view card) {
    return trimmed(card.substr(0, 8));
}

const std::string* Header::find(std::string_view keyword) const {
    for (const auto& c : cards)
        if (keyword_of(c) == keyword) return &c;
    return nullptr;
}

std::optional<std::string> Header::text(std::string_view keyword) const {
    const std::string* c = find(keyword);
    if (!c) return std::nullopt;
    auto v = value_field(*c);
    if (!v) return std::nullopt;
    std::size_t q = v->find_first_not_of(' ');
    if (q == std::string_view::npos || (*v)[q] != '\'') return std::nullopt;
    std::string out;
    for (std::size_t i = q + 1; i < v->size(); ++i) {
        if ((*v)[i] == '\'') {
            if (i + 1 < v->size() && (*v)[i + 1] == '\'') {
                out += '\'';
                ++i;
                continue;
            }
            while (!out.empty() && out.back() == ' ') out.pop_back();
            return out;
        }
        out += (*v)[i];
    }
    return std::nullopt; // no closing quote
}

std::optional<double> Header::number(std::string_view keyword) const {
    const std::string* c = find(keyword);
    if (!c) return std::nullopt;
    auto t = plain_value(*c);
    if (!t) return std::nullopt;
    char* end = nullptr;
    double x = std::strtod(t->c_str(), &end);
    if (*end != '\0') return std::nullopt;
    return x;
}

std::optional<bool> Header::logical(std::string_view keyword) const {
    const std::string* c = find(keyword);
    if (!c) return std::nullopt;
    auto t = plain_value(*c);
    if (t == "T") return true;
    if (t == "F") return false;
    return std::nullopt;
}

Header read_cards(std::string_view bytes) {
    Header h;
    for (std::size_t at = 0; at + card_bytes <= bytes.size(); at += card_bytes) {
        std::string_view card = bytes.substr(at, card_bytes);
        if (keyword_of(card) == "END") {
            h.ended = true;
            h.bytes = (at / block_bytes + 1) * block_bytes;
            break;
        }
        h.cards.emplace_back(card);
    }
    return h;
}

RawHead read_raw_head(std::string_view bytes) {
    RawHead r;
    if (bytes.size() < raw_header_bytes) {
        r.problem = "header not complete (" + std::to_string(bytes.size()) + " of " +
                    std::to_string(raw_header_bytes) + " bytes)";
        return r;
    }
    r.header = read_cards(bytes.substr(0, raw_header_bytes));
    auto bitpix = r.header.number("BITPIX");
    auto n1 = whole(r.header.cards.size() > 3 ? &r.header.cards[3] : nullptr);
    auto n2 = whole(r.header.cards.size() > 4 ? &r.header.cards[4] : nullptr);
    auto coloff = whole(r.header.cards.size() > 5 ? &r.header.cards[5] : nullptr);
    if (bitpix && *bitpix != 16) {
        r.problem = "not 16-bit pixels (BITPIX " + std::to_string(static_cast<int>(*bitpix)) + ")";
    } else if (!n1 || !n2) {
        r.problem = "no frame size in cards 4 and 5";
    } else if (*n2 < 1 || *n2 > 4096 || *n1 < *n2 || *n1 > 4160) {
        r.problem = "frame size " + std::to_string(*n1) + " x " + std::to_string(*n2) +
                    " is not one of a raw frame";
    } else {
        r.layout = RawLayout{*n1, *n2, coloff.value_or(0)};
    }
    return r;
}

} // namespace qarch
