/* Fixed SELECT queries against PostgreSQL databases for outside programs.
 *
 * Link the delivered relocatable object pgquery.o with -lpq -lpthread.
 * Every call is served under one process-wide lock, so the functions may be
 * called from several threads; calls then run one at a time.
 */
#ifndef QOR_PGQUERY_H
#define QOR_PGQUERY_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One field of a result. An entry whose value is NULL ends the array; its
 * other members are not set. value and name belong to the caller and are
 * released with freetuple. */
typedef struct tuple {
    int32_t row; /* row number, from 0 */
    int32_t col; /* field number within the row, from 0 */
    char* value; /* the field's text */
    char* name;  /* the field's name as the server gives it */
} tuple;

/* kind is "items", "nitems", "select" or "vselect". Fills at most maxres - 1
 * entries of result, then the end mark. Returns 0 on success; -1 on failure,
 * with the message as value and "Error_Message" as name of the first entry
 * when maxres leaves room for it and its end mark. */
int pgquery(const char* kind, const char* dbname, const char* table, const char* keyval,
            const char* columns, const char* keycol, tuple* result, int maxres);

/* Frees every value and name up to the end mark; the array stays the caller's. */
void freetuple(tuple* result);

/* Closes every open connection; the next call on any name connects anew. */
void exit_sql(void);

#ifdef __cplusplus
}
#endif

#endif
