// The example night against the simulators, timed from inside the driver:
// where the night's wall time goes (waiting for the telescope, waiting for
// the camera, the driver's own work), and the driver's added time per frame
// as a ratio to the exposure time, the baseline of the same run.
//
//   cmake --build build --target bench_night && build/bench/bench_night
//
// The site, the simulators' settings and the batch file are those of
// scripts/night. The driver runs in this process with the real programs
// and a clock, console and program seam that note the time of each phase.
#include "driver.h"
#include "files.h"
#include "site.h"
#include "temp_site.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <vector>

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The real world, with the time of each phase of the night noted: from
// posting a command to reading its reply the driver waits for the
// telescope, from starting fff to finding the frame for the camera, and the
// rest is its own work.
class TimedSystem : public qor::RealSystem {
  public:
    enum Phase { own, telescope, camera };
    double spent[3] = {0, 0, 0};
    double tools = 0; // key tools run in the driver's own phase
    struct Frame {
        double fff_start = 0, fff_end = 0, found = 0, exposure = 0, telescope_before = 0;
    };
    std::vector<Frame> frames;
    std::deque<std::string> answers;

    TimedSystem() : last_(now()) {}

    int run(const qor::Argv& argv, double limit) override {
        std::string name = std::filesystem::path(argv[0]).filename();
        if (name == "keyset" && argv.size() > 1 && argv[1].size() == 2 && argv[1][0] == 's' &&
            argv[1][1] != 's') {
            enter(telescope);
        }
        if (name == "fff") {
            enter(camera);
            Frame f;
            f.fff_start = now();
            auto setup = qor::read_file(qor::tool_path("fff.dat")).value_or("0");
            f.exposure = std::atof(setup.c_str()) / 100;
            f.telescope_before = telescope_since_frame_;
            telescope_since_frame_ = 0;
            frames.push_back(f);
        }
        double t0 = now();
        int status = qor::RealSystem::run(argv, limit);
        if (name == "fff") frames.back().fff_end = now();
        if (name == "keyset" && phase_ == own) tools += now() - t0;
        if (name == "keyset" && argv.size() > 2 && argv[1] == "pp" && phase_ == telescope) {
            enter(own);
        }
        return status;
    }
    qor::Captured capture(const qor::Argv& argv, std::size_t max, double limit) override {
        double t0 = now();
        auto c = qor::RealSystem::capture(argv, max, limit);
        if (phase_ == own) tools += now() - t0;
        return c;
    }
    void print(std::string_view text) override {
        if (text.substr(0, 20) == "-------produced file") {
            frames.back().found = now();
            enter(own);
        }
        qor::RealSystem::print(text);
    }
    std::optional<std::string> read_line(std::size_t max) override {
        if (answers.empty()) return std::nullopt;
        std::string a = answers.front().substr(0, max);
        answers.pop_front();
        return a;
    }
    void finish() { enter(own); }

  private:
    void enter(Phase p) {
        double t = now();
        spent[phase_] += t - last_;
        if (phase_ == telescope) telescope_since_frame_ += t - last_;
        last_ = t;
        phase_ = p;
    }
    Phase phase_ = own;
    double last_;
    double telescope_since_frame_ = 0;
};

} // namespace

int main() {
    qor::test::TempSite site(qor::test::SiteOptions{512, 1});
    if (!site.ok()) {
        std::printf("no site: %s\n", site.error().c_str());
        return 1;
    }
    const double readout = 1;
    site.run({"scopesim", "--daemon", "--status-interval", "1", "--slew-rate", "20",
              "--filter-time", "1", "--ti-interval", "30"});
    std::string batch = site.root() + "/night.batch";
    qor::replace_file(batch, qor::read_file(QOR_SOURCE_DIR "/scripts/night.batch").value_or(""));
    std::filesystem::current_path(site.root());

    TimedSystem sys;
    sys.answers = {"Ada Lovelace", "1"};
    qobs::Driver driver(qobs::qorobs_build, sys);
    double start = now();
    int status = driver.main({"qorobs", batch});
    sys.finish();
    double wall = now() - start;
    if (status != 0 || sys.frames.empty()) {
        std::printf("the night did not run to its end (status %d)\n", status);
        return 1;
    }

    std::printf("\nnight: %.1f s wall, %zu frames\n", wall, sys.frames.size());
    std::printf("  waiting for the telescope (post to reply)   %6.1f s  %5.1f %%\n",
                sys.spent[TimedSystem::telescope], 100 * sys.spent[TimedSystem::telescope] / wall);
    std::printf("  waiting for the camera (fff to frame found) %6.1f s  %5.1f %%\n",
                sys.spent[TimedSystem::camera], 100 * sys.spent[TimedSystem::camera] / wall);
    std::printf("  the driver's own work                       %6.1f s  %5.1f %%\n",
                sys.spent[TimedSystem::own], 100 * sys.spent[TimedSystem::own] / wall);
    std::printf("    of which key tools and other programs     %6.1f s\n", sys.tools);

    // From the end of one exposure to the start of the next, less the
    // simulators' own delays: the readout, and the telescope's slews and
    // filter changes (the whole wait for its replies, the daemon's send
    // cycle included).
    std::printf("\nper frame (exposure end -> next exposure start, less readout %.0f s and the "
                "telescope wait):\n",
                readout);
    double added_sum = 0, exposure_sum = 0;
    for (std::size_t i = 0; i + 1 < sys.frames.size(); ++i) {
        const auto& f = sys.frames[i];
        const auto& next = sys.frames[i + 1];
        double gap = next.fff_start - (f.fff_end + f.exposure);
        double added = gap - readout - next.telescope_before;
        added_sum += added;
        exposure_sum += f.exposure;
        std::printf("  frame %zu: exposure %.1f s, gap %5.1f s, telescope %5.1f s, added %5.1f s "
                    "= %.2f x the exposure\n",
                    i + 1, f.exposure, gap, next.telescope_before, added, added / f.exposure);
    }
    std::printf("  all frames: added %.1f s for %.1f s of exposure: ratio %.2f\n", added_sum,
                exposure_sum, added_sum / exposure_sum);
    return 0;
}
