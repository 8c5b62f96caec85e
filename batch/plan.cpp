#include "plan.h"

namespace qobs {

std::optional<LineFault> line_fault(std::string_view line, const FilterTable* table) {
    if (auto f = check_line(line)) return f;
    if (table != nullptr) return check_filter(line, *table);
    return std::nullopt;
}

std::vector<NumberedFault> pending_faults(const BatchStore& store, const FilterTable* table) {
    std::vector<NumberedFault> faults;
    for (std::size_t i = 0; i < store.lines.size(); ++i) {
        if (!is_pending(store.lines[i])) continue;
        if (auto f = line_fault(trim_trailing_blanks(store.lines[i]), table)) {
            faults.push_back({static_cast<int>(i) + 1, *f});
        }
    }
    return faults;
}

std::string plan_line(int line_number, std::string_view line, const FilterTable& table, float a_ep,
                      Scene& scene) {
    auto w = words_of(line);
    auto ff = getfiltframe(line, table, scene.filter);
    Pointing first = getradec(line, 0, a_ep);
    bool kind_c = line[0] == 'C';

    std::string filter = w[1] + (ff->command[0] != ' ' ? " (posted)"
                                 : w[1][0] == 'x'      ? " (left as it is)"
                                                       : " (already in the beam)");
    std::string move;
    if (ff->frames == 0) {
        move = "none (no frames)";
    } else if (!scene.telescope) {
        move = "due (telescope position unknown)";
    } else {
        int e = pointing_error(*scene.telescope, first.a_ra, first.a_dec);
        move = e > (kind_c ? 100 : 10) ? "due" : "not due";
    }
    if (!kind_c && ff->frames > 1) move += ", then a dithered move before every further frame";

    std::string text = "line " + std::to_string(line_number) + ": " + w.back() + ", " +
                       std::to_string(ff->frames) + (ff->frames == 1 ? " frame" : " frames") +
                       " of " + w[2] + " s, filter " + filter + ", J2000 " + first.ra_text + " " +
                       first.dec_text + ", move " + move + "\n";

    if (ff->frames > 0) {
        Pointing last = getradec(line, ff->frames - 1, a_ep);
        scene.telescope = qor::TelescopePosition{last.a_ra, last.a_dec};
    }
    if (w[1][0] != 'x') scene.filter = ff->wanted;
    return text;
}

} // namespace qobs
