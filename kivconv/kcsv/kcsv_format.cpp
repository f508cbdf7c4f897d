// Kcsv format vocabulary: column texts, identifiers, time stamps, layout files.
#include "kcsv/kcsv_format.h"
#include <cstdio>
#include <chrono>
#include <cstring>

// Japanese texts are code page 932 bytes; the characters are in the comments.
const char* const KCSV_SYSTEM_IDS[KCSV_SYSTEM_COLUMNS] = {"SCRT", "tPID", "mDTM", "mISC", "CTGR"};
const char* const KCSV_SYSTEM_TYPES[KCSV_SYSTEM_COLUMNS] = {"BIT", "BINARY", "TIME", "BINARY", "CATEGORY"};
const char* const KCSV_SYSTEM_CONVERSIONS[KCSV_SYSTEM_COLUMNS] = {"ATTRIB", "IGNORE", "TIME", "IGNORE",
                                                                  "CATEGORY"};
const char* const KCSV_SYSTEM_TITLES[KCSV_SYSTEM_COLUMNS] = {
    "\x83\x41\x83\x67\x83\x8A\x83\x72\x83\x85\x81\x5B\x83\x67",   // アトリビュート
    "\x83\x56\x83\x93\x83\x4E\x83\x8DID",                         // シンクロID
    "\x8F\x43\x90\xB3\x8E\x9E\x8D\x8F",                           // 修正時刻
    "PIM_DB_DATA",
    "\x83\x4A\x83\x65\x83\x53\x83\x8A\x81\x5B",   // カテゴリー
};

const char* const IMAGE_FORMAT_TYPE = "UCHAR";
const char* const IMAGE_FORMAT_CONVERSION = "1BHEX2";

namespace {

// 写真 + full-width digit + 形式
#define KIV_PHOTO "\x8E\xCA\x90\x5E"
#define KIV_FORM "\x8C\x60\x8E\xAE"
const char* const kImageFormatTitles[TABLE_MAX_IMAGES] = {
    KIV_PHOTO "\x82\x50" KIV_FORM,   // 写真１形式
    KIV_PHOTO "\x82\x51" KIV_FORM, KIV_PHOTO "\x82\x52" KIV_FORM, KIV_PHOTO "\x82\x53" KIV_FORM,
    KIV_PHOTO "\x82\x54" KIV_FORM, KIV_PHOTO "\x82\x55" KIV_FORM, KIV_PHOTO "\x82\x56" KIV_FORM,
    KIV_PHOTO "\x82\x57" KIV_FORM,
    KIV_PHOTO "\x82\x58" KIV_FORM,   // 写真９形式
    KIV_PHOTO "\x82\x60" KIV_FORM,   // 写真Ａ形式
};
#undef KIV_PHOTO
#undef KIV_FORM

// Copies text into exactly width bytes: blank-padded, or cut.
void PadOrCut(char* out, const char* text, size_t width)
{
    size_t n = 0;
    if (text) {
        while (n < width && text[n])
            n++;
        memcpy(out, text, n);
    }
    memset(out + n, ' ', width - n);
    out[width] = '\0';
}

int TwoDigits(const char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

// Identifiers are four characters; numbers too large for that are cut.
void PutId(char id[FIELD_ID_SIZE], const char* format, unsigned n)
{
    char wide[32];
    snprintf(wide, sizeof wide, format, n);
    memcpy(id, wide, FIELD_ID_SIZE - 1);
    id[FIELD_ID_SIZE - 1] = '\0';
}

FieldKind KindOfCode(int code)
{
    switch (code) {
    case FK_NUMBER:
    case FK_BINARY:
    case FK_TIME:
    case FK_CODE:
    case FK_IMAGE: return (FieldKind)code;
    default: return FK_TEXT;
    }
}

}   // namespace

bool IsSystemColumnId(const char* id)
{
    if (!id)
        return false;
    for (const char* s : KCSV_SYSTEM_IDS)
        if (strcmp(id, s) == 0)
            return true;
    return strcmp(id, "LKIF") == 0 || strcmp(id, "LKDT") == 0;
}

const char* FieldStorageType(FieldKind kind)
{
    switch (kind) {
    case FK_BINARY:
    case FK_IMAGE: return "BINARY";
    case FK_TIME: return "TIME";
    default: return "CODE";
    }
}

const char* FieldConversion(FieldKind kind)
{
    switch (kind) {
    case FK_NUMBER:
    case FK_BINARY:
    case FK_IMAGE: return "3TO4";
    case FK_TIME: return "TIME";
    default: return "SJIS1";
    }
}

void FormatImageFormatId(char id[FIELD_ID_SIZE], int k) { PutId(id, "IMI%01X", (unsigned)k); }

const char* ImageFormatTitle(int k)
{
    return (k >= 1 && k <= TABLE_MAX_IMAGES) ? kImageFormatTitles[k - 1] : nullptr;
}

void FormatTimestampOf(char buffer[TIMESTAMP_SIZE], const struct tm& t)
{
    int year = t.tm_year + 1900;
    if (year < 0)
        year = 0;
    if (year > 9999)
        year = 9999;
    char wide[64];
    snprintf(wide, sizeof wide, "%04d%02d%02d%02d%02d%02d", year, t.tm_mon + 1, t.tm_mday, t.tm_hour,
             t.tm_min, t.tm_sec);
    memcpy(buffer, wide, TIMESTAMP_SIZE - 1);   // fields out of range are cut, not overrun
    buffer[TIMESTAMP_SIZE - 1] = '\0';
}

const struct tm* fixedStampTime;

static struct tm LocalTime(time_t now)
{
    if (fixedStampTime)
        return *fixedStampTime;
    struct tm* t = localtime(&now);
    if (t)
        return *t;
    struct tm zero = {};
    zero.tm_mday = 1;
    zero.tm_year = 70;
    return zero;
}

// One clock for every stamp: on Linux time() reads a coarser clock that can
// trail the system clock by a tick, and a record stamped by one must never
// seem older than one stamped before it by the other.
static time_t SystemNow() { return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()); }

static struct tm LocalNow() { return LocalTime(SystemNow()); }

void FormatTimestamp(char buffer[TIMESTAMP_SIZE]) { FormatTimestampOf(buffer, LocalNow()); }

// The clock is read through the standard library's system clock: the Windows
// runtime's time() asks the system for the time zone on every call too.
const char* StampClockNow(StampClock* clock)
{
    time_t now = SystemNow();
    if (fixedStampTime || !clock->valid || now != clock->second) {
        FormatTimestampOf(clock->text, LocalTime(now));
        clock->second = now;
        clock->valid = !fixedStampTime;
    }
    return clock->text;
}

PackedStamp MakePackedStamp(const struct tm& t)
{
    uint64_t v = (uint64_t)(t.tm_sec & 0x3F) | (uint64_t)(t.tm_min & 0x3F) << 8 |
                 (uint64_t)(t.tm_hour & 0x1F) << 14 | (uint64_t)(t.tm_mday & 0x1F) << 19 |
                 (uint64_t)((t.tm_mon + 1) & 0x0F) << 24 | (uint64_t)(t.tm_year & 0xFFF) << 28;
    PackedStamp s;
    for (int i = 0; i < 5; i++)
        s.bytes[i] = (unsigned char)(v >> (8 * i));
    return s;
}

PackedStamp PackedStampNow() { return MakePackedStamp(LocalNow()); }

size_t ReadLayoutText(TextStream* stream, char* buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        int c = TextGetcInline(stream);
        if (c == EOF)
            break;
        buf[got++] = (char)c;
    }
    memset(buf + got, 0, n + 1 - got);
    return got;
}

bool ReadLayoutStream(TextStream* stream, LayoutFile* layout)
{
    if (!stream || !layout)
        return false;
    memset(layout, 0, sizeof *layout);

    ReadLayoutText(stream, layout->name, LAYOUT_NAME_WIDTH);
    for (int i = LAYOUT_NAME_WIDTH - 1; i >= 1 && layout->name[i] == ' '; i--)
        layout->name[i] = '\0';
    TextGetc(stream);   // the line end

    while (!TextEof(stream)) {
        char title[LAYOUT_TITLE_WIDTH + 1];
        if (ReadLayoutText(stream, title, LAYOUT_TITLE_WIDTH) < (size_t)LAYOUT_TITLE_WIDTH)
            break;   // end of the list (an empty last line too)
        if (layout->fieldCount == TABLE_MAX_FIELDS) {
            layout->truncated = true;
            break;
        }
        char codes[LAYOUT_CODE_CHARS + 1];
        ReadLayoutText(stream, codes, LAYOUT_CODE_CHARS);
        LayoutField& f = layout->fields[layout->fieldCount++];
        memcpy(f.title, title, sizeof f.title);
        f.kind = KindOfCode(TwoDigits(codes));
        int sub = TwoDigits(codes + 2);
        f.subKind = (int16_t)((f.kind == FK_TIME && sub >= 1 && sub <= 4) ? sub : 0);
    }
    return true;
}

bool ReadLayoutFile(const char* path, LayoutFile* layout)
{
    TextStream* stream = TextOpenRead(path);
    if (!stream)
        return false;
    bool ok = ReadLayoutStream(stream, layout);
    TextClose(stream);
    return ok;
}

bool BuildTableLayout(const LayoutFile* file, TableLayout* layout)
{
    if (!file || !layout)
        return false;
    memset(layout, 0, sizeof *layout);
    memcpy(layout->name, file->name, LAYOUT_NAME_WIDTH);
    layout->name[TABLE_NAME_MAX] = '\0';
    layout->firstColumn = KCSV_FIRST_FIELD_COLUMN;

    int images = 0, others = 0;
    int column = KCSV_FIRST_FIELD_COLUMN;
    int count = file->fieldCount < TABLE_MAX_FIELDS ? file->fieldCount : TABLE_MAX_FIELDS;
    for (int i = 0; i < count; i++) {
        TableField& f = layout->fields[i];
        f.kind = file->fields[i].kind;
        f.subKind = file->fields[i].subKind;
        f.column = (int16_t)column;
        if (f.kind == FK_IMAGE) {
            PutId(f.id, "IM%02X", (unsigned)++images);
            column += 2;
        } else {
            PutId(f.id, "KD%02u", (unsigned)++others);
            column += 1;
        }
    }
    layout->fieldCount = (int16_t)count;
    return images <= TABLE_MAX_IMAGES && others <= TABLE_MAX_OTHERS;
}

bool WriteLayoutHeader(TextStream* stream, const char* name, int count)
{
    char padded[LAYOUT_NAME_WIDTH + 1];
    PadOrCut(padded, name, LAYOUT_NAME_WIDTH);
    return TextPrintf(stream, "%s%04d\n", padded, count);
}

bool WriteLayoutLine(TextStream* stream, const char* title, int kind, int subKind)
{
    char padded[LAYOUT_NAME_WIDTH + 1];
    PadOrCut(padded, title, LAYOUT_NAME_WIDTH);
    return TextPrintf(stream, "%s%02d%02d\n", padded, kind, subKind);
}

bool WriteKcsvQuoted(TextStream* stream, const char* text)
{
    if (!TextPutc(stream, '"'))
        return false;
    if (text) {
        const char* run = text;
        for (const char* q = strchr(text, '"'); q; q = strchr(q + 1, '"')) {
            // The quote ends this run and starts the next: written twice.
            if (!TextWrite(stream, run, (size_t)(q - run + 1)))
                return false;
            run = q;
        }
        if (!TextPuts(stream, run))
            return false;
    }
    return TextPutc(stream, '"');
}
