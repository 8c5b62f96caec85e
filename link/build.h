// What differs between the builds of the link daemon. Everything else is
// shared; a build is chosen by the program's own table entry, never by
// conditional compilation scattered through the code.
#pragma once

#include <span>

namespace qlink {

// How a program takes its serial port.
struct Port {
    const char* device;     // fixed path, resolved under the site root
    const char* chmod_mode; // permission given to the device through sudo
    bool chmod_each_open;   // else once at start-up, before the single-instance step
    bool baud_file;         // speed (and the "BAUD:" line) from the BAUD file, else 9600
    bool flush_on_open;
    bool nonblocking; // O_NONBLOCK, for the USB adapter
};

enum class Restart {
    none,         // a "TI" text is an ordinary reply
    new_instance, // hand over to a fresh process through the isend file
    in_process,   // re-open the port and carry on in the same process
};

enum class TestTraffic {
    none,
    mode3_move,      // run mode 3: a test move every eighth send phase
    mode3_move_filt, // run mode 3: a test move and a filter test per eight send phases
    always_move,     // every run mode: a test move every eighth send phase
};

struct Build {
    const char* name; // the program as installed
    const char* banner;
    const char* usage;
    Port port;
    // Names under which the other instances of this build run: builds that
    // stand in for telelink end one another, never a build of another name.
    std::span<const char* const> instances;
    const char* successor; // tools-directory program a new-instance restart starts
    bool reopen_before_command;
    bool attention_at_start;
    bool resend_file; // isend is read at start and written at a restart
    bool keep_send_again;
    bool job_line_above_1; // "job:" line for every mode > 1, not only 2
    Restart restart;
    TestTraffic test;
};

inline constexpr const char* telelink_names[] = {"telelink", "telelinkusb", "scopelink4"};
inline constexpr const char* scopelink66_names[] = {"scopelink66"};

// The full build for the on-board serial port.
inline constexpr Build telelink_build{
    .name = "telelink",
    .banner = "\n\t ******* telelink  2014,5,7 ******",
    .usage = "\n\t Usage: telelink [1,2,3] &\n",
    .port = {.device = "/dev/ttyS0",
             .chmod_mode = "777",
             .chmod_each_open = true,
             .baud_file = true,
             .flush_on_open = true,
             .nonblocking = false},
    .instances = telelink_names,
    .successor = "telelink",
    .reopen_before_command = true,
    .attention_at_start = true,
    .resend_file = true,
    .keep_send_again = true,
    .job_line_above_1 = false,
    .restart = Restart::new_instance,
    .test = TestTraffic::mode3_move,
};

// The USB serial adapter: opened once, non-blocking; installed in place of
// telelink, so its restart starts telelink, that is itself.
inline constexpr Build telelinkusb_build{
    .name = "telelinkusb",
    .banner = "\n\t ******* telelink (USB) 2014,7 ******",
    .usage = "\n\t Usage: telelink [1,2,3] &\n",
    .port = {.device = "/dev/ttyUSB0",
             .chmod_mode = "777",
             .chmod_each_open = true,
             .baud_file = true,
             .flush_on_open = true,
             .nonblocking = true},
    .instances = telelink_names,
    .successor = "telelink",
    .reopen_before_command = false,
    .attention_at_start = true,
    .resend_file = true,
    .keep_send_again = true,
    .job_line_above_1 = false,
    .restart = Restart::new_instance,
    .test = TestTraffic::mode3_move_filt,
};

// The reduced test build: its own instance name, restarts inside itself.
inline constexpr Build scopelink66_build{
    .name = "scopelink66",
    .banner = "\n\t ******* telelink  2014,5,7 ******",
    .usage = "\n\t Usage: telelink [1,2] &\n",
    .port = {.device = "/dev/ttyS0",
             .chmod_mode = "666",
             .chmod_each_open = false,
             .baud_file = false,
             .flush_on_open = false,
             .nonblocking = false},
    .instances = scopelink66_names,
    .successor = nullptr,
    .reopen_before_command = false,
    .attention_at_start = false,
    .resend_file = false,
    .keep_send_again = true,
    .job_line_above_1 = true,
    .restart = Restart::in_process,
    .test = TestTraffic::always_move,
};

// The basic build: no resend, no test traffic, no restart; installed in
// place of telelink.
inline constexpr Build scopelink4_build{
    .name = "scopelink4",
    .banner = "\n\t ******* telelink  2014,5,7 ******",
    .usage = "\n\t Usage: telelink [1,2] &\n",
    .port = {.device = "/dev/ttyS0",
             .chmod_mode = "777",
             .chmod_each_open = false,
             .baud_file = false,
             .flush_on_open = false,
             .nonblocking = false},
    .instances = telelink_names,
    .successor = nullptr,
    .reopen_before_command = false,
    .attention_at_start = false,
    .resend_file = false,
    .keep_send_again = false,
    .job_line_above_1 = true,
    .restart = Restart::none,
    .test = TestTraffic::none,
};

inline constexpr const Build* all_builds[] = {&telelink_build, &telelinkusb_build,
                                              &scopelink66_build, &scopelink4_build};

// linktest's port: the on-board port, speed from the BAUD file (always
// printed), no flush before the set-up.
inline constexpr Port linktest_port{.device = "/dev/ttyS0",
                                    .chmod_mode = "777",
                                    .chmod_each_open = true,
                                    .baud_file = true,
                                    .flush_on_open = false,
                                    .nonblocking = false};

} // namespace qlink
