// The batch file is the observer's: it may be edited during the night (a
// line added, a typo mended). The driver takes the file as it is on disk
// before every line and before every rewrite, puts its marks on the lines
// it worked, and never writes back an old copy over the observer's edits.
#include "driver.h"

#include "plan.h"
#include "site.h"
#include "text.h"

namespace qobs {

namespace {

// The index of the line equal to text nearest to near, if any.
std::optional<std::size_t> find_near(const BatchStore& store, const std::string& text,
                                     std::size_t near) {
    const auto& lines = store.lines;
    for (std::size_t d = 0; d <= lines.size(); ++d) {
        if (near >= d && near - d < lines.size() && lines[near - d] == text) return near - d;
        if (near + d < lines.size() && lines[near + d] == text) return near + d;
    }
    return std::nullopt;
}

std::string numbers(const std::vector<std::size_t>& indexes) {
    if (indexes.empty()) return "none";
    std::string out;
    for (std::size_t i : indexes) out += (out.empty() ? "" : ", ") + std::to_string(i + 1);
    return out;
}

} // namespace

// The file when it differs from what this run last read or wrote. An
// editor may be writing it at this moment: it is taken only once it holds
// still for a second. A file that cannot be read is left to the next
// rewrite, which writes it again whole.
std::optional<Driver::Edited> Driver::edited_file() {
    auto text = sys_.read_file(batch_path);
    if (!text || *text == known_text_) return std::nullopt;
    sys_.sleep(1);
    auto again = sys_.read_file(batch_path);
    if (!again || *again != *text) return std::nullopt;
    return Edited{BatchStore::parse(*text), std::move(*text)};
}

// Takes the edited file; next is the first line this run works from now on.
void Driver::adopt(Edited edited, std::size_t next) {
    // Marks of this run that the disk does not hold yet go onto their lines.
    for (auto it = unsaved_.begin(); it != unsaved_.end();) {
        if (auto j = find_near(edited.store, it->original, it->index)) {
            edited.store.mark(*j, it->worked);
            it->index = *j;
            ++it;
        } else {
            sys_.print("line '" + qor::printable(trim_trailing_blanks(it->original)) +
                       "' is no longer in the batch file: its mark is not written\n");
            it = unsaved_.erase(it);
        }
    }
    std::vector<std::size_t> ahead, behind;
    for (std::size_t i = 0; i < edited.store.lines.size(); ++i) {
        if (is_pending(edited.store.lines[i])) (i >= next ? ahead : behind).push_back(i);
    }
    sys_.print("the batch file changed on disk during the run: it is taken as it is now\n");
    sys_.print("  pending lines this run works from here: " + numbers(ahead) + "\n");
    if (!behind.empty()) {
        sys_.print("  pending lines before line " + std::to_string(next + 1) +
                   ", not worked in this run: " + numbers(behind) + "\n");
    }
    for (const auto& f : pending_faults(edited.store, &filters)) {
        if (static_cast<std::size_t>(f.line) > next) sys_.print(fault_text(f.line, f.fault));
    }
    store = std::move(edited.store);
    known_text_ = std::move(edited.text);
}

// Before a line: the run goes on after the last line it finished, wherever
// that line now stands.
void Driver::follow_edits(std::size_t& index) {
    auto edited = edited_file();
    if (!edited) return;
    std::size_t next = std::min(index, edited->store.lines.size());
    if (last_done_) {
        auto j = find_near(edited->store, "v   " + last_done_->worked, last_done_->index);
        if (!j) j = find_near(edited->store, last_done_->original, last_done_->index);
        if (j) next = *j + 1;
    }
    index = next;
    adopt(std::move(*edited), next);
}

// After a line: its mark goes on the line that was worked, wherever it now
// stands; if the observer changed that very line meanwhile, the worked line
// is kept, marked, where it stood, and the changed one stays to be worked.
void Driver::mark_worked(std::size_t& index, const std::string& original,
                         const std::string& worked) {
    if (auto edited = edited_file()) {
        auto j = find_near(edited->store, original, index);
        if (!j) {
            j = std::min(index, edited->store.lines.size());
            edited->store.lines.insert(edited->store.lines.begin() + static_cast<long>(*j),
                                       original);
            sys_.print("line " + std::to_string(index + 1) +
                       " was changed on disk while it was worked: the worked line is kept, " +
                       "marked, as line " + std::to_string(*j + 1) + "\n");
        }
        index = *j;
        adopt(std::move(*edited), index + 1);
    }
    store.mark(index, worked);
    last_done_ = Done{index, original, worked};
    unsaved_.push_back(*last_done_);
}

// Marks that never reached the disk (a full disk, a folder gone) are tried
// again; if they still cannot be written the run must not end as a
// success: the observer is told which lines to mark by hand.
Step Driver::save_marks() {
    qor::Done last;
    for (int tries = 0; !unsaved_.empty() && tries < 3; ++tries) {
        if (tries > 0) sys_.sleep(5);
        std::size_t at = unsaved_.back().index + 1;
        follow_edits(at);
        last = rewrite();
    }
    if (unsaved_.empty()) return std::nullopt;
    std::vector<std::size_t> lines;
    for (const auto& d : unsaved_) lines.push_back(d.index);
    marks_said_ = true;
    return Stop{"ERROR: cannot rewrite " + batch_path + ": " + last.why() +
                    "; lines worked in this run and not marked in it: " +
                    numbers(lines) +
                    ". Put \"v   \" in front of them before the file is run again, or they are "
                    "worked again.\n",
                1};
}

// The line an earlier run started (nowjob.txt) and did not mark: its frames
// were taken, and are not used; they are named in the run log.
void Driver::note_interrupted_line() {
    auto started = sys_.read_file(qor::site_path("/u/tarnu/status/nowjob.txt"));
    if (!started || started->empty()) return;
    for (std::size_t i = 0; i < store.lines.size(); ++i) {
        if (!is_pending(store.lines[i]) || trim_trailing_blanks(store.lines[i]) != *started) continue;
        std::string log = sys_.read_file(qor::site_path("/u/tarnu/qorlib/obs.log")).value_or("");
        std::size_t from = log.rfind(*started);
        std::string frames;
        for (std::size_t p = from == std::string::npos ? log.size() : log.find("\nframe d", from);
             p != std::string::npos; p = log.find("\nframe d", p + 1)) {
            std::size_t end = log.find(':', p);
            if (end == std::string::npos) break;
            frames += " " + log.substr(p + 7, end - p - 7);
        }
        std::string text = "line " + std::to_string(i + 1) +
                           " was started by an earlier run and is not marked done; frames it" +
                           " took then are not used:" + (frames.empty() ? std::string(" none") : frames);
        sys_.print(qor::printable(text) + "\n");
        write2log(text);
        return;
    }
}

} // namespace qobs
