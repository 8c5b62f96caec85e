// batchcheck FILE: what a batch file will do tonight, before the night.
// For every line the driver would work, one line of plan (frames, exposure,
// filter, the J2000 position of the first frame, whether a move is due, as
// qorobs works it); then every line that would stop the run, with the field
// at fault. Exit status 1 when there is one, 2 when the file cannot be read.
// Needs no telescope or camera: the telescope's position and filter come
// from the last status line in the database when there is one.
#include "batchcheck.h"

#include "clock.h"
#include "driver.h"
#include "guarded.h"
#include "plan.h"
#include "ring.h"
#include "site.h"
#include "text.h"

#include <ctime>

namespace qobs {

int batchcheck(qor::System& sys, const std::vector<std::string>& args) {
    return qor::guarded(sys, "batchcheck", [&] {
        if (args.size() < 2) {
            sys.print("usage: batchcheck BATCH_FILE\n");
            return 2;
        }
        // Every text printed passes through printable (batch lines and their
        // fields included): a control byte in the file reaches no terminal.
        auto text = sys.read_file(args[1]);
        if (!text) {
            sys.print("batchcheck: cannot read " + qor::printable(args[1]) + "\n");
            return 2;
        }
        BatchStore store = BatchStore::parse(*text);

        std::string filter_path = qor::site_path("/u/tarnu/FILTER");
        auto filter_text = sys.read_file(filter_path);
        FilterTable table;
        if (filter_text) table = parse_filter_table(*filter_text);

        qor::Mailbox mailbox(sys);
        std::string status = mailbox.show("v1", 80);
        Scene scene{qor::telescope_position(status), qor::beam_filter(status)};
        float a_ep = epoch_of_date(qor::asctime_text(static_cast<std::time_t>(sys.now())));

        auto faults = pending_faults(store, filter_text ? &table : nullptr);
        int lines = 0;
        for (std::size_t i = 0; i < store.lines.size(); ++i) {
            if (!filter_text || !qor::is_pending(store.lines[i])) continue;
            auto parsed = line_as_run(store.lines[i], &table);
            if (!parsed.line) continue;
            sys.print(qor::printable(
                plan_line(static_cast<int>(i) + 1, *parsed.line, table, a_ep, scene)));
            ++lines;
        }
        if (!store.beyond.empty()) {
            sys.print("lines " + std::to_string(BatchStore::max_lines + 1) + " to " +
                      std::to_string(BatchStore::max_lines + store.beyond.size()) +
                      " are beyond line " + std::to_string(BatchStore::max_lines) +
                      ": kept, not worked\n");
        }
        if (!store.unended.empty()) sys.print("the last line has no line end: not worked\n");

        bool stops = !faults.empty() || !filter_text;
        if (!filter_text) sys.print("cannot read " + filter_path + ": the run would stop\n");
        for (const auto& f : faults) sys.print(fault_text(f.line, f.fault));
        sys.print(std::to_string(lines) + " line" + (lines == 1 ? "" : "s") + " to work; " +
                  (stops ? "the run would stop at the lines above" : "no line would stop the run") +
                  "\n");
        return stops ? 1 : 0;
    });
}

} // namespace qobs
