#include "host.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace qarch::real {

std::optional<FileInfo> stat(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileInfo{static_cast<long long>(st.st_size),
                    static_cast<double>(st.st_mtim.tv_sec) +
                        static_cast<double>(st.st_mtim.tv_nsec) / 1e9};
}

std::optional<std::string> read_head(const std::string& path, std::size_t n) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rbe"), std::fclose);
    if (!f) return std::nullopt;
    std::string data(n, '\0');
    std::size_t got = std::fread(data.data(), 1, n, f.get());
    if (std::ferror(f.get())) return std::nullopt;
    data.resize(got);
    return data;
}

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
    if (!d) return names;
    while (const dirent* e = readdir(d.get())) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    return names;
}

bool make_dir(const std::string& dir) {
    if (mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST) {
        struct stat st {};
        return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    return false;
}

} // namespace qarch::real
