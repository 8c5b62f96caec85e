// jdstamp: writes the night's day number into /home/tarnu/jd.tmp.
#include "files.h"
#include "jd.h"
#include "site.h"

#include <cstdio>

int main() {
    std::string now = qor::getime();
    std::fputs(now.substr(0, 25).c_str(), stdout);
    int jd = qor::day_number(now);
    char text[16];
    std::snprintf(text, sizeof text, "%04d", jd);
    std::string path = qor::site_path("/home/tarnu/jd.tmp");
    if (!qor::replace_file(path, text)) {
        std::printf("cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
