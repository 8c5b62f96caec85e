#include "framing.h"

#include "clock.h"
#include "files.h"
#include "site.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <termios.h>

namespace qlink {

int baud_from(std::string_view content) {
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t end = content.find('\n', pos);
        if (end == std::string_view::npos) break; // an unterminated last line is not read
        std::string_view line = content.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line[0] == '#') continue;
        std::size_t i = 0;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i < line.size() && line[i] == '+') ++i;
        int value = 0;
        auto [p, ec] = std::from_chars(line.data() + i, line.data() + line.size(), value);
        if (ec == std::errc() && p != line.data() + i) return value;
        return 9600;
    }
    return 9600;
}

std::optional<unsigned> speed_setting(int baud) {
    switch (baud) {
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return std::nullopt;
    }
}

int set_com(int fd, bool verbose, bool use_baud_file) {
    int baud = 9600;
    if (use_baud_file) {
        if (auto content = qor::read_file(qor::tool_path("BAUD"))) baud = baud_from(*content);
    }
    if (verbose && use_baud_file) {
        std::printf("BAUD: %d\n", baud);
        std::fflush(stdout);
    }
    auto speed = speed_setting(baud);
    int err = EINVAL;
    if (speed) {
        // Built from nothing: raw 8N1, no flow control, no translation either
        // way, so records leave and arrive exactly as written.
        termios tio{};
        tio.c_cflag = *speed | CS8 | CREAD | CLOCAL;
        tio.c_iflag = IGNBRK;
        tio.c_oflag = 0;
        tio.c_lflag = 0;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        cfsetispeed(&tio, *speed);
        cfsetospeed(&tio, *speed);
        tcflush(fd, TCIOFLUSH);
        if (tcsetattr(fd, TCSANOW, &tio) == 0) return 0;
        err = errno;
    }
    std::printf("Failed to tcgetattr: %s\n", std::strerror(err));
    std::fflush(stdout);
    return -1;
}

std::string frame(std::string_view payload) {
    std::string record(1, mark);
    record += payload;
    return record;
}

std::string time_answer(std::time_t t) {
    std::string c = qor::clock_text(t); // hh:mm:ss
    return std::string(1, mark) + c.substr(0, 2) + c.substr(3, 2) + c.substr(6, 2) + "\n";
}

void substitute(std::string& text) {
    for (char& c : text) {
        switch (c) {
        case '"':
            c = '.';
            break;
        case '\'':
            c = ':';
            break;
        case ' ':
            c = '_';
            break;
        case '=':
            c = '0';
            break;
        default:
            break;
        }
    }
}

void split69(std::string& text) {
    if (text.size() > 69 && text[69] != mark) text.erase(0, 69);
}

bool in_length_window(std::size_t n) {
    return n >= 54 && n <= 68;
}

std::string_view c_text(std::string_view text) {
    return text.substr(0, std::min(text.size(), text.find('\0')));
}

std::string_view first_line(std::string_view text, std::size_t max) {
    std::size_t end = text.find('\n');
    if (end != std::string_view::npos) text = text.substr(0, end + 1);
    return text.substr(0, max);
}

} // namespace qlink
