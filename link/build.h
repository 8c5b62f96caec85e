// What differs between the builds of the link daemon. Everything else is
// shared; a build is chosen by the program's own table entry, never by
// conditional compilation scattered through the code.
#pragma once

namespace qlink {

enum class Restart {
    none,         // a "TI" text is an ordinary reply
    new_instance, // hand over to a fresh process through the isend file
    in_process,   // re-open the port and carry on in the same process
};

enum class TestTraffic {
    mode3_move,      // run mode 3: a test move every eighth send phase
    mode3_move_filt, // run mode 3: a test move and a filter test per eight send phases
    always_move,     // every run mode: a test move every eighth send phase
};

struct Build {
    const char* banner;
    const char* usage;
    const char* device;        // fixed path, resolved under the site root
    const char* chmod_mode;    // permission given to the device through sudo
    const char* instance_name; // name under which other instances are found
    bool baud_file;            // speed from the BAUD file, else always 9600
    bool flush_on_open;
    bool nonblocking_open; // O_NOCTTY | O_NONBLOCK, for the USB adapter
    bool reopen_before_command;
    bool attention_at_start;
    bool resend_file; // isend is read at start and written at a restart
    bool keep_send_again;
    bool job_line_above_1; // "job:" line for every mode > 1, not only 2
    Restart restart;
    TestTraffic test;
};

// The full build for the on-board serial port.
inline constexpr Build telelink_build{
    .banner = "\n\t ******* telelink  2014,5,7 ******",
    .usage = "\n\t Usage: telelink [1,2,3] &\n",
    .device = "/dev/ttyS0",
    .chmod_mode = "777",
    .instance_name = "telelink",
    .baud_file = true,
    .flush_on_open = true,
    .nonblocking_open = false,
    .reopen_before_command = true,
    .attention_at_start = true,
    .resend_file = true,
    .keep_send_again = true,
    .job_line_above_1 = false,
    .restart = Restart::new_instance,
    .test = TestTraffic::mode3_move,
};

} // namespace qlink
