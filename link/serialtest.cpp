#include "serialtest.h"

#include "build.h"
#include "framing.h"
#include "site.h"

namespace qlink {

namespace {

constexpr const char* test_move = "movv 12:34:56.0 56:34:12\n";
constexpr const char* test_filter = "filt g\n";

} // namespace

int LineTester::start() {
    const Port& port = linktest_port;
    host_.run({"sudo", "chmod", port.chmod_mode, qor::site_path(port.device)});
    std::string error;
    if (!host_.open_port(port, error)) {
        host_.print("uart open err: " + error + "\n");
        return -1;
    }
    if (host_.configure(port, true) != 0) {
        host_.print("set_com failed!\n");
        return -1;
    }
    return 0;
}

void LineTester::cycle() {
    host_.sleep(1);
    j_ = (j_ + 1) % 4;
    std::string error;
    if (j_ == 1) {
        const char* text = i_ == 1 ? test_move : i_ == 4 ? test_filter : nullptr;
        if (text) {
            host_.write_port(text, error);
            host_.print(std::string("S: ") + text);
        }
        i_ = (i_ + 1) % 8;
    }
    if (j_ == 2) host_.write_port(std::string(1, mark), error);

    auto got = host_.read_port(255, error);
    if (!got || got->empty()) return;
    std::string text = std::move(*got);
    split69(text);
    substitute(text);
    host_.print("R(" + std::to_string(text.size()) + "): " + std::string(c_text(text)));
}

int LineTester::run() {
    for (;;) cycle();
}

} // namespace qlink
