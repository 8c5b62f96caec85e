// A scratch folder of its own for each test: made fresh under TMPDIR (or
// /tmp) with a unique name, removed with everything in it at the end, so
// two test runs on one machine never meet.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace qor::test {

class Scratch {
  public:
    explicit Scratch(const std::string& prefix = "qortest") {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("cannot make " + tmpl);
        dir_ = tmpl;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    // A path inside the folder (not created).
    std::string path(const std::string& relative) const { return (dir_ / relative).string(); }

  private:
    std::filesystem::path dir_;
};

} // namespace qor::test
