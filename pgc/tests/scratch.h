// A scratch directory per test, removed afterwards.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace pgctest {

struct Scratch {
    std::filesystem::path dir;
    Scratch() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "pgcXXXXXX").string();
        dir = mkdtemp(tmpl.data());
    }
    ~Scratch() { std::filesystem::remove_all(dir); }
    std::string path(const std::string& name) const { return (dir / name).string(); }
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void spit(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

// A header card: the text blank-padded to 80 bytes.
inline std::string card(const std::string& text) {
    std::string c = text.substr(0, 80);
    c.resize(80, ' ');
    return c;
}

// A card with an integer value right-justified to column 30, as FITS
// writers put it.
inline std::string value_card(const std::string& key, long v) {
    std::string k = key;
    k.resize(8, ' ');
    std::string num = std::to_string(v);
    return card(k + "= " + std::string(20 - std::min<std::size_t>(20, num.size()), ' ') + num);
}

// Cards padded with blank cards to a whole number of 2880-byte blocks.
inline std::string blocks(std::string cards, std::size_t nblocks) {
    cards.resize(nblocks * 2880, ' ');
    return cards;
}

} // namespace pgctest
