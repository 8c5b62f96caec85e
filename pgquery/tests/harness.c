#define _GNU_SOURCE
#include "harness.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

int failures;
char unset_text[] = "unset";

int check(int ok, const char* what, const char* file, int line) {
    if (!ok) {
        fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
        ++failures;
    }
    return ok;
}

int check_str(const char* got, const char* want, const char* what, const char* file, int line) {
    if (got != NULL && strcmp(got, want) == 0) return 1;
    fprintf(stderr, "%s:%d: %s is \"%s\", expected \"%s\"\n", file, line, what,
            got ? got : "(null)", want);
    ++failures;
    return 0;
}

int check_prefix(const char* got, const char* want, const char* what, const char* file, int line) {
    if (got != NULL && strncmp(got, want, strlen(want)) == 0) return 1;
    fprintf(stderr, "%s:%d: %s is \"%s\", expected it to begin \"%s\"\n", file, line, what,
            got ? got : "(null)", want);
    ++failures;
    return 0;
}

int run_psql(const char* db, const char* sql, char* out, size_t size) {
    const char* psql = getenv("PGQ_PSQL");
    if (psql == NULL) psql = "psql";
    int fds[2];
    if (pipe(fds) != 0) return -1;
    fflush(NULL);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        /* Not counted among the client's own connections. */
        setenv("PGAPPNAME", "pgq-psql", 1);
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execlp(psql, psql, "-X", "-q", "-A", "-F", "\x1f", "-P", "footer=off", "-d", db, "-c", sql,
               (char*)NULL);
        _exit(127);
    }
    close(fds[1]);
    size_t used = 0;
    for (;;) {
        char chunk[4096];
        ssize_t n = read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n && used + 1 < size; ++i) out[used++] = chunk[i];
    }
    out[used] = '\0';
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

/* Splits text at sep in place; returns the number of parts. */
static int split(char* text, char sep, char** parts, int max) {
    int n = 0;
    char* p = text;
    while (n < max) {
        parts[n++] = p;
        char* end = strchr(p, sep);
        if (end == NULL) break;
        *end = '\0';
        p = end + 1;
    }
    return n;
}

void check_like_psql(const char* db, const char* sql, const tuple* result, int line) {
    static char out[65536];
    if (!check(run_psql(db, sql, out, sizeof out) == 0, "psql ran the statement", __FILE__, line))
        return;
    size_t len = strlen(out);
    if (len > 0 && out[len - 1] == '\n') out[len - 1] = '\0';
    char* lines[256];
    int nlines = split(out, '\n', lines, 256);
    char* names[64];
    int nfields = split(lines[0], '\x1f', names, 64);
    int n = 0;
    for (int k = 1; k < nlines; ++k) {
        char* values[64];
        int nvalues = split(lines[k], '\x1f', values, 64);
        check(nvalues == nfields, "psql row has every field", __FILE__, line);
        for (int l = 0; l < nvalues; ++l, ++n) {
            const tuple* t = &result[n];
            if (!check(t->value != NULL, "an entry for every field psql shows", __FILE__, line))
                return;
            check(t->row == k - 1 && t->col == l, "row and field numbers", __FILE__, line);
            check_str(t->name, names[l], "name", __FILE__, line);
            check_str(t->value, values[l], "value", __FILE__, line);
        }
    }
    check(result[n].value == NULL, "no entries beyond what psql shows", __FILE__, line);
}

static int saved_stdout = -1;
static FILE* capture_file;

void begin_capture(void) {
    fflush(stdout);
    capture_file = tmpfile();
    saved_stdout = dup(1);
    dup2(fileno(capture_file), 1);
}

void end_capture(char* buf, size_t size) {
    fflush(stdout);
    dup2(saved_stdout, 1);
    close(saved_stdout);
    rewind(capture_file);
    size_t n = fread(buf, 1, size - 1, capture_file);
    buf[n] = '\0';
    fclose(capture_file);
}

int count_entries(const tuple* result) {
    int n = 0;
    while (result[n].value != NULL) ++n;
    return n;
}

void fill_unset(tuple* result, int n) {
    for (int i = 0; i < n; ++i) {
        result[i].row = -7;
        result[i].col = -7;
        result[i].value = unset_text;
        result[i].name = unset_text;
    }
}
