#include "convert.h"

#include "fits_out.h"
#include "frame_record.h"
#include "observation.h"
#include "site.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qarch {

namespace {

// The longest header of our copies we look into.
constexpr std::size_t copy_header_max = 10 * block_bytes;

std::string base_name(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folder_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string fits_name(long obsnum) {
    return "d" + std::to_string(obsnum) + ".fits";
}

// Which raw frame a copy was made of: the camera's header and the frame's
// size. A frame taken again under the same number differs in its stamps.
std::string raw_hash(std::string_view head, long long size) {
    std::uint64_t h = 1469598103934665603ULL;
    auto mix = [&h](std::string_view bytes) {
        for (unsigned char c : bytes) {
            h ^= c;
            h *= 1099511628211ULL;
        }
    };
    mix(head.substr(0, raw_header_bytes));
    mix(std::to_string(size));
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

// The stored big-endian values (count - 32768) turned into counts in host
// order, in place: a full frame is 34 MB, better not held twice.
const std::uint16_t* counts_in_place(std::string& raw, std::size_t offset, std::size_t pixels) {
    char* p = raw.data() + offset;
    for (std::size_t i = 0; i < pixels; ++i, p += 2) {
        auto stored = static_cast<std::uint16_t>((static_cast<unsigned char>(p[0]) << 8) |
                                                 static_cast<unsigned char>(p[1]));
        std::uint16_t count = stored ^ 0x8000;
        std::memcpy(p, &count, 2);
    }
    return reinterpret_cast<const std::uint16_t*>(raw.data() + offset);
}

Outcome outcome(Result r, const std::string& fits, std::vector<std::string> messages = {}) {
    return Outcome{r, fits, std::move(messages)};
}

} // namespace

std::string fits_dir(const std::string& frames_dir) {
    return frames_dir + "/fits";
}

std::string index_path(const std::string& frames_dir) {
    return fits_dir(frames_dir) + "/index.csv";
}

std::optional<long> frame_number(const std::string& name) {
    if (name.size() < 6 || name[0] != 'd' || name.compare(name.size() - 4, 4, ".ccd") != 0)
        return std::nullopt;
    std::string digits = name.substr(1, name.size() - 5);
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stol(digits);
}

Inspection inspect_raw(qor::System& host, const std::string& raw, double settle) {
    Inspection in;
    auto info = host.stat(raw);
    auto head = info ? host.read_file(raw, raw_header_bytes) : std::nullopt;
    if (!info || !head) {
        in.why = "cannot be read";
        return in;
    }
    in.info = *info;
    in.head_bytes = *head;
    in.head = read_raw_head(*head);
    // A frame written in place may show a header of nothing yet: only one
    // that has stopped changing is judged by its header.
    auto changing = [&]() {
        if (host.now() - in.info.modified > settle) return false;
        host.sleep(settle);
        auto again = host.stat(raw);
        return !again || !(*again == in.info);
    };
    using S = Inspection::State;
    if (head->size() < raw_header_bytes) {
        in.state = S::being_written;
        in.why = "being written: " + in.head.problem;
    } else if (!in.head.layout) {
        bool moving = changing();
        in.state = moving ? S::being_written : S::bad;
        in.why = moving ? "being written" : "not a raw frame: " + in.head.problem;
    } else if (static_cast<long long>(in.info.size) < in.head.layout->file_bytes()) {
        in.state = S::being_written;
        in.why = "being written: " + std::to_string(in.info.size) + " of " +
                 std::to_string(in.head.layout->file_bytes()) + " bytes";
    } else if (changing()) {
        in.state = S::being_written;
        in.why = "being written: still changing";
    } else {
        in.state = S::whole;
    }
    return in;
}

std::optional<Copy> existing_copy(qor::System& host, const std::string& fits) {
    auto info = host.stat(fits);
    if (!info) return std::nullopt;
    Copy c;
    c.info = *info;
    auto head = host.read_file(fits, copy_header_max);
    if (!head) return c;
    Header h = read_cards(*head);
    auto n1 = h.number("NAXIS1"), n2 = h.number("NAXIS2");
    if (h.ended && h.number("BITPIX") == 16 && n1 && n2) {
        long long data =
            (2LL * static_cast<long long>(*n1) * static_cast<long long>(*n2) + 2879) / 2880 * 2880;
        c.whole = static_cast<long long>(info->size) == static_cast<long long>(h.bytes) + data;
    }
    c.with_record = h.logical("OBSREC").value_or(false);
    c.rawhash = h.text("RAWHASH").value_or("");
    return c;
}

Outcome convert_frame(qor::System& host, const std::string& raw, const Options& options) {
    const std::string name = base_name(raw);
    const std::string say = name + ": ";
    auto obsnum = frame_number(name);
    if (!obsnum) return outcome(Result::failed, "", {say + "not the name of a frame (dN.ccd)"});
    const std::string folder = folder_of(raw);
    const std::string fits = fits_dir(folder) + "/" + fits_name(*obsnum);

    Inspection in = inspect_raw(host, raw, options.settle);
    if (in.state != Inspection::State::whole)
        return outcome(in.state == Inspection::State::bad ? Result::failed : Result::being_written,
                       fits, {say + in.why + ": not converted"});
    const RawLayout layout = *in.head.layout;
    const std::string rawhash = raw_hash(in.head_bytes, in.info.size);

    const std::string record_path = qor::record_path_for(raw);
    auto record = host.read_file(record_path);
    Observation o = observe(name, *obsnum, in.head.header, record);
    std::vector<std::string> messages;
    for (const auto& n : o.notes) messages.push_back(say + n);

    if (auto copy = existing_copy(host, fits); copy && copy->whole && copy->rawhash == rawhash) {
        if (copy->with_record && !o.record)
            return outcome(Result::kept, fits,
                           {say + "kept " + fits + ", made with the frame's record (now " +
                            o.record_fault + ")"});
        auto record_info = host.stat(record_path);
        if (options.skip_up_to_date && copy->with_record == o.record.has_value() &&
            (!record_info || record_info->modified <= copy->info.modified))
            return outcome(Result::up_to_date, fits);
    }

    auto bytes = host.read_file(raw);
    auto after = host.stat(raw);
    if (!bytes || !after || !(*after == in.info) ||
        static_cast<long long>(bytes->size()) < layout.file_bytes())
        return outcome(Result::being_written, fits,
                       {say + "being written: changed while read: not converted"});
    if (static_cast<long long>(bytes->size()) > layout.file_bytes())
        messages.push_back(say + std::to_string(bytes->size() - layout.file_bytes()) +
                           " bytes behind the pixels not copied");

    const std::uint16_t* counts =
        counts_in_place(*bytes, raw_header_bytes, layout.data_bytes() / 2);
    std::vector<std::string> card_notes;
    auto keys = fits_keywords(o, in.head.header, layout, rawhash, card_notes);
    for (const auto& n : card_notes) messages.push_back(say + n);
    MemoryFits made = write_fits(keys, layout.n1, layout.n2, counts);
    if (!made.error.empty())
        return outcome(Result::failed, fits, {say + "cannot make the FITS copy: " + made.error});
    if (!host.make_folder(fits_dir(folder)) || !host.replace_file(fits, made.bytes())) {
        messages.push_back(say + "cannot write " + fits + ": not converted");
        return outcome(Result::failed, fits, messages);
    }
    return outcome(Result::converted, fits, messages);
}

bool write_index(qor::System& host, const std::string& frames_dir, std::string& why) {
    std::vector<std::pair<long, std::string>> frames;
    for (const auto& name : host.list(frames_dir).value_or(std::vector<std::string>{}))
        if (auto n = frame_number(name)) frames.emplace_back(*n, name);
    std::sort(frames.begin(), frames.end());

    std::string text = index_heading();
    for (const auto& [n, name] : frames) {
        const std::string raw = frames_dir + "/" + name;
        RawHead head = read_raw_head(host.read_file(raw, raw_header_bytes).value_or(""));
        Observation o = observe(name, n, head.header, host.read_file(qor::record_path_for(raw)));
        auto copy = existing_copy(host, fits_dir(frames_dir) + "/" + fits_name(n));
        text += index_line(o, copy && copy->whole ? fits_name(n) : "");
    }
    const std::string path = index_path(frames_dir);
    if (host.make_folder(fits_dir(frames_dir)) && host.replace_file(path, text)) return true;
    why = "cannot write " + path;
    return false;
}

namespace {

void say_all(qor::System& host, const std::vector<std::string>& lines) {
    for (const auto& l : lines) host.print(l + "\n");
}

std::optional<double> seconds_arg(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    double s = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !(s >= 0 && s <= 86400)) return std::nullopt;
    return s;
}

} // namespace

int ccd2fits(qor::System& host, const std::vector<std::string>& args) {
    double wait = 60;
    std::string target;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--wait" && i + 1 < args.size() && seconds_arg(args[i + 1])) {
            wait = *seconds_arg(args[++i]);
        } else if (target.empty() && !args[i].empty() && args[i][0] != '-') {
            target = args[i];
        } else {
            target.clear();
            break;
        }
    }
    if (target.empty()) {
        host.print("usage: ccd2fits OBSNUM|FRAME.ccd [--wait SECONDS]\n");
        return 2;
    }
    // A bare number names the frame as the driver and newimage2 do.
    if (target.find_first_not_of("0123456789") == std::string::npos)
        target = qor::site_path("/data/d" + target + ".ccd");

    Options options;
    Outcome o = convert_frame(host, target, options);
    // The camera may still be writing the frame: wait for it to be whole.
    if (o.result == Result::being_written && wait > 0) {
        say_all(host, o.messages);
        host.print("ccd2fits: waiting up to " + std::to_string(static_cast<int>(wait)) +
                   " s for the frame to be whole\n");
        for (double waited = 0; o.result == Result::being_written && waited < wait; waited += 1) {
            host.sleep(1);
            o = convert_frame(host, target, options);
        }
    }
    say_all(host, o.messages);
    if (o.result == Result::converted) host.print("ccd2fits: " + target + " -> " + o.fits + "\n");
    int status = o.result == Result::converted || o.result == Result::kept ? 0 : 1;

    std::string why;
    const std::string folder = folder_of(target);
    if (!write_index(host, folder, why)) {
        host.print("ccd2fits: " + why + "\n");
        status = 1;
    }
    return status;
}

int nightfits(qor::System& host, const std::vector<std::string>& args) {
    if (args.size() > 2 || (args.size() == 2 && (args[1].empty() || args[1][0] == '-'))) {
        host.print("usage: nightfits [FOLDER]\n");
        return 2;
    }
    std::string folder = args.size() == 2 ? args[1] : qor::site_path("/data");
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    auto info = host.stat(folder);
    if (!info) {
        host.print("nightfits: no folder " + folder + "\n");
        return 1;
    }

    std::vector<std::pair<long, std::string>> frames;
    for (const auto& name : host.list(folder).value_or(std::vector<std::string>{}))
        if (auto n = frame_number(name)) frames.emplace_back(*n, name);
    std::sort(frames.begin(), frames.end());

    Options options;
    options.skip_up_to_date = true;
    int counts[5] = {};
    for (const auto& [n, name] : frames) {
        Outcome o = convert_frame(host, folder + "/" + name, options);
        ++counts[static_cast<int>(o.result)];
        say_all(host, o.messages);
        if (o.result == Result::converted) host.print(name + " -> " + o.fits + "\n");
    }
    std::string why;
    bool indexed = write_index(host, folder, why);
    host.print("nightfits: " + std::to_string(frames.size()) + " frames: " +
               std::to_string(counts[0]) + " converted, " + std::to_string(counts[1]) +
               " up to date, " + std::to_string(counts[2]) + " kept, " + std::to_string(counts[3]) +
               " being written, " + std::to_string(counts[4]) + " failed\n");
    host.print("FITS copies: " + fits_dir(folder) + "/\n");
    host.print(indexed ? "index: " + index_path(folder) + "\n" : "nightfits: " + why + "\n");
    return indexed && counts[static_cast<int>(Result::failed)] == 0 ? 0 : 1;
}

} // namespace qarch
