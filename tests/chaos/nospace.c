/* Preloaded into the driver where the chaos night cannot mount a small file
 * system of its own: while the flag file exists, writes to files in the
 * batch file's folder fail as on a full disk. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

ssize_t write(int fd, const void* buf, size_t n) {
    static ssize_t (*real_write)(int, const void*, size_t);
    if (real_write == NULL)
        real_write = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    const char* dir = getenv("QOR_CHAOS_FULL_DIR");
    const char* flag = getenv("QOR_CHAOS_FULL_FLAG");
    if (fd > 2 && dir != NULL && flag != NULL && access(flag, F_OK) == 0) {
        char link[64], path[PATH_MAX];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t k = readlink(link, path, sizeof path - 1);
        size_t d = strlen(dir);
        if (k > (ssize_t)d && strncmp(path, dir, d) == 0 && path[d] == '/') {
            errno = ENOSPC;
            return -1;
        }
    }
    return real_write(fd, buf, n);
}
