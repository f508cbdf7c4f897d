// Every statement the archive runs. A pull is written in one transaction
// after its files are on disk: a write-ahead log so readers never wait for
// it, and a busy timeout so that an archive another program holds a while
// is waited for, ten seconds at most, never at the cost of the table.
#include <errno.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include "archive.h"

namespace {

const char kSchema[] = "CREATE TABLE IF NOT EXISTS pulls (\n"
                       "  id INTEGER PRIMARY KEY,\n"
                       "  pulled TEXT NOT NULL,\n"
                       "  port TEXT NOT NULL,\n"
                       "  link TEXT NOT NULL,\n"
                       "  name TEXT NOT NULL,\n"
                       "  records INTEGER NOT NULL,\n"
                       "  size INTEGER NOT NULL,\n"
                       "  same_as INTEGER REFERENCES pulls(id));\n"
                       "CREATE INDEX IF NOT EXISTS pulls_by_name ON pulls(name, id);\n"
                       "CREATE TABLE IF NOT EXISTS tables (\n"
                       "  version INTEGER PRIMARY KEY REFERENCES pulls(id),\n"
                       "  kcsv BLOB NOT NULL);\n"
                       "CREATE TABLE IF NOT EXISTS fields (\n"
                       "  version INTEGER NOT NULL REFERENCES pulls(id),\n"
                       "  field INTEGER NOT NULL,\n"
                       "  title TEXT NOT NULL,\n"
                       "  PRIMARY KEY (version, field)) WITHOUT ROWID;\n"
                       "CREATE TABLE IF NOT EXISTS cells (\n"
                       "  version INTEGER NOT NULL REFERENCES pulls(id),\n"
                       "  record INTEGER NOT NULL,\n"
                       "  field INTEGER NOT NULL,\n"
                       "  value TEXT NOT NULL,\n"
                       "  PRIMARY KEY (version, record, field)) WITHOUT ROWID;\n";

const char kColumns[] = "id, pulled, port, link, name, records, size, coalesce(same_as, 0)";

bool Fail(sqlite3* db, std::string* error)
{
    *error = sqlite3_errmsg(db);
    return false;
}

bool Exec(sqlite3* db, const std::string& sql, std::string* error)
{
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK || Fail(db, error);
}

// One statement with its text parameters bound in order; the caller steps
// and finalizes it.
sqlite3_stmt* Prepare(sqlite3* db, const std::string& sql, const std::vector<std::string>& texts = {})
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        return nullptr;
    for (size_t i = 0; i < texts.size(); i++)
        sqlite3_bind_text(st, (int)i + 1, texts[i].data(), (int)texts[i].size(), SQLITE_TRANSIENT);
    return st;
}

std::string Text(sqlite3_stmt* st, int column)
{
    const void* p = sqlite3_column_blob(st, column);
    return p ? std::string((const char*)p, sqlite3_column_bytes(st, column)) : std::string();
}

ArchiveEntry EntryOf(sqlite3_stmt* st)
{
    ArchiveEntry e;
    e.id = (long)sqlite3_column_int64(st, 0);
    e.pulled = Text(st, 1);
    e.port = Text(st, 2);
    e.link = Text(st, 3);
    e.name = Text(st, 4);
    e.records = (long)sqlite3_column_int64(st, 5);
    e.size = (long)sqlite3_column_int64(st, 6);
    e.sameAs = (long)sqlite3_column_int64(st, 7);
    return e;
}

// An identifier (quote '"') or a string literal (quote '\'') for SQL text.
std::string Quoted(const std::string& text, char quote)
{
    std::string q(1, quote);
    for (char c : text)
        q += c == quote ? std::string(2, c) : std::string(1, c);
    return q + quote;
}

std::string Folded(const std::string& name)
{
    std::string f = name;
    for (char& c : f)
        c = (char)tolower((unsigned char)c);
    return f;
}

// Column names for a view: what SQLite tells apart (ASCII case ignored),
// the empty title named by its place.
std::vector<std::string> ColumnNames(const std::vector<std::string>& titles)
{
    std::set<std::string> taken = {"version", "record"};
    std::vector<std::string> names;
    for (size_t i = 0; i < titles.size(); i++) {
        std::string base = titles[i].empty() ? "field " + std::to_string(i + 1) : titles[i], name = base;
        for (int n = 2; taken.count(Folded(name)); n++)
            name = base + " (" + std::to_string(n) + ")";
        taken.insert(Folded(name));
        names.push_back(name);
    }
    return names;
}

// A view named after the table, over its stored versions, with the latest
// version's titles as its columns.
bool MakeView(sqlite3* db, const DecodedTable& table, std::string* error)
{
    std::string view = table.name.empty() ? "table" : table.name;
    static const std::set<std::string> ours = {"pulls", "tables", "fields", "cells", "pulls_by_name"};
    if (ours.count(Folded(view)) || Folded(view).rfind("sqlite_", 0) == 0)
        view += " (table)";
    std::string sql = "DROP VIEW IF EXISTS " + Quoted(view, '"') + ";\nCREATE VIEW " + Quoted(view, '"') +
                      " AS SELECT version, record";
    std::vector<std::string> names = ColumnNames(table.titles);
    for (size_t i = 0; i < names.size(); i++)
        sql += ",\n  max(CASE field WHEN " + std::to_string(i + 1) + " THEN value END) AS " +
               Quoted(names[i], '"');
    sql += "\nFROM cells WHERE version IN (SELECT id FROM pulls WHERE name = " + Quoted(table.name, '\'') +
           " AND same_as IS NULL)\nGROUP BY version, record;";
    return Exec(db, sql, error);
}

bool StepDone(sqlite3* db, sqlite3_stmt* st, std::string* error)
{
    bool ok = st && sqlite3_step(st) == SQLITE_DONE;
    sqlite3_finalize(st);
    return ok || Fail(db, error);
}

// One row: the numbers, then the text, as its parameters.
bool Insert(sqlite3_stmt* st, const std::vector<sqlite3_int64>& numbers, std::string_view text)
{
    for (size_t i = 0; i < numbers.size(); i++)
        sqlite3_bind_int64(st, (int)i + 1, numbers[i]);
    sqlite3_bind_text(st, (int)numbers.size() + 1, text.data(), (int)text.size(), SQLITE_STATIC);
    return sqlite3_step(st) == SQLITE_DONE && sqlite3_reset(st) == SQLITE_OK;
}

bool StoreRecords(sqlite3* db, long id, const DecodedTable& table, std::string* error)
{
    sqlite3_stmt* fields = Prepare(db, "INSERT INTO fields VALUES (?1, ?2, ?3)");
    sqlite3_stmt* cells = Prepare(db, "INSERT INTO cells VALUES (?1, ?2, ?3, ?4)");
    bool ok = fields && cells;
    for (size_t f = 0; ok && f < table.titles.size(); f++)
        ok = Insert(fields, {id, (sqlite3_int64)f + 1}, table.titles[f]);
    for (size_t r = 0; r < table.records; r++)
        for (size_t f = 0; ok && f < table.titles.size(); f++)
            ok = Insert(cells, {id, (sqlite3_int64)r + 1, (sqlite3_int64)f + 1}, CellOf(table, r, f));
    if (!ok)
        Fail(db, error);
    sqlite3_finalize(fields);
    sqlite3_finalize(cells);
    return ok;
}

// The version the last pull of this name holds or equals; 0 when none.
long LastVersionOf(sqlite3* db, const std::string& name, std::string* kcsv)
{
    sqlite3_stmt* st = Prepare(db,
                               "SELECT t.version, t.kcsv FROM pulls p JOIN tables t ON t.version = "
                               "coalesce(p.same_as, p.id) WHERE p.name = ?1 ORDER BY p.id DESC LIMIT 1",
                               {name});
    long id = 0;
    if (st && sqlite3_step(st) == SQLITE_ROW) {
        id = (long)sqlite3_column_int64(st, 0);
        *kcsv = Text(st, 1);
    }
    sqlite3_finalize(st);
    return id;
}

bool Store(sqlite3* db, const std::string& kcsv, const DecodedTable& table, ArchiveEntry* e,
           std::string* error)
{
    std::string last;
    long same = LastVersionOf(db, table.name, &last);
    e->sameAs = same && SameApartFromStamps(last, kcsv) ? same : 0;
    e->name = table.name;
    e->records = (long)table.records;
    e->size = (long)kcsv.size();
    sqlite3_stmt* st = Prepare(db,
                               "INSERT INTO pulls (pulled, port, link, name, records, size, same_as) "
                               "VALUES (?1, ?2, ?3, ?4, ?5, ?6, nullif(?7, 0))",
                               {e->pulled, e->port, e->link, e->name});
    if (st) {
        sqlite3_bind_int64(st, 5, e->records);
        sqlite3_bind_int64(st, 6, e->size);
        sqlite3_bind_int64(st, 7, e->sameAs);
    }
    if (!StepDone(db, st, error))
        return false;
    e->id = (long)sqlite3_last_insert_rowid(db);
    if (e->sameAs)
        return true;
    st = Prepare(db, "INSERT INTO tables VALUES (?1, ?2)");
    if (st) {
        sqlite3_bind_int64(st, 1, e->id);
        sqlite3_bind_blob(st, 2, kcsv.data(), (int)kcsv.size(), SQLITE_STATIC);
    }
    return StepDone(db, st, error) && StoreRecords(db, e->id, table, error) && MakeView(db, table, error);
}

bool MakeFolders(const std::string& path, std::string* error)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
            *error = folder + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

// journal_mode answers with the mode it is in: "wal", or the old one when
// it could not change.
bool OpenForWriting(const std::string& path, sqlite3** db, std::string* error)
{
    if (sqlite3_open_v2(path.c_str(), db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        int sys = sqlite3_system_errno(*db);
        *error = std::string(sqlite3_errmsg(*db)) + (sys ? std::string(": ") + strerror(sys) : "");
        return false;
    }
    sqlite3_busy_timeout(*db, 10000);
    sqlite3_stmt* st = Prepare(*db, "PRAGMA journal_mode=WAL");
    int rc = st ? sqlite3_step(st) : SQLITE_ERROR;
    bool wal = rc == SQLITE_ROW && Text(st, 0) == "wal";
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW)
        return Fail(*db, error);
    if (!wal)
        *error = "cannot keep its write-ahead log";
    return wal;
}

}   // namespace

bool ArchiveTable(const std::string& path, const std::string& kcsv, const DecodedTable& table,
                  ArchiveEntry* entry, std::string* error)
{
    if (!MakeFolders(path, error))
        return false;
    sqlite3* db = nullptr;
    bool ok = OpenForWriting(path, &db, error) && Exec(db, "BEGIN IMMEDIATE", error);
    if (ok &&
        !(Exec(db, kSchema, error) && Store(db, kcsv, table, entry, error) && Exec(db, "COMMIT", error))) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        ok = false;
    }
    sqlite3_close(db);
    return ok;
}

bool OpenArchive(const std::string& path, sqlite3** db, std::string* error)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        *error = path + ": no archive there: " + strerror(errno);
        return false;
    }
    // Opened for writing but refusing every write: only a connection that
    // may write can, as the archive's last, checkpoint the log on close and
    // remove it with its shared-memory file, which a read-only one leaves
    // beside the archive. An archive the user may not write opens read-only.
    if (sqlite3_open_v2(path.c_str(), db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_busy_timeout(*db, 2000) != SQLITE_OK ||
        sqlite3_exec(*db, "PRAGMA query_only=ON", nullptr, nullptr, nullptr) != SQLITE_OK) {
        *error = path + ": " + sqlite3_errmsg(*db);
        sqlite3_close(*db);
        return false;
    }
    // A file that is no archive shows at the first read.
    sqlite3_stmt* check = Prepare(*db, "SELECT count(*) FROM pulls");
    bool ok = check && sqlite3_step(check) == SQLITE_ROW;
    sqlite3_finalize(check);
    if (!ok) {
        *error = path + ": not an archive of kiv: " + sqlite3_errmsg(*db);
        sqlite3_close(*db);
    }
    return ok;
}

void CloseArchive(sqlite3* db) { sqlite3_close(db); }

bool ArchiveHistory(sqlite3* db, const std::string& name, std::vector<ArchiveEntry>* entries,
                    std::string* error)
{
    std::string sql = std::string("SELECT ") + kColumns + " FROM pulls";
    sqlite3_stmt* st = Prepare(db, sql + (name.empty() ? "" : " WHERE name = ?1") + " ORDER BY id",
                               name.empty() ? std::vector<std::string>() : std::vector<std::string>{name});
    int rc = SQLITE_ERROR;
    while (st && (rc = sqlite3_step(st)) == SQLITE_ROW)
        entries->push_back(EntryOf(st));
    sqlite3_finalize(st);
    return rc == SQLITE_DONE || Fail(db, error);
}

namespace {

// A stored version's bytes as a stream, read a piece at a time from the
// archive, so that a long table is never held whole to be decoded.
struct BlobStream {
    sqlite3_blob* blob;
    int size, at;
};

ssize_t ReadBlob(void* cookie, char* buffer, size_t n)
{
    BlobStream* b = (BlobStream*)cookie;
    int count = (int)std::min(n, (size_t)(b->size - b->at));
    if (count > 0 && sqlite3_blob_read(b->blob, buffer, count, b->at) != SQLITE_OK) {
        errno = EIO;
        return -1;
    }
    b->at += count;
    return count;
}

int CloseBlob(void* cookie)
{
    BlobStream* b = (BlobStream*)cookie;
    sqlite3_blob_close(b->blob);
    delete b;
    return 0;
}

}   // namespace

bool ArchiveVersionStream(sqlite3* db, long id, ArchiveEntry* entry, FILE** bytes, std::string* error)
{
    sqlite3_stmt* st = Prepare(db, std::string("SELECT ") + kColumns +
                                       ", coalesce(same_as, id) FROM pulls WHERE id = ?1");
    if (st)
        sqlite3_bind_int64(st, 1, id);
    int rc = st ? sqlite3_step(st) : SQLITE_ERROR;
    sqlite3_int64 version = 0;
    if (rc == SQLITE_ROW) {
        *entry = EntryOf(st);
        version = sqlite3_column_int64(st, 8);
    }
    sqlite3_finalize(st);
    if (rc == SQLITE_DONE)
        *error = "no version " + std::to_string(id) + " in the archive (kiv history lists them)";
    if (rc != SQLITE_ROW)
        return rc != SQLITE_DONE && Fail(db, error);
    BlobStream* b = new BlobStream{nullptr, 0, 0};
    if (sqlite3_blob_open(db, "main", "tables", "kcsv", version, 0, &b->blob) != SQLITE_OK) {
        delete b;
        return Fail(db, error);
    }
    b->size = sqlite3_blob_bytes(b->blob);
    *bytes = fopencookie(b, "rb", cookie_io_functions_t{ReadBlob, nullptr, nullptr, CloseBlob});
    if (!*bytes) {
        CloseBlob(b);
        *error = std::string("cannot read the archive: ") + strerror(errno);
    }
    return *bytes != nullptr;
}

bool ArchiveVersion(sqlite3* db, long id, ArchiveEntry* entry, std::string* kcsv, std::string* error)
{
    std::string sql =
        std::string("SELECT ") + kColumns +
        ", (SELECT kcsv FROM tables WHERE version = coalesce(same_as, id)) FROM pulls WHERE id = ?1";
    sqlite3_stmt* st = Prepare(db, sql);
    if (st)
        sqlite3_bind_int64(st, 1, id);
    int rc = st ? sqlite3_step(st) : SQLITE_ERROR;
    if (rc == SQLITE_ROW) {
        *entry = EntryOf(st);
        *kcsv = Text(st, 8);
    }
    sqlite3_finalize(st);
    if (rc == SQLITE_DONE)
        *error = "no version " + std::to_string(id) + " in the archive (kiv history lists them)";
    return rc == SQLITE_ROW || (rc != SQLITE_DONE && Fail(db, error));
}

bool LastPulledName(sqlite3* db, std::string* name, std::string* error)
{
    sqlite3_stmt* st = Prepare(db, "SELECT name FROM pulls ORDER BY id DESC LIMIT 1");
    int rc = st ? sqlite3_step(st) : SQLITE_ERROR;
    *name = rc == SQLITE_ROW ? Text(st, 0) : "";
    sqlite3_finalize(st);
    return rc == SQLITE_ROW || rc == SQLITE_DONE || Fail(db, error);
}

bool ArchiveTableNames(sqlite3* db, std::vector<std::string>* names, std::string* error)
{
    sqlite3_stmt* st = Prepare(db, "SELECT name FROM pulls GROUP BY name ORDER BY min(id)");
    int rc = SQLITE_ERROR;
    while (st && (rc = sqlite3_step(st)) == SQLITE_ROW)
        names->push_back(Text(st, 0));
    sqlite3_finalize(st);
    return rc == SQLITE_DONE || Fail(db, error);
}

bool LatestVersions(sqlite3* db, const std::string& name, int count, std::vector<long>* ids,
                    std::string* error)
{
    sqlite3_stmt* st = Prepare(
        db, "SELECT id FROM pulls WHERE name = ?1 AND same_as IS NULL ORDER BY id DESC LIMIT ?2", {name});
    if (st)
        sqlite3_bind_int(st, 2, count);
    int rc = SQLITE_ERROR;
    while (st && (rc = sqlite3_step(st)) == SQLITE_ROW)
        ids->push_back((long)sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    return rc == SQLITE_DONE || Fail(db, error);
}
