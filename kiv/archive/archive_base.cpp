// The archive's side of a table CSV's base: which pull a table's bytes came
// from, the hash its schema names, and the pulls that came after it, which
// push compares with the base before it replaces the handheld's table.
// The archive keeps no hash of its own: a version is found by its size and
// confirmed by its bytes, so a file of another size costs one query.
#include <sqlite3.h>
#include "archive.h"
#include "table_model.h"

namespace {

bool Failed(sqlite3* db, std::string* error)
{
    *error = sqlite3_errmsg(db);
    return false;
}

sqlite3_stmt* Statement(sqlite3* db, const char* sql)
{
    sqlite3_stmt* st = nullptr;
    return sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK ? st : nullptr;
}

// The stored versions of size bytes, newest first.
bool VersionsOfSize(sqlite3* db, long size, int count, std::vector<long>* ids, std::string* error)
{
    sqlite3_stmt* st = Statement(
        db, "SELECT id FROM pulls WHERE size = ?1 AND same_as IS NULL ORDER BY id DESC LIMIT ?2");
    if (st) {
        sqlite3_bind_int64(st, 1, size);
        sqlite3_bind_int(st, 2, count);
    }
    int rc = SQLITE_ERROR;
    while (st && (rc = sqlite3_step(st)) == SQLITE_ROW)
        ids->push_back((long)sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    return rc == SQLITE_DONE || Failed(db, error);
}

// The newest pull that holds or equals version.
bool NewestPullOf(sqlite3* db, long version, long* pull, std::string* error)
{
    sqlite3_stmt* st = Statement(db, "SELECT max(id) FROM pulls WHERE coalesce(same_as, id) = ?1");
    if (st)
        sqlite3_bind_int64(st, 1, version);
    int rc = st ? sqlite3_step(st) : SQLITE_ERROR;
    *pull = rc == SQLITE_ROW ? (long)sqlite3_column_int64(st, 0) : 0;
    sqlite3_finalize(st);
    return rc == SQLITE_ROW || Failed(db, error);
}

}   // namespace

bool ArchivedHash(sqlite3* db, long id, std::string* hash, std::string* error)
{
    ArchiveEntry entry;
    std::string kcsv;
    if (!ArchiveVersion(db, id, &entry, &kcsv, error))
        return false;
    *hash = TableHash(kcsv);
    return true;
}

bool AnyVersionOfSize(sqlite3* db, long size, bool* any, std::string* error)
{
    std::vector<long> ids;
    if (!VersionsOfSize(db, size, 1, &ids, error))
        return false;
    *any = !ids.empty();
    return true;
}

bool PullHoldingBytes(sqlite3* db, const std::string& kcsv, long* id, std::string* hash, std::string* error)
{
    *id = 0;
    hash->clear();
    std::vector<long> ids;
    if (!VersionsOfSize(db, (long)kcsv.size(), -1, &ids, error))
        return false;
    // Versions of one size are rare beyond a table pulled unchanged in
    // length: each is read only until one matches byte for byte. A file
    // equal to one apart from its stamps (a table written again, or a pull
    // the archive keeps as the version before) is that version when none
    // matches exactly.
    long restamped = 0;
    std::string restampedHash;
    for (long version : ids) {
        ArchiveEntry entry;
        std::string bytes;
        if (!ArchiveVersion(db, version, &entry, &bytes, error))
            return false;
        if (bytes == kcsv) {
            *hash = TableHash(bytes);
            return NewestPullOf(db, version, id, error);
        }
        if (!restamped && SameApartFromStamps(bytes, kcsv)) {
            restamped = version;
            restampedHash = TableHash(bytes);
        }
    }
    if (!restamped)
        return true;
    // The hash is the stored bytes', as push checks the base against them.
    *hash = restampedHash;
    return NewestPullOf(db, restamped, id, error);
}

bool NewestPullAfter(sqlite3* db, const std::string& name, long id, long* pull, long* version,
                     std::string* error)
{
    sqlite3_stmt* st = Statement(db,
                                 "SELECT id, coalesce(same_as, id) FROM pulls WHERE name = ?1 AND id > ?2 "
                                 "ORDER BY id DESC LIMIT 1");
    if (st) {
        sqlite3_bind_text(st, 1, name.data(), (int)name.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int64(st, 2, id);
    }
    int rc = st ? sqlite3_step(st) : SQLITE_ERROR;
    *pull = rc == SQLITE_ROW ? (long)sqlite3_column_int64(st, 0) : 0;
    *version = rc == SQLITE_ROW ? (long)sqlite3_column_int64(st, 1) : 0;
    sqlite3_finalize(st);
    return rc == SQLITE_ROW || rc == SQLITE_DONE || Failed(db, error);
}
