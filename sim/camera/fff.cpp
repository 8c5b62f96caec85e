// fff: applies the camera set-up of fff.dat and starts an exposure; returns
// as soon as the exposure has begun (the frame follows in the background).
//
// fff.dat, eight lines: exposure time in hundredths of a second, start
// column, start row, columns, rows, window flag, read-out speed, object.
#include "camera.h"
#include "files.h"
#include "site.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A set-up value is one word in the database: the line without its line
// end, cut at the first blank, bounded in length.
std::string word_of(const std::string& line, const std::string& fallback) {
    std::istringstream in(line);
    std::string w;
    if (!(in >> w)) return fallback;
    return w.substr(0, 80);
}

} // namespace

int main() {
    std::string path = qor::tool_path("fff.dat");
    auto text = qor::read_file(path);
    if (!text) {
        std::printf("fff: cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<std::string> lines;
    std::istringstream in(*text);
    for (std::string line; lines.size() < 8 && std::getline(in, line);) lines.push_back(line);
    lines.resize(8);

    qor::sim::Setup setup;
    char* end = nullptr;
    long h = std::strtol(lines[0].c_str(), &end, 10);
    if (end == lines[0].c_str()) {
        std::printf("fff: no exposure time in %s\n", path.c_str());
        return 1;
    }
    setup.hundredths = h;
    setup.sc = word_of(lines[1], setup.sc);
    setup.sr = word_of(lines[2], setup.sr);
    setup.nc = word_of(lines[3], setup.nc);
    setup.nr = word_of(lines[4], setup.nr);
    setup.windowset = word_of(lines[5], setup.windowset);
    setup.readspeed = word_of(lines[6], setup.readspeed);
    setup.object = word_of(lines[7], setup.object);
    return qor::sim::start_exposure(setup);
}
