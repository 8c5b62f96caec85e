// batchcheck FILE: what a batch file will do tonight, before the night.
// For every line the driver would work, one line of plan (frames, exposure,
// filter, the J2000 position of the first frame, whether a move is due, as
// qorobs works it); then every line that would stop the run, with the field
// at fault. Exit status 1 when there is one, 2 when the file cannot be read.
// Needs no telescope or camera: the telescope's position and filter come
// from the last status line in the database when there is one.
#include "clock.h"
#include "driver.h"
#include "files.h"
#include "plan.h"
#include "ring.h"
#include "site.h"
#include "text.h"

#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: batchcheck BATCH_FILE\n", stdout);
        return 2;
    }
    // Every text printed passes through printable (batch lines and their
    // fields included): a control byte in the file reaches no terminal.
    auto say = [](const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); };
    auto text = qor::read_file(argv[1]);
    if (!text) {
        say("batchcheck: cannot read " + qor::printable(argv[1]) + "\n");
        return 2;
    }
    qobs::BatchStore store = qobs::BatchStore::parse(*text);

    std::string filter_path = qor::site_path("/u/tarnu/FILTER");
    auto filter_text = qor::read_file(filter_path);
    qobs::FilterTable table;
    if (filter_text) table = qobs::parse_filter_table(*filter_text);

    qor::RealSystem system;
    qor::Mailbox mailbox(system);
    std::string status = mailbox.show("v1", 80);
    qobs::Scene scene{qor::telescope_position(status), qor::beam_filter(status)};
    float a_ep = qobs::epoch_of_date(qor::asctime_text(std::time(nullptr)));

    auto faults = qobs::pending_faults(store, filter_text ? &table : nullptr);
    int lines = 0;
    for (std::size_t i = 0; i < store.lines.size(); ++i) {
        if (!filter_text || !qor::is_pending(store.lines[i])) continue;
        auto parsed = qobs::line_as_run(store.lines[i], &table);
        if (!parsed.line) continue;
        say(qor::printable(qobs::plan_line(static_cast<int>(i) + 1, *parsed.line, table, a_ep, scene)));
        ++lines;
    }
    if (!store.beyond.empty()) {
        std::printf("lines %zu to %zu are beyond line %zu: kept, not worked\n",
                    qobs::BatchStore::max_lines + 1,
                    qobs::BatchStore::max_lines + store.beyond.size(), qobs::BatchStore::max_lines);
    }
    if (!store.unended.empty()) std::fputs("the last line has no line end: not worked\n", stdout);

    bool stops = !faults.empty() || !filter_text;
    if (!filter_text) std::printf("cannot read %s: the run would stop\n", filter_path.c_str());
    for (const auto& f : faults) say(qobs::fault_text(f.line, f.fault));
    std::printf("%d line%s to work; %s\n", lines, lines == 1 ? "" : "s",
                stops ? "the run would stop at the lines above" : "no line would stop the run");
    return stops ? 1 : 0;
}
