#include "plan.h"

namespace qobs {

qor::ParsedLine line_as_run(std::string_view line, const FilterTable* table) {
    qor::ParsedLine parsed = parse_batch_line(line);
    if (parsed.line && table != nullptr) {
        if (auto f = check_filter(*parsed.line, *table)) return {std::nullopt, f};
    }
    return parsed;
}

std::vector<NumberedFault> pending_faults(const BatchStore& store, const FilterTable* table) {
    std::vector<NumberedFault> faults;
    for (std::size_t i = 0; i < store.lines.size(); ++i) {
        if (!is_pending(store.lines[i])) continue;
        if (auto f = line_as_run(store.lines[i], table).fault) {
            faults.push_back({static_cast<int>(i) + 1, *f});
        }
    }
    return faults;
}

std::string plan_line(int line_number, const BatchLine& line, const FilterTable& table, float a_ep,
                      Scene& scene) {
    auto ff = getfiltframe(line, table, scene.filter);
    Pointing first = getradec(line, 0, a_ep);
    bool kind_c = line.kind_c();

    std::string filter = line.filter + (ff->command[0] != ' ' ? " (posted)"
                                        : line.filter[0] == 'x' ? " (left as it is)"
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

    std::string text = "line " + std::to_string(line_number) + ": " + line.object + ", " +
                       std::to_string(ff->frames) + (ff->frames == 1 ? " frame" : " frames") +
                       " of " + line.exposure + " s, filter " + filter + ", J2000 " +
                       first.ra_text + " " + first.dec_text + ", move " + move + "\n";

    if (ff->frames > 0) {
        Pointing last = getradec(line, ff->frames - 1, a_ep);
        scene.telescope = qor::TelescopePosition{last.a_ra, last.a_dec};
    }
    if (line.filter[0] != 'x') scene.filter = ff->wanted;
    return text;
}

} // namespace qobs
