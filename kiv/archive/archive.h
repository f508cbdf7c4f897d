// The archive of pulled tables: one SQLite file that keeps every version of
// every table as received, with its records decoded into readable rows, so
// that history, differences and any old version are a query away. The SQL
// lives in archive_db.cpp alone; docs/formats.md describes the schema.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

// One pull as history lists it. A pull of a table equal to the table's last
// version, apart from time stamps, stores no second copy: sameAs names the
// version it equals (0 for a stored version).
struct ArchiveEntry {
    long id = 0;
    std::string pulled;   // UTC, "2026-12-08T19:52:17Z"
    std::string port, link;
    std::string name;   // the table's name, UTF-8
    long records = 0, size = 0;
    long sameAs = 0;
};

// A table's records as the table CSV shows them, each record's pictures
// (their bytes, "" where none: a picture cell names a file by the record's
// place, so the bytes tell whether it changed) and each record's sync ID
// (the handheld's identifier; "" when it gave none). Held as one text with
// the end of each value, so that two versions of a long table fit in little
// more memory than their bytes: per record, each field's cell, then each
// field's picture, then the sync ID.
struct DecodedTable {
    std::string name;
    std::vector<std::string> titles;   // one per field
    size_t records = 0;
    std::string values;
    std::vector<uint32_t> ends;   // of each value in values
};
std::string_view CellOf(const DecodedTable& table, size_t record, size_t field);
std::string_view PictureOf(const DecodedTable& table, size_t record, size_t field);
std::string_view SyncIdOf(const DecodedTable& table, size_t record);

// The archive's path: given when not empty, else
// $XDG_DATA_HOME/kiv/archive.sqlite (~/.local/share when that is unset or
// not absolute).
std::string ArchivePath(const std::string& given);
// The current time as the archive writes it.
std::string ArchiveNow(void);
// A time as the archive writes it: a file's stamp for a table added from it.
std::string ArchiveTime(time_t when);

// A Kcsv table decoded by the conversion library; false with *error when the
// bytes are no table (or decode to more than 4 GiB).
bool DecodeTable(std::string kcsv, DecodedTable* table, std::string* error);
// The same for a stream's bytes, read a piece at a time; the stream is
// closed. shown names it in a read error.
bool DecodeTableStream(FILE* bytes, const std::string& shown, DecodedTable* table, std::string* error);
// DecodeTable's work done beside another reader of the same pass (pull's
// files): each step of the pass in turn (titles: the header), then the end.
// fits is false once the values pass 4 GiB; the table is then incomplete.
struct PassDecoding {
    DecodedTable* table = nullptr;
    size_t sync = 0;   // the sync ID's slot in a record, 0 for none
    bool fits = true;
    std::string base;   // the picture folder the cells name
    std::string syncId, room;
};
struct KcsvPass;
void StartPassDecoding(PassDecoding* decoding, DecodedTable* table);
void DecodePassStep(PassDecoding* decoding, const KcsvPass& pass, bool titles);
void EndPassDecoding(PassDecoding* decoding);
// Equal but for the stamps the format renews on every write: "H" and "M",
// each record's modification stamp, a desktop-written description's packed
// stamp.
bool SameApartFromStamps(const std::string& a, const std::string& b);

// Stores kcsv as pulled at entry.pulled from entry.port over entry.link, in
// one transaction, creating the archive and its folder when missing. *entry
// gets the id, name, counts and sameAs. False with *error the reason.
bool ArchiveTable(const std::string& path, const std::string& kcsv, const DecodedTable& table,
                  ArchiveEntry* entry, std::string* error);

// Opens an archive that exists, for reading; false with *error.
bool OpenArchive(const std::string& path, sqlite3** db, std::string* error);
void CloseArchive(sqlite3* db);
// Every pull in id order; of one table when name is not empty.
bool ArchiveHistory(sqlite3* db, const std::string& name, std::vector<ArchiveEntry>* entries,
                    std::string* error);
// The pull id and the bytes of the version it holds or equals; false with
// *error also when there is no such id.
bool ArchiveVersion(sqlite3* db, long id, ArchiveEntry* entry, std::string* kcsv, std::string* error);
// The same with the bytes as a stream read from the archive a piece at a
// time (fclose it before the archive is closed).
bool ArchiveVersionStream(sqlite3* db, long id, ArchiveEntry* entry, FILE** bytes, std::string* error);
// The name of the table pulled last; "" when the archive holds none.
bool LastPulledName(sqlite3* db, std::string* name, std::string* error);
// The names of the tables the archive holds, each once, in the order of
// their first pull.
bool ArchiveTableNames(sqlite3* db, std::vector<std::string>* names, std::string* error);
// The ids of the stored versions of name, newest first, at most count.
bool LatestVersions(sqlite3* db, const std::string& name, int count, std::vector<long>* ids,
                    std::string* error);

// Two stored versions apart from the lines they share. A record both hold
// unchanged is the same piece in both (its stamp aside), so it is matched
// by that alone, k-th with k-th where a line repeats, and never decoded;
// the lists are compared in a scratch database beside the archive, so that
// what is held does not grow with the records. Each version's other records
// are decoded with its own header, their pictures' cells named by their
// places in the whole version. Not usable (diff then reads both whole) when
// the headers differ in more than the stamps, counts and titles, or a line
// is no whole record.
struct VersionsApart {
    bool usable = false;
    ArchiveEntry entries[2];
    DecodedTable records[2];         // each version's records the other lacks, in order
    std::vector<size_t> places[2];   // their places in the version, from 0
    size_t lines[2] = {0, 0};        // the versions' records
    size_t moved = 0;                // places where the two hold different lines
};
bool ReadVersionsApart(sqlite3* db, const long ids[2], VersionsApart* apart, std::string* error);
// Whether two versions' headers (their lines up to the titles') decode
// records alike: equal but for the stamps and counts the format renews on
// every write, and the titles.
bool SameHeaderApartFromStamps(const std::string& a, const std::string& b);
// Picture cells name a file by the record's place: the records' places given.
void RenumberPictures(DecodedTable* table, const std::vector<size_t>& places);

// The differences from a to b record by record, as diff prints them; empty
// when there are none.
std::string TableDiff(const DecodedTable& a, const DecodedTable& b);
// Whether a and b hold equal records at each place (sync IDs aside); with
// an empty TableDiff, false means the same records in another order.
bool SameRecordOrder(const DecodedTable& a, const DecodedTable& b);
// The record of a that each record of b is, or (size_t)-1 for one added in
// b; diff's matching (table_diff.cpp): entries of *ofB already set on the
// way in are taken as given, the rest matched by sync ID, then equal cells,
// then first non-empty cell. With idsLost, b's sync IDs are not its own (a
// table CSV's come from the kept records its rows were tied to, which the
// caller gives as set entries): b is matched by its cells alone, also to
// records of a that have an ID.
void MatchRecords(const DecodedTable& a, const DecodedTable& b, std::vector<size_t>* ofB, bool idsLost);
// a's record i and b's record j hold the same cells, pictures by their bytes.
bool SameRecordAt(const DecodedTable& a, size_t i, const DecodedTable& b, size_t j);
// Field f of a's record i equals that of b's record j, a picture by its bytes.
bool SameField(const DecodedTable& a, size_t i, const DecodedTable& b, size_t j, size_t f);

// ---- the base of a table CSV, and what push checks against it ----------------
// archive_base.cpp, but for CountRecordChanges (table_diff.cpp).

// The records of b against a, matched as TableDiff matches them, and
// whether the fields' titles differ (a table renamed in its titles alone
// holds a change too).
struct RecordCounts {
    size_t added = 0, changed = 0, removed = 0;
    bool titles = false;
};
RecordCounts CountRecordChanges(const DecodedTable& a, const DecodedTable& b);

// TableHash of the bytes the archive holds for pull id (for a pull that
// equals an earlier version, that version's bytes).
bool ArchivedHash(sqlite3* db, long id, std::string* hash, std::string* error);
// The newest pull whose version is kcsv byte for byte, else one it equals
// apart from time stamps, and TableHash of that version's stored bytes; 0
// and "" when none is.
bool PullHoldingBytes(sqlite3* db, const std::string& kcsv, long* id, std::string* hash, std::string* error);
// Whether some stored version has size bytes: a file of another size is none
// of them, and need not be read.
bool AnyVersionOfSize(sqlite3* db, long size, bool* any, std::string* error);
// The newest pull of name after pull id, with the version it holds or
// equals; 0 and 0 when there is none.
bool NewestPullAfter(sqlite3* db, const std::string& name, long id, long* pull, long* version,
                     std::string* error);
