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
#include <map>
#include <set>
#include <unordered_map>
#include "archive.h"
#include "archive_pieces.h"

namespace {

// A version's bytes are its pieces (archive_pieces.h) in the order its
// lists give; its records are the table's distinct decoded records, each
// kept once with its cells (a JSON array, as the views read it), and spans
// that say from which version to which a record was in the table. So a
// version that changes k records costs about k pieces, k records and 2k
// spans, whatever the table's length. A piece or a record is known again
// in the version after it (and within its own), not from further back: one
// that comes back after a version without it is stored again, which costs
// what it changed and spares the archive an index of every piece.
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
                       "CREATE TABLE IF NOT EXISTS pieces (\n"
                       "  id INTEGER PRIMARY KEY,\n"
                       "  bytes BLOB NOT NULL);\n"
                       "CREATE TABLE IF NOT EXISTS versions (\n"
                       "  version INTEGER PRIMARY KEY REFERENCES pulls(id),\n"
                       "  base INTEGER REFERENCES versions(version),\n"
                       "  depth INTEGER NOT NULL,\n"
                       "  pieces BLOB NOT NULL,\n"
                       "  stamps BLOB NOT NULL);\n"
                       "CREATE TABLE IF NOT EXISTS fields (\n"
                       "  version INTEGER NOT NULL REFERENCES pulls(id),\n"
                       "  field INTEGER NOT NULL,\n"
                       "  title TEXT NOT NULL,\n"
                       "  PRIMARY KEY (version, field)) WITHOUT ROWID;\n"
                       "CREATE TABLE IF NOT EXISTS records (\n"
                       "  id INTEGER PRIMARY KEY,\n"
                       "  cells TEXT NOT NULL);\n"
                       "CREATE TABLE IF NOT EXISTS spans (\n"
                       "  record INTEGER NOT NULL REFERENCES records(id),\n"
                       "  first INTEGER NOT NULL REFERENCES pulls(id),\n"
                       "  last INTEGER REFERENCES pulls(id));\n";

// The archive's format, as user_version: 0 was kiv 1.0.0's, a version's
// bytes and cells stored whole in tables "tables" and "cells".
const int kFormat = 2;
// Names the format of 1.0.0 used, left as views of a table that is gone:
// a kiv that still writes or reads them fails on its first statement with
// this name in its message, and changes nothing.
const char kRefuseOlder[] =
    "CREATE TABLE \"archive written by a newer kiv\" (x);\n"
    "CREATE VIEW tables AS SELECT x AS version, x AS kcsv FROM \"archive written by a newer kiv\";\n"
    "CREATE VIEW cells AS SELECT x AS version, x AS record, x AS field, x AS value\n"
    "  FROM \"archive written by a newer kiv\";\n"
    "DROP TABLE \"archive written by a newer kiv\";\n";
// A version's list is written as the changes from the version before, up to
// this many in a row; then whole again, so that reading any version decodes
// a bounded chain.
const int kMaxDepth = 50;

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

// The view of a table: its name, or with " (table)" when it is one of the
// archive's own; a name SQLite takes for that of a table pulled before
// (ASCII case aside) gets " (2)", " (3)"..., so every table keeps its view
// and no view changes its name later.
bool ViewName(sqlite3* db, const std::string& name, std::string* view, std::string* error)
{
    static const std::set<std::string> ours = {"pulls",    "tables",  "fields", "cells",        "pieces",
                                               "versions", "records", "spans",  "pulls_by_name"};
    std::set<std::string> taken(ours);
    std::vector<std::string> tables;
    if (!ArchiveTableNames(db, &tables, error))
        return false;
    for (const std::string& table : tables) {
        std::string base = table.empty() ? "table" : table;
        if (ours.count(Folded(base)) || Folded(base).rfind("sqlite_", 0) == 0)
            base += " (table)";
        std::string v = base;
        for (int n = 2; taken.count(Folded(v)); n++)
            v = base + " (" + std::to_string(n) + ")";
        taken.insert(Folded(v));
        if (table == name) {
            *view = v;
            return true;
        }
    }
    return Fail(db, error);
}

// A view named after the table, over its stored versions, with the latest
// version's titles as its columns: a row for each record of each version,
// the record given by its number in the archive.
bool MakeView(sqlite3* db, const DecodedTable& table, std::string* error)
{
    std::string view;
    if (!ViewName(db, table.name, &view, error))
        return false;
    std::string sql = "DROP VIEW IF EXISTS " + Quoted(view, '"') + ";\nCREATE VIEW " + Quoted(view, '"') +
                      " AS SELECT p.id AS version, s.record AS record";
    std::vector<std::string> names = ColumnNames(table.titles);
    for (size_t i = 0; i < names.size(); i++)
        sql += ",\n  json_extract(r.cells, '$[" + std::to_string(i) + "]') AS " + Quoted(names[i], '"');
    sql += "\nFROM pulls p JOIN spans s ON s.first <= p.id AND coalesce(s.last >= p.id, 1)"
           "\nJOIN pulls f ON f.id = s.first AND f.name = p.name JOIN records r ON r.id = s.record"
           "\nWHERE p.name = " +
           Quoted(table.name, '\'') + " AND p.same_as IS NULL\nORDER BY p.id, s.record;";
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

// The statements a version is read and stored with, prepared once.
struct Statements {
    sqlite3* db = nullptr;
    sqlite3_stmt *pieceById = nullptr, *newPiece = nullptr, *newRecord = nullptr, *newSpan = nullptr,
                 *endSpan = nullptr;
};

Statements StatementsOf(sqlite3* db)
{
    Statements st;
    st.db = db;
    return st;
}

sqlite3_stmt* Prepared(sqlite3_stmt** slot, sqlite3* db, const char* sql)
{
    if (!*slot)
        *slot = Prepare(db, sql);
    if (*slot)
        sqlite3_reset(*slot);
    return *slot;
}

void Finish(Statements* st)
{
    for (sqlite3_stmt* s : {st->pieceById, st->newPiece, st->newRecord, st->newSpan, st->endSpan})
        sqlite3_finalize(s);
}

// A version as stored: the id of each line's piece, and of the stamp cut
// out of it (0 for none).
struct VersionLists {
    std::vector<int64_t> lines, stamps;
};

// A stored version's lists: its chain of changes from the last whole
// lists, read back to front and applied front to back.
bool VersionList(sqlite3* db, sqlite3_int64 version, VersionLists* lists, int* depth, std::string* error)
{
    std::vector<std::pair<std::string, std::string>> codes;
    sqlite3_stmt* st = Prepare(db, "SELECT base, depth, pieces, stamps FROM versions WHERE version = ?1");
    if (!st)
        return Fail(db, error);
    *depth = -1;
    std::string damaged = "version " + std::to_string(version) + " is damaged in the archive";
    for (sqlite3_int64 at = version; at;) {
        sqlite3_reset(st);
        sqlite3_bind_int64(st, 1, at);
        if (sqlite3_step(st) != SQLITE_ROW || codes.size() > (size_t)kMaxDepth) {
            sqlite3_finalize(st);
            *error = damaged;
            return false;
        }
        if (*depth < 0)
            *depth = sqlite3_column_int(st, 1);
        at = sqlite3_column_int64(st, 0);
        codes.emplace_back(Text(st, 2), Text(st, 3));
    }
    sqlite3_finalize(st);
    VersionLists base, next;
    for (size_t k = codes.size(); k-- > 0;) {
        if (!DecodeIdList(base.lines, codes[k].first, &next.lines) ||
            !DecodeIdList(base.stamps, codes[k].second, &next.stamps) ||
            next.lines.size() != next.stamps.size()) {
            *error = damaged;
            return false;
        }
        std::swap(base, next);
    }
    *lists = std::move(base);
    return true;
}

bool PieceBytes(Statements* st, int64_t id, std::string* out, std::string* error)
{
    sqlite3_stmt* q = Prepared(&st->pieceById, st->db, "SELECT bytes FROM pieces WHERE id = ?1");
    if (!q)
        return Fail(st->db, error);
    sqlite3_bind_int64(q, 1, id);
    if (sqlite3_step(q) != SQLITE_ROW) {
        *error = "a piece of a version is missing from the archive";
        return false;
    }
    out->append((const char*)sqlite3_column_blob(q, 0), sqlite3_column_bytes(q, 0));
    return true;
}

// A line of a version as received, from its piece and its stamp's (0 for
// none), appended to out; the stamps read so far are kept in stamps, as a
// table has few.
bool PieceLine(Statements* st, int64_t piece, int64_t stampId, std::map<int64_t, std::string>* stamps,
               std::string* out, std::string* error)
{
    size_t from = out->size();
    if (!PieceBytes(st, piece, out, error))
        return false;
    if (!stampId)
        return true;
    auto known = stamps->find(stampId);
    if (known == stamps->end()) {
        std::string stamp;
        if (!PieceBytes(st, stampId, &stamp, error))
            return false;
        known = stamps->emplace(stampId, stamp).first;
    }
    size_t place = StampPlace(std::string_view(*out).substr(from));
    if (place == std::string_view::npos) {
        *error = "a line of a version is damaged in the archive";
        return false;
    }
    out->insert(from + place, known->second);
    return true;
}

bool LineBytes(Statements* st, const VersionLists& lists, size_t i, std::map<int64_t, std::string>* stamps,
               std::string* out, std::string* error)
{
    return PieceLine(st, lists.lines[i], lists.stamps[i], stamps, out, error);
}

bool VersionBytes(Statements* st, const VersionLists& lists, std::string* bytes, std::string* error)
{
    bytes->clear();
    std::map<int64_t, std::string> stamps;
    for (size_t i = 0; i < lists.lines.size(); i++)
        if (!LineBytes(st, lists, i, &stamps, bytes, error))
            return false;
    return true;
}

// One value inserted by the statement in slot (sql, its one parameter),
// and the new row's id. A record's cells go in as text, which the views'
// JSON functions read; a piece's bytes as a blob.
bool InsertValue(Statements* st, sqlite3_stmt** slot, const char* sql, std::string_view value, bool text,
                 int64_t* id, std::string* error)
{
    sqlite3_stmt* q = Prepared(slot, st->db, sql);
    if (!q)
        return Fail(st->db, error);
    if (text)
        sqlite3_bind_text(q, 1, value.data(), (int)value.size(), SQLITE_STATIC);
    else
        sqlite3_bind_blob(q, 1, value.data(), (int)value.size(), SQLITE_STATIC);
    if (sqlite3_step(q) != SQLITE_DONE)
        return Fail(st->db, error);
    *id = sqlite3_last_insert_rowid(st->db);
    return true;
}

const char kNewPiece[] = "INSERT INTO pieces (bytes) VALUES (?1)";
const char kNewRecord[] = "INSERT INTO records (cells) VALUES (?1)";

// The last stored version of a table, as the next one is written against.
struct LastVersion {
    sqlite3_int64 id = 0;   // 0: none
    std::string bytes;
    VersionLists lists;
    int depth = 0;
};

// The version the last pull of this name holds or equals.
bool LastVersionOf(Statements* st, const std::string& name, LastVersion* last, std::string* error)
{
    sqlite3_stmt* q = Prepare(st->db,
                              "SELECT coalesce(same_as, id) FROM pulls WHERE name = ?1 "
                              "ORDER BY id DESC LIMIT 1",
                              {name});
    int rc = q ? sqlite3_step(q) : SQLITE_ERROR;
    last->id = rc == SQLITE_ROW ? sqlite3_column_int64(q, 0) : 0;
    sqlite3_finalize(q);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return Fail(st->db, error);
    return !last->id || (VersionList(st->db, last->id, &last->lists, &last->depth, error) &&
                         VersionBytes(st, last->lists, &last->bytes, error));
}

// A line as its piece is stored: without its stamp, which goes to stamp.
std::string_view CutLine(std::string_view line, std::string* room, std::string_view* stamp)
{
    size_t at = StampAt(line);
    *stamp = {};
    if (at == std::string_view::npos)
        return line;
    *stamp = line.substr(at, kStampSize);
    room->assign(line.substr(0, at));
    room->append(line.substr(at + kStampSize));
    return *room;
}

// The version's bytes: a line the last version has is known by its bytes
// (its place there kept, not a copy), a stamp also when this version had it
// already; the others are stored. The lists as changes from the last
// version's when that is shorter and the chain allows.
bool StoreBytes(Statements* st, sqlite3_int64 version, const std::string& kcsv, const LastVersion& last,
                VersionLists* lists, int* depthOut, std::string* error)
{
    std::unordered_map<PieceHash, size_t, PieceHashOf> known;   // a line's place in the last version
    std::unordered_map<std::string, int64_t> stampIds;          // few: a table written at once has one
    std::string room, lastRoom;
    std::string_view stamp, lastStamp;
    std::vector<std::string_view> lastLines = CutPieces(last.bytes);
    for (size_t i = 0; i < lastLines.size() && i < last.lists.lines.size(); i++) {
        known.emplace(HashPiece(CutLine(lastLines[i], &room, &stamp)), i);
        if (last.lists.stamps[i])
            stampIds.emplace(std::string(stamp), last.lists.stamps[i]);
    }
    lists->lines.clear();
    lists->stamps.clear();
    for (std::string_view line : CutPieces(kcsv)) {
        std::string_view cut = CutLine(line, &room, &stamp);
        auto found = known.find(HashPiece(cut));
        int64_t id = 0, stampId = 0;
        if (found != known.end() && CutLine(lastLines[found->second], &lastRoom, &lastStamp) == cut)
            id = last.lists.lines[found->second];
        else if (!InsertValue(st, &st->newPiece, kNewPiece, cut, false, &id, error))
            return false;
        if (!stamp.empty()) {
            auto s = stampIds.find(std::string(stamp));
            if (s != stampIds.end())
                stampId = s->second;
            else if (InsertValue(st, &st->newPiece, kNewPiece, stamp, false, &stampId, error))
                stampIds.emplace(std::string(stamp), stampId);
            else
                return false;
        }
        lists->lines.push_back(id);
        lists->stamps.push_back(stampId);
    }
    std::string lines = EncodeIdList({}, lists->lines), stamps = EncodeIdList({}, lists->stamps);
    sqlite3_int64 base = 0;
    int depth = 0;
    if (last.id && last.depth < kMaxDepth) {
        std::string changedLines = EncodeIdList(last.lists.lines, lists->lines);
        std::string changedStamps = EncodeIdList(last.lists.stamps, lists->stamps);
        if (changedLines.size() + changedStamps.size() < lines.size() + stamps.size()) {
            lines.swap(changedLines);
            stamps.swap(changedStamps);
            base = last.id;
            depth = last.depth + 1;
        }
    }
    *depthOut = depth;
    sqlite3_stmt* q = Prepare(st->db, "INSERT INTO versions VALUES (?1, nullif(?2, 0), ?3, ?4, ?5)");
    if (q) {
        sqlite3_bind_int64(q, 1, version);
        sqlite3_bind_int64(q, 2, base);
        sqlite3_bind_int(q, 3, depth);
        sqlite3_bind_blob(q, 4, lines.data(), (int)lines.size(), SQLITE_STATIC);
        sqlite3_bind_blob(q, 5, stamps.data(), (int)stamps.size(), SQLITE_STATIC);
    }
    return StepDone(st->db, q, error);
}

// The record's cells as a JSON array of strings, as the views read them.
void CellsOf(const DecodedTable& table, size_t r, std::string* json)
{
    json->assign("[");
    for (size_t f = 0; f < table.titles.size(); f++) {
        *json += f ? ",\"" : "\"";
        for (unsigned char c : CellOf(table, r, f)) {
            if (c == '"' || c == '\\') {
                *json += '\\';
                *json += (char)c;
            } else if (c < 0x20) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\u%04x", c);
                *json += escaped;
            } else {
                *json += (char)c;
            }
        }
        *json += '"';
    }
    *json += ']';
}

// The version's records: a record the last version had keeps its open span
// (known by a 128-bit sum of its cells); the others open one; the spans no
// record took end at the last version.
bool StoreRecords(Statements* st, sqlite3_int64 version, const DecodedTable& table, sqlite3_int64 lastId,
                  bool titles, std::string* error)
{
    sqlite3* db = st->db;
    sqlite3_stmt* fields = titles ? Prepare(db, "INSERT INTO fields VALUES (?1, ?2, ?3)") : nullptr;
    bool ok = !titles || fields != nullptr;
    for (size_t f = 0; titles && ok && f < table.titles.size(); f++)
        ok = Insert(fields, {version, (sqlite3_int64)f + 1}, table.titles[f]);
    sqlite3_finalize(fields);
    if (!ok)
        return Fail(db, error);
    std::unordered_map<PieceHash, std::vector<sqlite3_int64>, PieceHashOf> open;
    sqlite3_stmt* q = Prepare(db,
                              "SELECT s.rowid, r.cells FROM spans s JOIN pulls f ON f.id = s.first "
                              "JOIN records r ON r.id = s.record "
                              "WHERE f.name = ?1 AND s.last IS NULL ORDER BY s.rowid DESC",
                              {table.name});
    int rc = SQLITE_ERROR;
    while (q && (rc = sqlite3_step(q)) == SQLITE_ROW)
        open[HashPiece(Text(q, 1))].push_back(sqlite3_column_int64(q, 0));
    sqlite3_finalize(q);
    if (rc != SQLITE_DONE)
        return Fail(db, error);
    std::string cells;
    std::unordered_map<PieceHash, int64_t, PieceHashOf> added;   // a record met twice in this version
    for (size_t r = 0; r < table.records; r++) {
        CellsOf(table, r, &cells);
        PieceHash h = HashPiece(cells);
        auto kept = open.find(h);
        if (kept != open.end() && !kept->second.empty()) {
            kept->second.pop_back();
            continue;
        }
        int64_t id = 0;
        auto again = added.find(h);
        if (again != added.end())
            id = again->second;
        else if (InsertValue(st, &st->newRecord, kNewRecord, cells, true, &id, error))
            added.emplace(h, id);
        else
            return false;
        q = Prepared(&st->newSpan, db, "INSERT INTO spans (record, first) VALUES (?1, ?2)");
        if (!q)
            return Fail(db, error);
        sqlite3_bind_int64(q, 1, id);
        sqlite3_bind_int64(q, 2, version);
        if (sqlite3_step(q) != SQLITE_DONE)
            return Fail(db, error);
    }
    for (const auto& left : open)
        for (sqlite3_int64 span : left.second) {
            q = Prepared(&st->endSpan, db, "UPDATE spans SET last = ?1 WHERE rowid = ?2");
            if (!q)
                return Fail(db, error);
            sqlite3_bind_int64(q, 1, lastId);
            sqlite3_bind_int64(q, 2, span);
            if (sqlite3_step(q) != SQLITE_DONE)
                return Fail(db, error);
        }
    return true;
}

bool StoreVersion(Statements* st, sqlite3_int64 version, const std::string& kcsv, const DecodedTable* table,
                  const LastVersion& last, std::string* error)
{
    VersionLists lists;
    int depth = 0;
    return StoreBytes(st, version, kcsv, last, &lists, &depth, error) &&
           (!table ||
            (StoreRecords(st, version, *table, last.id, true, error) && MakeView(st->db, *table, error)));
}

bool Store(sqlite3* db, const std::string& kcsv, const DecodedTable& table, ArchiveEntry* e,
           std::string* error)
{
    Statements st = StatementsOf(db);
    LastVersion last;
    bool ok = LastVersionOf(&st, table.name, &last, error);
    e->sameAs = ok && last.id && SameApartFromStamps(last.bytes, kcsv) ? (long)last.id : 0;
    e->name = table.name;
    e->records = (long)table.records;
    e->size = (long)kcsv.size();
    sqlite3_stmt* q = ok ? Prepare(db,
                                   "INSERT INTO pulls (pulled, port, link, name, records, size, same_as) "
                                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6, nullif(?7, 0))",
                                   {e->pulled, e->port, e->link, e->name})
                         : nullptr;
    if (q) {
        sqlite3_bind_int64(q, 5, e->records);
        sqlite3_bind_int64(q, 6, e->size);
        sqlite3_bind_int64(q, 7, e->sameAs);
    }
    ok = ok && StepDone(db, q, error);
    if (ok) {
        e->id = (long)sqlite3_last_insert_rowid(db);
        ok = e->sameAs || StoreVersion(&st, e->id, kcsv, &table, last, error);
    }
    Finish(&st);
    return ok;
}

// The archive's format; -1 when it cannot be read.
int ArchiveFormat(sqlite3* db)
{
    sqlite3_stmt* q = Prepare(db, "PRAGMA user_version");
    int format = q && sqlite3_step(q) == SQLITE_ROW ? sqlite3_column_int(q, 0) : -1;
    sqlite3_finalize(q);
    return format;
}

bool HasTable(sqlite3* db, const char* name)
{
    sqlite3_stmt* q = Prepare(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1", {name});
    bool has = q && sqlite3_step(q) == SQLITE_ROW;
    sqlite3_finalize(q);
    return has;
}

std::string NewerFormat(int format)
{
    return "written by a newer kiv (archive format " + std::to_string(format) + "; this kiv reads " +
           std::to_string(kFormat) + " and older): use that kiv, or another archive";
}

// An archive of kiv 1.0.0, rewritten in the present format within the
// caller's transaction: every stored version in order, its bytes from the
// old table, its records decoded again as they were then.
bool Upgrade(sqlite3* db, std::string* error)
{
    Statements st = StatementsOf(db);
    std::map<std::string, LastVersion> last;
    std::map<std::string, DecodedTable> latest;
    sqlite3_stmt* q = Prepare(db,
                              "SELECT p.id, p.name, t.kcsv FROM pulls p JOIN tables t ON t.version = p.id "
                              "WHERE p.same_as IS NULL ORDER BY p.id");
    bool ok = q != nullptr;
    int rc = SQLITE_ERROR;
    while (ok && (rc = sqlite3_step(q)) == SQLITE_ROW) {
        sqlite3_int64 id = sqlite3_column_int64(q, 0);
        std::string name = Text(q, 1), kcsv = Text(q, 2), ignored;
        DecodedTable table;
        // What no longer decodes keeps its bytes; the view has no rows of it.
        bool decoded = DecodeTable(kcsv, &table, &ignored);
        table.name = name;
        LastVersion& l = last[name];
        VersionLists lists;
        int depth = 0;
        // 1.0.0 kept the titles: only the records are new.
        ok = StoreBytes(&st, id, kcsv, l, &lists, &depth, error) &&
             (!decoded || StoreRecords(&st, id, table, l.id, false, error));
        l.id = id;
        l.bytes = kcsv;
        l.lists = std::move(lists);
        l.depth = depth;
        if (decoded)
            latest[name] = std::move(table);
    }
    sqlite3_finalize(q);
    if (ok && rc != SQLITE_DONE)
        ok = Fail(db, error);
    for (auto& t : latest)
        ok = ok && MakeView(db, t.second, error);
    Finish(&st);
    return ok && Exec(db, "DROP TABLE tables; DROP TABLE cells;", error) && Exec(db, kRefuseOlder, error);
}

// Makes the archive's tables, or upgrades those of an older kiv, in the
// caller's transaction; refuses an archive of a newer kiv.
bool PrepareFormat(sqlite3* db, std::string* error)
{
    int format = ArchiveFormat(db);
    bool old = format == 0 && HasTable(db, "tables");
    if (format < 0)
        return Fail(db, error);
    if (format > kFormat) {
        *error = NewerFormat(format);
        return false;
    }
    bool fresh = format == 0 && !old;
    return Exec(db, kSchema, error) && (!old || Upgrade(db, error)) &&
           (!fresh || Exec(db, kRefuseOlder, error)) &&
           Exec(db, "PRAGMA user_version = " + std::to_string(kFormat), error);
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
        !(PrepareFormat(db, error) && Store(db, kcsv, table, entry, error) && Exec(db, "COMMIT", error))) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        ok = false;
    }
    sqlite3_close(db);
    return ok;
}

namespace {

// An archive of kiv 1.0.0 is upgraded on its first use, whatever the
// command: in one transaction, so that it is either the old archive or the
// new one, every version's bytes the same.
bool UpgradeOlder(const std::string& path, std::string* error)
{
    sqlite3* db = nullptr;
    bool ok = OpenForWriting(path, &db, error) && Exec(db, "BEGIN IMMEDIATE", error);
    if (ok && !(PrepareFormat(db, error) && Exec(db, "COMMIT", error))) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        ok = false;
    }
    sqlite3_close(db);
    return ok;
}

}   // namespace

bool OpenArchive(const std::string& path, sqlite3** db, std::string* error)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        *error = path + ": no archive there: " + strerror(errno);
        return false;
    }
    for (int pass = 0;; pass++) {
        // Opened for writing but refusing every write: only a connection
        // that may write can, as the archive's last, checkpoint the log on
        // close and remove it with its shared-memory file, which a read-only
        // one leaves beside the archive. SQLite opens a file the user may not
        // write read-only.
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
        int format = ok ? ArchiveFormat(*db) : -1;
        bool old = ok && format == 0 && HasTable(*db, "tables");
        if (!ok)
            *error = path + ": not an archive of kiv: " + sqlite3_errmsg(*db);
        else if (format > kFormat)
            *error = path + ": " + NewerFormat(format);
        if (ok && format <= kFormat && !old)
            return true;
        sqlite3_close(*db);
        if (!old || pass > 0)
            return false;
        std::string why;
        if (!UpgradeOlder(path, &why)) {
            *error = path + ": an archive of kiv 1.0.0 that could not be upgraded: " + why;
            return false;
        }
    }
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
struct PieceStream {
    Statements st;
    bool began = false;   // the read transaction this stream holds
    VersionLists lists;
    std::map<int64_t, std::string> stamps;
    size_t next = 0;
    std::string line;
    size_t at = 0;
};

ssize_t ReadPieces(void* cookie, char* buffer, size_t n)
{
    PieceStream* p = (PieceStream*)cookie;
    size_t done = 0;
    while (done < n) {
        if (p->at == p->line.size()) {
            if (p->next == p->lists.lines.size())
                break;
            p->line.clear();
            p->at = 0;
            std::string ignored;
            if (!LineBytes(&p->st, p->lists, p->next++, &p->stamps, &p->line, &ignored)) {
                errno = EIO;
                return -1;
            }
            continue;
        }
        size_t count = std::min(n - done, p->line.size() - p->at);
        memcpy(buffer + done, p->line.data() + p->at, count);
        p->at += count;
        done += count;
    }
    return (ssize_t)done;
}

int ClosePieces(void* cookie)
{
    PieceStream* p = (PieceStream*)cookie;
    Finish(&p->st);
    if (p->began)
        sqlite3_exec(p->st.db, "COMMIT", nullptr, nullptr, nullptr);
    delete p;
    return 0;
}

// The pull's entry and the stored version it holds or equals.
bool FindVersion(sqlite3* db, long id, ArchiveEntry* entry, sqlite3_int64* version, std::string* error)
{
    sqlite3_stmt* st = Prepare(db, std::string("SELECT ") + kColumns +
                                       ", coalesce(same_as, id) FROM pulls WHERE id = ?1");
    if (st)
        sqlite3_bind_int64(st, 1, id);
    int rc = st ? sqlite3_step(st) : SQLITE_ERROR;
    if (rc == SQLITE_ROW) {
        *entry = EntryOf(st);
        *version = sqlite3_column_int64(st, 8);
    }
    sqlite3_finalize(st);
    if (rc == SQLITE_DONE)
        *error = "no version " + std::to_string(id) + " in the archive (kiv history lists them)";
    return rc == SQLITE_ROW || (rc != SQLITE_DONE && Fail(db, error));
}

}   // namespace

bool ArchiveVersionStream(sqlite3* db, long id, ArchiveEntry* entry, FILE** bytes, std::string* error)
{
    sqlite3_int64 version = 0;
    int depth = 0;
    PieceStream* p = new PieceStream;
    p->st = StatementsOf(db);
    // One read transaction for the stream: each piece read alone would
    // take and drop the file's lock.
    p->began = sqlite3_get_autocommit(db) &&
               sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!FindVersion(db, id, entry, &version, error) || !VersionList(db, version, &p->lists, &depth, error)) {
        ClosePieces(p);
        return false;
    }
    *bytes = fopencookie(p, "rb", cookie_io_functions_t{ReadPieces, nullptr, nullptr, ClosePieces});
    if (!*bytes) {
        ClosePieces(p);
        *error = std::string("cannot read the archive: ") + strerror(errno);
    }
    return *bytes != nullptr;
}

bool ArchiveVersion(sqlite3* db, long id, ArchiveEntry* entry, std::string* kcsv, std::string* error)
{
    sqlite3_int64 version = 0;
    VersionLists lists;
    int depth = 0;
    Statements st = StatementsOf(db);
    bool began = sqlite3_get_autocommit(db) &&
                 sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    bool ok = FindVersion(db, id, entry, &version, error) &&
              VersionList(db, version, &lists, &depth, error) && VersionBytes(&st, lists, kcsv, error);
    Finish(&st);
    if (began)
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    return ok;
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

namespace {

// One of a version's two lists read in order: the whole code at the head of
// its chain read from the archive a window at a time, the changes after it
// held.
struct ListSource {
    sqlite3_blob* blob = nullptr;
    IdListReader* reader = nullptr;
};

size_t ReadBlob(void* source, uint64_t offset, char* room, size_t n)
{
    sqlite3_blob* blob = (sqlite3_blob*)source;
    uint64_t size = (uint64_t)sqlite3_blob_bytes(blob);
    if (offset >= size)
        return 0;
    n = (size_t)std::min<uint64_t>(n, size - offset);
    return sqlite3_blob_read(blob, room, (int)n, (int)offset) == SQLITE_OK ? n : 0;
}

bool OpenList(sqlite3* db, sqlite3_int64 version, const char* column, ListSource* list, std::string* error)
{
    std::vector<std::string> changes;
    sqlite3_stmt* st = Prepare(db,
                               std::string("SELECT base, ") + column + " FROM versions WHERE version = ?1");
    sqlite3_int64 at = version, whole = 0;
    while (st && at && !whole && changes.size() <= (size_t)kMaxDepth) {
        sqlite3_reset(st);
        sqlite3_bind_int64(st, 1, at);
        if (sqlite3_step(st) != SQLITE_ROW)
            break;
        sqlite3_int64 base = sqlite3_column_int64(st, 0);
        if (base)
            changes.push_back(Text(st, 1));
        else
            whole = at;
        at = base;
    }
    sqlite3_finalize(st);
    if (!whole || sqlite3_blob_open(db, "main", "versions", column, whole, 0, &list->blob) != SQLITE_OK) {
        *error = "version " + std::to_string(version) + " is damaged in the archive";
        return false;
    }
    std::reverse(changes.begin(), changes.end());
    list->reader = OpenIdList(ReadBlob, list->blob, changes);
    if (IdListDamaged(list->reader)) {
        *error = "version " + std::to_string(version) + " is damaged in the archive";
        return false;
    }
    return true;
}

void CloseList(ListSource* list)
{
    if (list->reader)
        CloseIdList(list->reader);
    sqlite3_blob_close(list->blob);
}

bool Tagged(std::string_view line, const char* tag) { return line.substr(0, strlen(tag)) == tag; }

// The slot'th slot of a line as it stands between its commas (0: the tag).
std::string_view Slot(std::string_view line, size_t slot)
{
    size_t at = 0;
    for (size_t k = 0; k < slot && at != std::string_view::npos; k++)
        at = line.find(',', at) == std::string_view::npos ? std::string_view::npos : line.find(',', at) + 1;
    if (at == std::string_view::npos)
        return {};
    size_t end = line.find_first_of(",\r\n", at);
    return line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
}

// Where the header's "I" record puts the sync ID; 0 for none.
size_t SyncSlotOf(const std::string& header)
{
    for (std::string_view line : CutPieces(header))
        for (size_t k = 1; Tagged(line, "\"I\",") && !Slot(line, k).empty(); k++)
            if (Slot(line, k) == "\"tPID\"")
                return k;
    return 0;
}

// A version's header, its lines up to the titles', read from its lists.
bool ReadHeader(Statements* st, ListSource lists[2], std::string* header, std::string* error)
{
    std::map<int64_t, std::string> stamps;
    for (int n = 0; n < 1000; n++) {
        int64_t piece, stamp;
        if (!NextId(lists[0].reader, &piece) || !NextId(lists[1].reader, &stamp))
            return false;
        std::string line;
        if (!PieceLine(st, piece, stamp, &stamps, &line, error))
            return false;
        *header += line;
        if (Tagged(line, "\"T\","))
            return true;
    }
    return false;
}

}   // namespace

bool ReadVersionsApart(sqlite3* db, const long ids[2], VersionsApart* apart, std::string* error)
{
    sqlite3_int64 versions[2];
    ListSource lists[2][2];
    std::string headers[2];
    Statements st = StatementsOf(db);
    sqlite3* work = nullptr;
    bool began = sqlite3_get_autocommit(db) &&
                 sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    bool ok = true, headed = true;
    for (int k = 0; k < 2 && ok; k++) {
        ok = FindVersion(db, ids[k], &apart->entries[k], &versions[k], error) &&
             OpenList(db, versions[k], "pieces", &lists[k][0], error) &&
             OpenList(db, versions[k], "stamps", &lists[k][1], error);
        headed = ok && headed && ReadHeader(&st, lists[k], &headers[k], error);
    }
    apart->usable = ok && headed && SameHeaderApartFromStamps(headers[0], headers[1]);
    // The lines after the headers, side by side in a scratch database of
    // its own (a file sqlite removes on close), which the archive's reader
    // could not write.
    sqlite3_stmt* insert = nullptr;
    if (apart->usable) {
        ok = sqlite3_open("", &work) == SQLITE_OK &&
             Exec(work,
                  "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;"
                  "CREATE TABLE lines (side INTEGER, place INTEGER, piece INTEGER, stamp INTEGER, "
                  "sync INTEGER);",
                  error) &&
             (insert = Prepare(work, "INSERT INTO lines VALUES (?1, ?2, ?3, ?4, ?5)")) != nullptr;
        if (!ok && error->empty())
            *error = work ? sqlite3_errmsg(work) : "no room for diff's scratch database";
    }
    int64_t last[2] = {0, 0}, lastStamp[2] = {0, 0};
    size_t syncSlot = apart->usable ? SyncSlotOf(headers[0]) : 0;
    std::string room;
    for (size_t place = 0; ok && apart->usable; place++) {
        int64_t piece[2] = {0, 0}, stamp[2] = {0, 0};
        bool more[2];
        for (int k = 0; k < 2; k++) {
            more[k] = NextId(lists[k][0].reader, &piece[k]);
            if (more[k] && !NextId(lists[k][1].reader, &stamp[k]))
                ok = false;
            if (more[k]) {
                apart->lines[k]++;
                last[k] = piece[k];
                lastStamp[k] = stamp[k];
                int64_t sync = 0;
                if (syncSlot) {
                    room.clear();
                    ok = ok && PieceBytes(&st, piece[k], &room, error);
                    std::string_view id = Slot(room, syncSlot);
                    sync = id.empty() ? 0 : (int64_t)HashPiece(id).a;
                }
                const int64_t values[] = {k, (int64_t)place, piece[k], stamp[k], sync};
                for (int c = 0; c < 5; c++)
                    sqlite3_bind_int64(insert, c + 1, values[c]);
                ok = ok && sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
            }
        }
        if (!more[0] && !more[1])
            break;
        if (!more[0] || !more[1] || piece[0] != piece[1])
            apart->moved++;
    }
    for (int k = 0; k < 2 && apart->usable && error->empty(); k++)
        if (!ok || IdListDamaged(lists[k][0].reader) || IdListDamaged(lists[k][1].reader)) {
            ok = false;
            *error = "version " + std::to_string(ids[k]) + " is damaged in the archive";
        }
    sqlite3_finalize(insert);
    // Records matched by sync ID pair off by their IDs, not their lines,
    // where an ID stands twice in a version: such versions are read whole.
    sqlite3_stmt* twice = ok && apart->usable && syncSlot
                              ? Prepare(work, "SELECT 1 FROM lines WHERE sync != 0 GROUP BY side, sync "
                                              "HAVING count(*) > 1 LIMIT 1")
                              : nullptr;
    if (twice && sqlite3_step(twice) == SQLITE_ROW)
        apart->usable = false;
    sqlite3_finalize(twice);
    // Each piece's k-th line in one version is the k-th in the other: what
    // is left over is what the other lacks.
    std::string kcsv[2], trailer[2];
    std::vector<size_t> places[2];
    std::map<int64_t, std::string> stamps;
    for (int k = 0; k < 2 && ok && apart->usable; k++) {
        kcsv[k] = headers[k];
        ok = !apart->lines[k] || PieceLine(&st, last[k], lastStamp[k], &stamps, &trailer[k], error);
    }
    // The pieces the two hold a different number of times, then their lines.
    sqlite3_stmt* q = ok && apart->usable &&
                              Exec(work,
                                   "CREATE TABLE uneven AS SELECT piece FROM lines GROUP BY piece "
                                   "HAVING 2 * sum(side) != count(*)",
                                   error)
                          ? Prepare(work,
                                    "SELECT side, place, piece, stamp FROM lines "
                                    "WHERE piece IN (SELECT piece FROM uneven) ORDER BY piece, side, place")
                          : nullptr;
    struct Left {
        int side;
        size_t place;
        int64_t piece, stamp;
    };
    std::vector<Left> left, group;
    int rc = q ? SQLITE_ROW : SQLITE_DONE;
    auto endGroup = [&] {
        size_t n1 = (size_t)std::count_if(group.begin(), group.end(), [](const Left& l) { return l.side; });
        size_t n0 = group.size() - n1;
        // Side 0's lines come first, each side's in order: the k-th of one
        // side pairs with the k-th of the other, the rest are left over.
        size_t from = n0 > n1 ? n1 : n0 + n0, to = n0 > n1 ? n0 : group.size();
        left.insert(left.end(), group.begin() + (long)from, group.begin() + (long)to);
        group.clear();
    };
    while (q && ok && (rc = sqlite3_step(q)) == SQLITE_ROW) {
        Left l{sqlite3_column_int(q, 0), (size_t)sqlite3_column_int64(q, 1), sqlite3_column_int64(q, 2),
               sqlite3_column_int64(q, 3)};
        if (!group.empty() && group.back().piece != l.piece)
            endGroup();
        group.push_back(l);
    }
    endGroup();
    if (q && ok && rc != SQLITE_DONE)
        ok = Fail(work, error);
    sqlite3_finalize(q);
    sqlite3_close(work);
    std::sort(left.begin(), left.end(), [](const Left& x, const Left& y) {
        return x.side != y.side ? x.side < y.side : x.place < y.place;
    });
    for (size_t i = 0; i < left.size() && ok; i++) {
        ok = PieceLine(&st, left[i].piece, left[i].stamp, &stamps, &kcsv[left[i].side], error);
        places[left[i].side].push_back(left[i].place);
    }
    Finish(&st);
    for (int k = 0; k < 2; k++)
        for (ListSource& list : lists[k])
            CloseList(&list);
    if (began)
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    // The table's end (the byte after its last line) is no record: each
    // version's goes after its records, whether the other has it or not.
    for (int k = 0; k < 2 && ok && apart->usable; k++) {
        bool ended = !trailer[k].empty() && trailer[k].back() != '\n';
        size_t records = apart->lines[k] - (ended ? 1 : 0);
        if (ended && !places[k].empty() && places[k].back() == apart->lines[k] - 1)
            places[k].pop_back();
        else if (ended)
            kcsv[k] += trailer[k];
        apart->lines[k] = records;
        std::string ignored;
        apart->usable = DecodeTable(std::move(kcsv[k]), &apart->records[k], &ignored) &&
                        apart->records[k].records == places[k].size();
        RenumberPictures(&apart->records[k], places[k]);
        apart->places[k] = std::move(places[k]);
    }
    return ok;
}
