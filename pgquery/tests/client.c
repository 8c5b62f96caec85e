/* An outside program written in C that links the delivered pgquery.o with
 * -lpq -lpthread and checks what the module returns against a throw-away
 * server (pg-server run STATE client SCENARIO...). */
#define _GNU_SOURCE
#include "harness.h"
#include "pgquery.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define MAXRES 64

static char console[65536];
static char psql_out[65536];

/* The kinds return what psql returns for the same statement. */
static void kinds(void) {
    tuple r[MAXRES];

    CHECK(pgquery("items", "qdb0", "pairs", "", "", "a", r, MAXRES) == 0);
    CHECK(count_entries(r) == 3);
    check_like_psql("qdb0", "SELECT a FROM pairs", r, __LINE__);
    freetuple(r);

    CHECK(pgquery("nitems", "qdb0", "pairs", "", "", "a", r, MAXRES) == 0);
    CHECK(count_entries(r) == 1);
    CHECK_STR(r[0].name, "count");
    CHECK_STR(r[0].value, "3");
    check_like_psql("qdb0", "SELECT count(a) FROM pairs", r, __LINE__);
    freetuple(r);

    CHECK(pgquery("select", "qdb0", "pairs", "2", "a, b", "b", r, MAXRES) == 0);
    check_like_psql("qdb0", "SELECT a, b FROM pairs where b='2'", r, __LINE__);
    CHECK_STR(r[0].value, "two");
    freetuple(r);

    /* Values as the server prints them: a real column, several rows. */
    CHECK(pgquery("select", "qdb0", "stars", "1", "*", "1", r, MAXRES) == 0);
    CHECK(count_entries(r) == 12);
    check_like_psql("qdb0", "SELECT * FROM stars where 1='1'", r, __LINE__);
    freetuple(r);

    /* vselect: the same entries, and its console lines without newlines. */
    begin_capture();
    int rc = pgquery("vselect", "qdb0", "pairs", "two", "a, b", "a", r, MAXRES);
    end_capture(console, sizeof console);
    CHECK(rc == 0);
    CHECK_STR(console, "Doing query: SELECT a, b FROM pairs where a='two'"
                       "Database has 1 responses with 2 columns"
                       "Save result for tuple 0"
                       "Save result 0: two"
                       "Save result 1: 2");
    check_like_psql("qdb0", "SELECT a, b FROM pairs where a='two'", r, __LINE__);
    freetuple(r);

    /* Silent kinds print nothing, failures included. */
    begin_capture();
    pgquery("select", "qdb0", "pairs", "two", "a, b", "a", r, MAXRES);
    freetuple(r);
    pgquery("items", "qdb0", "nosuchtable", "", "", "a", r, MAXRES);
    freetuple(r);
    end_capture(console, sizeof console);
    CHECK_STR(console, "");
}

/* maxres bounds the entries; an empty result is a failure. */
static void limits(void) {
    tuple r[MAXRES];

    fill_unset(r, MAXRES);
    CHECK(pgquery("items", "qdb0", "pairs", "", "", "a", r, 1) == 0);
    CHECK(r[0].value == NULL);
    CHECK(r[1].value == unset_text);

    /* 2 fields x 3 rows into 4 entries: row 0, the first field of row 1. */
    fill_unset(r, MAXRES);
    begin_capture();
    int rc = pgquery("vselect", "qdb0", "pairs", "1", "a, b", "1", r, 4);
    end_capture(console, sizeof console);
    CHECK(rc == 0);
    CHECK(count_entries(r) == 3);
    CHECK(r[0].row == 0 && r[0].col == 0 && r[1].row == 0 && r[1].col == 1);
    CHECK(r[2].row == 1 && r[2].col == 0);
    CHECK_STR(r[0].value, "one");
    CHECK_STR(r[1].name, "b");
    CHECK_STR(r[1].value, "1");
    CHECK_STR(r[2].name, "a");
    CHECK_STR(r[2].value, "two");
    CHECK(r[4].value == unset_text);
    CHECK_STR(console, "Doing query: SELECT a, b FROM pairs where 1='1'"
                       "Database has 3 responses with 2 columns"
                       "Save result for tuple 0Save result 0: oneSave result 1: 1"
                       "Save result for tuple 1Save result 2: two");
    freetuple(r);
    /* A second freetuple on the same array frees nothing twice. */
    freetuple(r);

    CHECK(pgquery("items", "qdb0", "empty", "", "", "a", r, MAXRES) == -1);
    CHECK_STR(r[0].name, "Error_Message");
    CHECK_STR(r[0].value, "Query SELECT a FROM empty returned no results\n");
    CHECK(r[1].value == NULL);
    freetuple(r);

    /* No room even for the end mark: nothing is written or sent. */
    fill_unset(r, MAXRES);
    CHECK(pgquery("items", "qdb0", "pairs", "", "", "a", r, 0) == -1);
    CHECK(pgquery("items", "qdb0", "pairs", "", "", "a", r, -5) == -1);
    CHECK(pgquery("items", "qdb0", "pairs", "", "", "a", NULL, MAXRES) == -1);
    CHECK(r[0].value == unset_text);

    /* A failure with room for one entry: only the end mark fits. */
    CHECK(pgquery("items", "qdb0", "empty", "", "", "a", r, 1) == -1);
    CHECK(r[0].value == NULL);
    CHECK(r[1].value == unset_text);

    fill_unset(r, MAXRES);
    CHECK(pgquery("items", "qdb0", "empty", "", "", "a", r, 2) == -1);
    CHECK_STR(r[0].name, "Error_Message");
    CHECK(r[1].value == NULL);
    CHECK(r[2].value == unset_text);
    freetuple(r);

    /* Refused before any connection: the database does not even exist. */
    CHECK(pgquery("delete", "nosuchdb", "pairs", "", "", "a", r, MAXRES) == -1);
    CHECK_STR(r[0].value, "Unknown query kind 'delete'\n");
    freetuple(r);
    CHECK(pgquery("Items", "nosuchdb", "pairs", "", "", "a", r, MAXRES) == -1);
    CHECK_STR(r[0].value, "Unknown query kind 'Items'\n");
    freetuple(r);
    CHECK(pgquery(NULL, "nosuchdb", "pairs", "", "", "a", r, MAXRES) == -1);
    CHECK_STR(r[0].value, "Unknown query kind '(null)'\n");
    freetuple(r);
    CHECK(pgquery("select", "nosuchdb", "pairs", NULL, "a", "a", r, MAXRES) == -1);
    CHECK_STR(r[0].value, "Missing keyval for the query\n");
    freetuple(r);
    CHECK(pgquery("items", NULL, "pairs", NULL, NULL, "a", r, MAXRES) == -1);
    CHECK_STR(r[0].value, "Missing dbname for the query\n");
    freetuple(r);
}

/* "__STD" alone stands for the catalogue's name column. */
static void keycol(void) {
    tuple r[MAXRES];

    begin_capture();
    int rc = pgquery("vselect", "qdb0", "stars", "deneb", "mag", "__STD", r, MAXRES);
    end_capture(console, sizeof console);
    CHECK(rc == 0);
    CHECK_PREFIX(console, "Doing query: SELECT mag FROM stars where name0x3b2d29='deneb'");
    CHECK_STR(r[0].value, "1.25");
    freetuple(r);

    CHECK(pgquery("items", "qdb0", "stars", "", "", "__std", r, MAXRES) == -1);
    CHECK_PREFIX(r[0].value, "Query SELECT __std FROM stars failed\nERROR:  column \"__std\"");
    freetuple(r);
}

/* The sequence "ticks" moves only when a statement calls nextval. */
static long ticks(void) {
    if (run_psql("qdb0", "SELECT CASE WHEN is_called THEN last_value ELSE 0 END FROM ticks",
                 psql_out, sizeof psql_out) != 0)
        return -1;
    char* line = strchr(psql_out, '\n');
    return line ? strtol(line + 1, NULL, 10) : -1;
}

/* keyval is always one string literal; statements must fit 511 characters. */
static void quoting(void) {
    tuple r[MAXRES];

    CHECK(pgquery("select", "qdb0", "quoted", "it's", "v", "k", r, MAXRES) == 0);
    CHECK_STR(r[0].value, "apostrophe");
    freetuple(r);
    CHECK(pgquery("select", "qdb0", "quoted", "back\\slash", "v", "k", r, MAXRES) == 0);
    CHECK_STR(r[0].value, "backslash");
    freetuple(r);

    long before = ticks();
    CHECK(before >= 0);
    CHECK(pgquery("select", "qdb0", "quoted", "x' OR '1'='1", "v", "k", r, MAXRES) == -1);
    CHECK_STR(r[0].value, "Query SELECT v FROM quoted where k='x'' OR ''1''=''1' "
                          "returned no results\n");
    freetuple(r);
    CHECK(pgquery("select", "qdb0", "quoted", "x'; SELECT nextval('ticks'); --", "v", "k", r,
                  MAXRES) == -1);
    CHECK_PREFIX(r[0].value, "Query SELECT v FROM quoted where k='x''; SELECT");
    freetuple(r);
    CHECK(ticks() == before);

    /* "SELECT " + keycol + " FROM one": 16 characters around the key column. */
    char key[600];
    memset(key, ' ', sizeof key);
    key[0] = 'a';
    key[511 - 16] = '\0';
    CHECK(pgquery("items", "qdb0", "one", "", "", key, r, MAXRES) == 0);
    CHECK_STR(r[0].value, "only");
    freetuple(r);
    key[511 - 16] = ' ';
    key[512 - 16] = '\0';
    CHECK(pgquery("items", "nosuchdb", "one", "", "", key, r, MAXRES) == -1);
    CHECK_STR(r[0].value, "Query too long (512 characters, at most 511)\n");
    freetuple(r);

    /* Fits as given, one character too long once the quote is doubled:
     * refused, and the statement (which would tick) never runs. */
    const char* fixed = "SELECT nextval('ticks') FROM quoted where k=''";
    char value[600];
    size_t vlen = 511 - strlen(fixed);
    memset(value, 'x', vlen);
    value[0] = '\'';
    value[vlen] = '\0';
    CHECK(pgquery("select", "qdb0", "quoted", value, "nextval('ticks')", "k", r, MAXRES) == -1);
    CHECK_STR(r[0].value, "Query too long (512 characters, at most 511)\n");
    freetuple(r);
    CHECK(ticks() == before);
}

/* One statement per call, and every call ends its transaction: a failed
 * statement leaves the kept connection usable. */
static void statements(void) {
    tuple r[MAXRES];

    CHECK(pgquery("items", "qdb0", "pairs; CREATE TABLE made_by_query (a int)", "", "", "a", r,
                  MAXRES) == -1);
    CHECK_PREFIX(r[0].value,
                 "Query SELECT a FROM pairs; CREATE TABLE made_by_query (a int) failed\n");
    freetuple(r);
    CHECK(pgquery("select", "qdb0", "pairs", "x", "a", "b='1'; DROP TABLE pairs; SELECT 1 WHERE b",
                  r, MAXRES) == -1);
    freetuple(r);
    CHECK(run_psql("qdb0", "SELECT to_regclass('made_by_query') IS NULL, count(*) FROM pairs",
                   psql_out, sizeof psql_out) == 0);
    CHECK(strstr(psql_out, "\nt\x1f"
                           "3\n") != NULL);

    for (int i = 0; i < 3; ++i) {
        CHECK(pgquery("items", "qdb0", "nosuchtable", "", "", "a", r, MAXRES) == -1);
        freetuple(r);
        CHECK(pgquery("items", "qdb0", "pairs", "", "", "a", r, MAXRES) == 0);
        CHECK(count_entries(r) == 3);
        freetuple(r);
    }
}

static int backend_count(const char* appname) {
    char sql[256];
    snprintf(sql, sizeof sql, "SELECT count(*) FROM pg_stat_activity WHERE application_name = '%s'",
             appname);
    if (run_psql("postgres", sql, psql_out, sizeof psql_out) != 0) return -1;
    char* line = strchr(psql_out, '\n');
    return line ? atoi(line + 1) : -1;
}

static void sleep_ms(long ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}

static long backend_pid(const char* db) {
    tuple r[4];
    long pid = -1;
    if (pgquery("items", db, "one", "", "", "pg_backend_pid()", r, 4) == 0) pid = atol(r[0].value);
    freetuple(r);
    return pid;
}

/* Twenty kept connections, failures that leave the table usable, exit_sql. */
static void connections(void) {
    tuple r[MAXRES];
    char appname[64];
    snprintf(appname, sizeof appname, "pgq-conn-%ld", (long)getpid());
    setenv("PGAPPNAME", appname, 1);

    char db[32];
    for (int i = 0; i < 19; ++i) {
        snprintf(db, sizeof db, "qdb%d", i);
        CHECK(pgquery("items", db, "one", "", "", "current_database()", r, MAXRES) == 0);
        CHECK_STR(r[0].value, db);
        freetuple(r);
    }
    long first_pid = backend_pid("qdb0");
    CHECK(first_pid > 0);

    CHECK(pgquery("items", "nosuchdb", "one", "", "", "a", r, MAXRES) == -1);
    CHECK_PREFIX(r[0].value, "Connection to database 'nosuchdb' failed.\n");
    CHECK(r[0].value && strstr(r[0].value, "does not exist") != NULL);
    freetuple(r);

    /* The failed name left its entry free for the twentieth. */
    CHECK(pgquery("items", "qdb19", "one", "", "", "current_database()", r, MAXRES) == 0);
    CHECK_STR(r[0].value, "qdb19");
    freetuple(r);

    CHECK(pgquery("items", "qdb0", "one", "", "", "a", r, MAXRES) == 0);
    freetuple(r);
    CHECK(pgquery("items", "postgres", "one", "", "", "a", r, MAXRES) == -1);
    CHECK_STR(r[0].value, "Too many (20) connections to database\n");
    freetuple(r);
    CHECK(pgquery("items", "nosuchdb", "one", "", "", "a", r, MAXRES) == -1);
    CHECK_STR(r[0].value, "Too many (20) connections to database\n");
    freetuple(r);
    for (int i = 19; i >= 0; --i) {
        snprintf(db, sizeof db, "qdb%d", i);
        CHECK(pgquery("items", db, "one", "", "", "current_database()", r, MAXRES) == 0);
        CHECK_STR(r[0].value, db);
        freetuple(r);
    }
    CHECK(backend_pid("qdb0") == first_pid);
    CHECK(backend_count(appname) == 20);

    exit_sql();
    for (int i = 0; i < 100 && backend_count(appname) != 0; ++i) sleep_ms(50);
    CHECK(backend_count(appname) == 0);
    long second_pid = backend_pid("qdb0");
    CHECK(second_pid > 0 && second_pid != first_pid);
    CHECK(pgquery("items", "postgres", "one", "", "", "current_database()", r, MAXRES) == -1);
    CHECK_PREFIX(r[0].value, "Query SELECT current_database() FROM one failed\n");
    freetuple(r);
    CHECK(backend_count(appname) == 2);

    /* A connection the server dropped stays broken until exit_sql. */
    char sql[256];
    snprintf(sql, sizeof sql,
             "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
             "WHERE application_name = '%s'",
             appname);
    CHECK(run_psql("postgres", sql, psql_out, sizeof psql_out) == 0);
    for (int i = 0; i < 100 && backend_count(appname) != 0; ++i) sleep_ms(50);
    for (int attempt = 0; attempt < 2; ++attempt) {
        CHECK(pgquery("items", "qdb0", "one", "", "", "a", r, MAXRES) == -1);
        CHECK_PREFIX(r[0].value, "BEGIN command failed: ");
        CHECK(r[0].value && strstr(r[0].value, "resultStatus = PGRES_FATAL_ERROR\n") != NULL);
        freetuple(r);
    }
    exit_sql();
    CHECK(pgquery("items", "qdb0", "one", "", "", "a", r, MAXRES) == 0);
    CHECK_STR(r[0].value, "only");
    freetuple(r);
    exit_sql();
    exit_sql();

    /* An empty name leaves the choice to the client library (PGDATABASE);
     * it is kept like any other name, not reopened on every call. */
    setenv("PGDATABASE", "qdb3", 1);
    long empty_pid = backend_pid("");
    CHECK(empty_pid > 0);
    CHECK(backend_pid("") == empty_pid);
    CHECK(backend_count(appname) == 1);
    unsetenv("PGDATABASE");
    exit_sql();
}

struct worker {
    int index;
    int errors;
    double seconds;
};

static const char* const pair_names[] = {"one", "two", "three"};

static void* mixed_calls(void* arg) {
    struct worker* w = arg;
    char db[32], number[16];
    snprintf(db, sizeof db, "qdb%d", w->index);
    for (int round = 0; round < 10; ++round) {
        tuple r[8];
        int pick = (w->index + round) % 3;
        snprintf(number, sizeof number, "%d", pick + 1);
        if (pgquery("select", "qdb0", "pairs", number, "a", "b", r, 8) != 0 || !r[0].value ||
            strcmp(r[0].value, pair_names[pick]) != 0 || r[1].value != NULL)
            ++w->errors;
        freetuple(r);
        if (pgquery("items", db, "one", "", "", "current_database()", r, 8) != 0 || !r[0].value ||
            strcmp(r[0].value, db) != 0)
            ++w->errors;
        freetuple(r);
    }
    return NULL;
}

static double now_seconds(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

static void* sleeping_call(void* arg) {
    struct worker* w = arg;
    char db[32];
    snprintf(db, sizeof db, "qdb%d", 10 + w->index);
    tuple r[4];
    double start = now_seconds();
    if (pgquery("items", db, "one", "", "", "pg_sleep(0.25)", r, 4) != 0) ++w->errors;
    w->seconds = now_seconds() - start;
    freetuple(r);
    return NULL;
}

/* Threads calling at once each get their own results, one call at a time. */
static void threads(void) {
    enum { N = 8 };
    pthread_t ids[N];
    struct worker workers[N];
    for (int i = 0; i < N; ++i) {
        workers[i] = (struct worker){i, 0, 0};
        CHECK(pthread_create(&ids[i], NULL, mixed_calls, &workers[i]) == 0);
    }
    for (int i = 0; i < N; ++i) {
        pthread_join(ids[i], NULL);
        CHECK(workers[i].errors == 0);
    }

    /* Four calls of a quarter second on four databases: in parallel they
     * would all end after about 0.25 s; served one at a time, the last one
     * waits for the other three. */
    enum { S = 4 };
    double start = now_seconds();
    for (int i = 0; i < S; ++i) {
        workers[i] = (struct worker){i, 0, 0};
        CHECK(pthread_create(&ids[i], NULL, sleeping_call, &workers[i]) == 0);
    }
    double longest = 0;
    for (int i = 0; i < S; ++i) {
        pthread_join(ids[i], NULL);
        CHECK(workers[i].errors == 0);
        if (workers[i].seconds > longest) longest = workers[i].seconds;
    }
    double total = now_seconds() - start;
    CHECK(total >= 0.95);
    CHECK(longest >= 0.95);
    exit_sql();
}

static const struct {
    const char* name;
    void (*run)(void);
} scenarios[] = {
    {"kinds", kinds},           {"limits", limits},           {"keycol", keycol},
    {"quoting", quoting},       {"connections", connections}, {"threads", threads},
    {"statements", statements},
};

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s all|SCENARIO...\n", argv[0]);
        return 2;
    }
    const size_t count = sizeof scenarios / sizeof scenarios[0];
    for (int a = 1; a < argc; ++a) {
        int found = 0;
        for (size_t i = 0; i < count; ++i) {
            if (strcmp(argv[a], "all") != 0 && strcmp(argv[a], scenarios[i].name) != 0) continue;
            found = 1;
            int before = failures;
            scenarios[i].run();
            exit_sql();
            printf("%s: %s\n", scenarios[i].name, failures == before ? "ok" : "FAILED");
        }
        if (!found) {
            fprintf(stderr, "unknown scenario %s\n", argv[a]);
            return 2;
        }
    }
    return failures == 0 ? 0 : 1;
}
