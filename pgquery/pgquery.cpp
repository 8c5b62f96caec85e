// Fixed SELECT queries for outside programs, one kept connection per database.
//
// Outside programs link this module with the C compiler and only -lpq and
// -lpthread, so nothing here may need the C++ runtime: no exceptions, no
// operator new, no guarded statics (it is compiled with -fno-exceptions,
// -fno-rtti and -fno-threadsafe-statics).
#include "pgquery.h"
#include "statement.h"

#include <libpq-fe.h>
#include <pthread.h>
#include <semaphore.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

static const char rcsid[] __attribute__((used)) =
    "$Id: pgquery,v 1.1.1.1 2009/06/10 00:00:00 qor Exp $";

using namespace qor::pgq;

namespace {

constexpr int max_connections = 20;
constexpr int query_size = 512; // the statement and its terminating zero

// One kept connection. The four parameters stay empty so that the client
// library's defaults (PGHOST, PGPORT, ...) apply. An entry without a
// connection is free; the used ones form a prefix of the table.
struct Connection {
    const char* pghost;
    const char* pgport;
    const char* pgoptions;
    const char* pgtty;
    char* dbname;
    PGconn* conn;
};

Connection pgcon[max_connections];

// One binary lock around every call: the table, the connections and the
// server round trips are used by one thread at a time.
sem_t pglock;
pthread_once_t pglock_once = PTHREAD_ONCE_INIT;

void make_lock() {
    sem_init(&pglock, 0, 1);
}

class Lock {
  public:
    Lock() {
        pthread_once(&pglock_once, make_lock);
        while (sem_wait(&pglock) != 0 && errno == EINTR) {
        }
    }
    ~Lock() { sem_post(&pglock); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
};

struct ClearResult {
    void operator()(PGresult* res) const { PQclear(res); }
};
using Result = std::unique_ptr<PGresult, ClearResult>;

char* copy_text(const char* text) {
    return text == nullptr ? nullptr : strdup(text);
}

// The error entry: the message, then the end mark. With room for one entry
// only the end mark fits, and the message is dropped rather than leaving
// the array without its end.
int fail(tuple* result, int maxres, char* message) {
    if (maxres >= 2 && message != nullptr) {
        result[0].row = 0;
        result[0].col = 0;
        result[0].value = message;
        result[0].name = copy_text("Error_Message");
        result[1].value = nullptr;
    } else {
        std::free(message);
        result[0].value = nullptr;
    }
    return -1;
}

// The argument a kind needs but did not get, or null.
const char* missing_argument(Kind kind, const char* dbname, const char* table, const char* keyval,
                             const char* columns, const char* keycol) {
    if (dbname == nullptr) return "dbname";
    if (table == nullptr) return "table";
    if (keycol == nullptr) return "keycol";
    if (kind == Kind::select || kind == Kind::vselect) {
        if (columns == nullptr) return "columns";
        if (keyval == nullptr) return "keyval";
    }
    return nullptr;
}

char* too_long(int length) {
    if (length < 0)
        return format_message("Query too long (at most %d characters)\n", query_size - 1);
    return format_message("Query too long (%d characters, at most %d)\n", length, query_size - 1);
}

// The entry holding dbname, a free one to open it in, or null when the
// table is full of other names.
Connection* find_connection(const char* dbname) {
    for (Connection& c : pgcon) {
        if (c.conn == nullptr || std::strcmp(c.dbname, dbname) == 0) return &c;
    }
    return nullptr;
}

// Opens dbname in the free entry e; returns null or the error message.
char* open_connection(Connection& e, const char* dbname, bool& failed) {
    failed = false;
    e.pghost = e.pgport = e.pgoptions = e.pgtty = "";
    PGconn* conn = PQsetdbLogin(e.pghost, e.pgport, e.pgoptions, e.pgtty, dbname, nullptr, nullptr);
    if (conn == nullptr || PQstatus(conn) == CONNECTION_BAD) {
        failed = true;
        char* message = format_message("Connection to database '%s' failed.\n%s", dbname,
                                       conn ? PQerrorMessage(conn) : "out of memory\n");
        PQfinish(conn);
        return message;
    }
    e.dbname = copy_text(dbname);
    if (e.dbname == nullptr) {
        failed = true;
        PQfinish(conn);
        return format_message("Connection to database '%s' failed.\n%s", dbname, "out of memory\n");
    }
    e.conn = conn;
    return nullptr;
}

// Copies the fields row by row into at most maxres - 1 entries and ends the
// array; returns false when memory ran out (the array is then freed and empty).
bool store_rows(const PGresult* res, bool verbose, tuple* result, int maxres) {
    const int rows = PQntuples(res);
    const int fields = PQnfields(res);
    int n = 0;
    result[0].value = nullptr;
    for (int k = 0; k < rows && n < maxres - 1; ++k) {
        if (verbose) std::printf("Save result for tuple %d", k);
        for (int l = 0; l < fields && n < maxres - 1; ++l) {
            tuple& t = result[n];
            t.row = k;
            t.col = l;
            t.value = copy_text(PQgetvalue(res, k, l));
            t.name = copy_text(PQfname(res, l));
            if (t.value == nullptr || t.name == nullptr) {
                std::free(t.value);
                std::free(t.name);
                t.value = nullptr;
                freetuple(result);
                return false;
            }
            if (verbose) std::printf("Save result %d: %s", n, t.value);
            ++n;
            result[n].value = nullptr;
        }
    }
    return true;
}

// BEGIN, the statement and the storing of its fields; the caller commits.
int run_query(PGconn* conn, Kind kind, const char* query, tuple* result, int maxres) {
    Result begin(PQexec(conn, "BEGIN"));
    if (!begin || PQresultStatus(begin.get()) != PGRES_COMMAND_OK) {
        return fail(result, maxres,
                    format_message("BEGIN command failed: %s, %s, resultStatus = %s\n",
                                   PQresultErrorMessage(begin.get()), PQerrorMessage(conn),
                                   PQresStatus(PQresultStatus(begin.get()))));
    }
    begin.reset();

    const bool verbose = kind == Kind::vselect;
    if (verbose) std::printf("Doing query: %s", query);
    // Sent as one statement of the extended protocol: the server refuses a
    // text holding several, so SQL pasted into an argument cannot add one.
    Result res(PQexecParams(conn, query, 0, nullptr, nullptr, nullptr, nullptr, 0));
    if (!res || PQresultStatus(res.get()) != PGRES_TUPLES_OK) {
        return fail(result, maxres,
                    format_message("Query %s failed\n%s", query, PQerrorMessage(conn)));
    }
    const int rows = PQntuples(res.get());
    if (verbose) {
        std::printf("Database has %d responses with %d columns", rows, PQnfields(res.get()));
    }
    if (!store_rows(res.get(), verbose, result, maxres)) {
        return fail(result, maxres, format_message("Out of memory for the results of %s\n", query));
    }
    if (rows == 0) {
        return fail(result, maxres, format_message("Query %s returned no results\n", query));
    }
    return 0;
}

} // namespace

extern "C" int pgquery(const char* kind, const char* dbname, const char* table, const char* keyval,
                       const char* columns, const char* keycol, tuple* result, int maxres) {
    if (result == nullptr || maxres <= 0) return -1; // no room even for the end mark

    const Kind k = query_kind(kind);
    if (k == Kind::unknown) {
        return fail(result, maxres,
                    format_message("Unknown query kind '%s'\n", kind ? kind : "(null)"));
    }
    if (const char* missing = missing_argument(k, dbname, table, keyval, columns, keycol)) {
        return fail(result, maxres, format_message("Missing %s for the query\n", missing));
    }
    // Quoting only lengthens the value: what is too long as given never
    // fits, and is refused before any connection is touched.
    const int plain = compose_query(nullptr, 0, k, table, keyval, columns, keycol);
    if (plain < 0 || plain >= query_size) return fail(result, maxres, too_long(plain));

    Lock lock;
    Connection* e = find_connection(dbname);
    if (e == nullptr) {
        return fail(result, maxres,
                    format_message("Too many (%d) connections to database\n", max_connections));
    }
    if (e->conn == nullptr) {
        bool failed = false;
        char* message = open_connection(*e, dbname, failed);
        if (failed) return fail(result, maxres, message);
    }

    // The value is an SQL string literal: quoted by the client library for
    // this connection's encoding, so it can never end the literal.
    std::array<char, query_size> query{};
    const char* value = keyval;
    std::array<char, 2 * query_size + 1> quoted{};
    if (k == Kind::select || k == Kind::vselect) {
        int error = 0;
        PQescapeStringConn(e->conn, quoted.data(), keyval, std::strlen(keyval), &error);
        if (error != 0) {
            return fail(result, maxres,
                        format_message("Value for %s cannot be quoted\n%s", table,
                                       PQerrorMessage(e->conn)));
        }
        value = quoted.data();
    }
    const int length = compose_query(query.data(), query.size(), k, table, value, columns, keycol);
    if (length < 0 || length >= query_size) return fail(result, maxres, too_long(length));

    const int status = run_query(e->conn, k, query.data(), result, maxres);
    // Also after a failure: ends the transaction whatever state it is in.
    PQclear(PQexec(e->conn, "COMMIT"));
    return status;
}

extern "C" void freetuple(tuple* result) {
    if (result == nullptr) return;
    for (tuple* t = result; t->value != nullptr; ++t) {
        std::free(t->value);
        std::free(t->name);
        t->name = nullptr;
    }
    // A second freetuple on the same array then frees nothing.
    result[0].value = nullptr;
}

extern "C" void exit_sql(void) {
    Lock lock;
    for (Connection& c : pgcon) {
        if (c.conn == nullptr) continue;
        PQfinish(c.conn);
        std::free(c.dbname);
        c = Connection{};
    }
}
