// The archive tools' contact with the world: the clock, console and file
// writes of every program (qor::System), and what they need besides to look
// at a folder of frames: a file's size and time, its first bytes, the names
// in a folder, and a folder made for the copies.
#pragma once

#include "system.h"

#include <optional>
#include <string>
#include <vector>

namespace qarch {

struct FileInfo {
    long long size = 0;
    double mtime = 0; // seconds since the epoch, with fraction
    bool operator==(const FileInfo&) const = default;
};

class Host : public qor::System {
  public:
    virtual std::optional<FileInfo> stat(const std::string& path) = 0;
    // At most n bytes from the start of the file (fewer when it is shorter).
    virtual std::optional<std::string> read_head(const std::string& path, std::size_t n) = 0;
    // Names of the entries of a folder; empty when it cannot be read.
    virtual std::vector<std::string> list_dir(const std::string& dir) = 0;
    // The folder exists afterwards (made when missing).
    virtual bool make_dir(const std::string& dir) = 0;
};

namespace real {
std::optional<FileInfo> stat(const std::string& path);
std::optional<std::string> read_head(const std::string& path, std::size_t n);
std::vector<std::string> list_dir(const std::string& dir);
bool make_dir(const std::string& dir);
} // namespace real

// The host for any interface built on Host (tests derive their fake from
// the same pieces).
template <class Base = Host> class RealHostOf : public qor::RealSystemOf<Base> {
  public:
    std::optional<FileInfo> stat(const std::string& path) override { return real::stat(path); }
    std::optional<std::string> read_head(const std::string& path, std::size_t n) override {
        return real::read_head(path, n);
    }
    std::vector<std::string> list_dir(const std::string& dir) override {
        return real::list_dir(dir);
    }
    bool make_dir(const std::string& dir) override { return real::make_dir(dir); }
};

using RealHost = RealHostOf<>;

} // namespace qarch
