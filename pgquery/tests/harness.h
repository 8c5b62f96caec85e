/* Small checking helpers for the C client of the query module. */
#ifndef PGQ_HARNESS_H
#define PGQ_HARNESS_H

#include "pgquery.h"

#include <stddef.h>

extern int failures;

int check(int ok, const char* what, const char* file, int line);
int check_str(const char* got, const char* want, const char* what, const char* file, int line);
int check_prefix(const char* got, const char* want, const char* what, const char* file, int line);

#define CHECK(cond) check((cond) != 0, #cond, __FILE__, __LINE__)
#define CHECK_STR(got, want) check_str((got), (want), #got, __FILE__, __LINE__)
#define CHECK_PREFIX(got, want) check_prefix((got), (want), #got, __FILE__, __LINE__)

/* Runs psql (unaligned, fields separated by 0x1f, header line, no footer)
 * on one statement; returns its exit status, output in out. */
int run_psql(const char* db, const char* sql, char* out, size_t size);

/* Checks that the entries are exactly what psql shows for the statement:
 * the field names, and every value row by row. */
void check_like_psql(const char* db, const char* sql, const tuple* result, int line);

/* Standard output of the calls between the two goes into buf. */
void begin_capture(void);
void end_capture(char* buf, size_t size);

/* Entries before the end mark. */
int count_entries(const tuple* result);

/* Fills the array with a recognisable pattern, to see what was written. */
void fill_unset(tuple* result, int n);
extern char unset_text[];

#endif
