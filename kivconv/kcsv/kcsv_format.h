// The Kcsv record format: field kinds, the table description both conversion
// directions share, the columns every record starts with, time stamps, and the
// layout files beside the CSV files. Text is code page 932 throughout.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include "textstream.h"

// The kind of a table field; the layout file's two-digit kind code is the
// value. FK_NONE and FK_IMAGE_AUX exist only on the reading side.
enum FieldKind : int16_t {
    FK_NONE = -1,   // no output column
    FK_TEXT = 0,
    FK_NUMBER = 1,
    FK_BINARY = 2,
    FK_TIME = 3,
    FK_CODE = 4,
    FK_IMAGE = 5,
    FK_IMAGE_AUX = 9,   // an auxiliary column of a picture field
};

// Image format codes: the "IMI" columns and the handheld's image format lists.
const int IMG_JPEG = 3;
const int IMG_GIF = 5;
const int IMG_PNG = 6;

// Windows' limit for a path, its NUL included: every name the conversions
// derive must fit, or Windows could not open it.
const size_t KCSV_PATH_MAX = 260;

// ---- table description --------------------------------------------------------

const int TABLE_MAX_FIELDS = 100;
const int TABLE_NAME_MAX = 33;     // bytes, without the NUL
const int TABLE_MAX_IMAGES = 10;   // identifiers stay four characters
const int TABLE_MAX_OTHERS = 99;
const int FIELD_ID_SIZE = 5;   // four characters and a NUL

struct TableField {
    char id[FIELD_ID_SIZE];   // "KD01", "IM01", ...
    int16_t column;           // slot of the field's value in a Kcsv record
    FieldKind kind;
    int16_t subKind;   // time form for FK_TIME; picture details when reading
    int16_t aux1;      // picture fields, when reading
    int16_t aux2;
};

struct TableLayout {
    char name[TABLE_NAME_MAX + 1];
    int16_t firstColumn;   // slot of field 0
    int16_t fieldCount;
    TableField fields[TABLE_MAX_FIELDS];
};

// ---- the columns of the "I", "S", "C", "T" and "D" records --------------------

// Slot 0 is the tag; slots 1 to 5 are the system columns; the table's fields
// start at slot 6, an image field taking two slots (data, then format code).
const int KCSV_SYSTEM_COLUMNS = 5;
const int KCSV_FIRST_FIELD_COLUMN = 1 + KCSV_SYSTEM_COLUMNS;

extern const char* const KCSV_SYSTEM_IDS[KCSV_SYSTEM_COLUMNS];           // "I": SCRT tPID mDTM mISC CTGR
extern const char* const KCSV_SYSTEM_TYPES[KCSV_SYSTEM_COLUMNS];         // "S"
extern const char* const KCSV_SYSTEM_CONVERSIONS[KCSV_SYSTEM_COLUMNS];   // "C"
extern const char* const KCSV_SYSTEM_TITLES[KCSV_SYSTEM_COLUMNS];        // "T", code page 932

// True for an "I" identifier a reader takes as a system column: the five above
// and LKIF, LKDT (whole text compared).
bool IsSystemColumnId(const char* id);

// "S" type and "C" conversion of a field of the kind (for FK_IMAGE, of its
// data column); kinds that are never written answer as FK_TEXT.
const char* FieldStorageType(FieldKind kind);
const char* FieldConversion(FieldKind kind);
// The format-code column of an image field.
extern const char* const IMAGE_FORMAT_TYPE;         // "UCHAR"
extern const char* const IMAGE_FORMAT_CONVERSION;   // "1BHEX2"

// Identifier of the format column of image k (1-based): "IMI1" .. "IMIA".
void FormatImageFormatId(char id[FIELD_ID_SIZE], int k);
// "T" title of that column, "写真１形式" .. "写真Ａ形式" in code page 932;
// null for k outside 1..10.
const char* ImageFormatTitle(int k);

// ---- time stamps -------------------------------------------------------------

// "YYYYMMDDhhmmss" and its NUL.
const int TIMESTAMP_SIZE = 15;
// Tests and fuzz targets fix the time that every stamp shows here, so that
// two runs write the same bytes; null (the default) reads the clock.
extern const struct tm* fixedStampTime;
// The local time now; every call reads the clock afresh.
void FormatTimestamp(char buffer[TIMESTAMP_SIZE]);
void FormatTimestampOf(char buffer[TIMESTAMP_SIZE], const struct tm& t);

// Stamps for a run of records: the clock is read on every call, but the local
// time is worked out and formatted only when its second has moved on, since
// that costs more than a record (on Windows, localtime and time() ask the
// system for the time zone on every call). Start it zeroed.
struct StampClock {
    time_t second;
    bool valid;
    char text[TIMESTAMP_SIZE];
};
// The stamp of now, valid until the next call with this clock.
const char* StampClockNow(StampClock* clock);

// Five bytes, one 40-bit little-endian number: second (bits 0-5), minute
// (8-13), hour (14-18), day (19-23), month (24-27), year - 1900 (28-39).
struct PackedStamp {
    unsigned char bytes[5];
};
PackedStamp MakePackedStamp(const struct tm& t);
PackedStamp PackedStampNow();

// ---- layout files --------------------------------------------------------------

// The layout the desktop application places beside its CSV file: a 33-byte
// table name line, then per field a 21-byte title, two-digit kind code and
// two-digit sub code (widths as seen through a text-mode stream).
const int LAYOUT_NAME_WIDTH = 33;
const int LAYOUT_TITLE_WIDTH = 21;
const int LAYOUT_CODE_CHARS = 5;   // kind, sub code, line end

struct LayoutField {
    // The 21 bytes as read, blanks kept, NUL added: the "T" record converts
    // them before cutting the blanks. Starts with LF where the file has a line
    // too short to hold a title; the titles end there.
    char title[LAYOUT_TITLE_WIDTH + 1];
    FieldKind kind;    // codes 01-05; any other code is FK_TEXT
    int16_t subKind;   // FK_TIME: 1-4 as given, else 0; other kinds 0
};

struct LayoutFile {
    char name[LAYOUT_NAME_WIDTH + 1];   // trailing blanks cut (byte 0 always kept)
    int16_t fieldCount;
    bool truncated;   // more field lines than TABLE_MAX_FIELDS
    LayoutField fields[TABLE_MAX_FIELDS];
};

// Reads the whole layout; false only when the file cannot be opened. A
// missing or short tail reads as zero bytes.
bool ReadLayoutFile(const char* path, LayoutFile* layout);
bool ReadLayoutStream(TextStream* stream, LayoutFile* layout);
// Reads up to n characters of a layout into buf, which holds n + 1 bytes:
// what is not read, and buf[n], become NUL. Returns the count read.
size_t ReadLayoutText(TextStream* stream, char* buf, size_t n);

// Fills a table description for writing: name, kinds, sub-kinds, columns from
// slot 6 on, and identifiers from running counters ("KD%02d" for every field
// but images, "IM%02X" for images, both from 1). False when the table has more
// than TABLE_MAX_IMAGES images or TABLE_MAX_OTHERS other fields (identifiers
// past those are then cut to four characters and repeat).
bool BuildTableLayout(const LayoutFile* file, TableLayout* layout);

// The layout written for the desktop application after a Kcsv file was read:
// "name padded or cut to 33 bytes" + count as four digits, then per column
// "title padded or cut to 33 bytes" + kind and sub-kind as two digits each.
bool WriteLayoutHeader(TextStream* stream, const char* name, int count);
bool WriteLayoutLine(TextStream* stream, const char* title, int kind, int subKind);

// ---- record syntax ---------------------------------------------------------------

// Writes text between double quotes with every double quote doubled.
bool WriteKcsvQuoted(TextStream* stream, const char* text);
