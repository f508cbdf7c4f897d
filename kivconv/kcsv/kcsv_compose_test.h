// Received Kcsv files composed byte by byte for the reading side's tests:
// records in the quoted syntax, table descriptions of chunk records and items,
// numbers as their 3TO4 keys.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "kcsv/chunk_file.h"
#include "kcsv/field_codecs.h"
#include "number/packed_decimal.h"

namespace kcsvtest {

// Fields of one record; null is an empty field, anything else is quoted.
typedef std::vector<const char*> Fields;

inline std::string KcsvLine(const Fields& fields)
{
    std::string line;
    for (size_t i = 0; i < fields.size(); i++) {
        line += i ? "," : "";
        if (fields[i]) {
            line += '"';
            for (const char* p = fields[i]; *p; p++)
                line += *p == '"' ? "\"\"" : std::string(1, *p);
            line += '"';
        }
    }
    return line + "\r\n";
}

inline std::string Zeros(size_t n) { return std::string(n, '\0'); }
inline std::string Le16(uint16_t v) { return std::string{(char)v, (char)(v >> 8)}; }
inline std::string Le32(uint32_t v) { return Le16((uint16_t)v) + Le16((uint16_t)(v >> 16)); }
inline std::string Item(uint16_t tag, const std::string& data)
{
    return Le16(tag) + Le32(6 + (uint32_t)data.size()) + data;
}
inline std::string Rec(uint16_t type, const std::string& items)
{
    return Le16(type) + Le32(12 + (uint32_t)items.size()) + items + Zeros(6);
}
inline std::string Chunk(const std::string& records)
{
    return std::string("\x78\x56\x34\x12\x10", 5) + Le32(15 + (uint32_t)records.size()) + records + Zeros(6);
}
// A REC_FIELD record: the field descriptor, and the time block for timeForm >= 0.
inline std::string FieldRec(const char* id, int kind, int attr1 = 0, int attr2 = 0, uint32_t size = 0,
                            int extra = 0, int timeForm = -1)
{
    std::string d = std::string(id, 4) + (char)kind + (char)attr1 + (char)attr2 + Zeros(9) + Le32(size) +
                    (char)extra + Zeros(3);
    return Rec(REC_FIELD, Item(TAG_FIELD_DESC, d) +
                              (timeForm >= 0 ? Item(TAG_TIME_ATTR, (char)timeForm + Zeros(16)) : ""));
}
inline std::string NameRec(const std::string& name)
{
    return Rec(REC_TABLE, Item(TAG_TABLE_HEADER, Zeros(60)) + Item(TAG_TABLE_NAME, name + '\0'));
}

inline std::string To3to4(const std::string& bytes)
{
    std::string text(Encoded3to4Length(bytes.size()), '\0');
    Encode3to4Bytes(bytes.data(), bytes.size(), &text[0]);
    return text;
}
inline std::string NumberText(const char* decimal)
{
    PackedDecimal n;
    ParseDecimal(&n, decimal);
    EncodeDecimalKey(&n);
    return To3to4(std::string((const char*)n.bytes, DEC_SIZE));
}

// The header records of a table (its "P" record only with a description),
// the five system columns before the fields.
inline std::string KcsvHeader(const Fields& ids, const std::string& description, const Fields& titles,
                              const char* box = "KPIN9999.BOX")
{
    Fields i = {"I", "SCRT", "tPID", "mDTM", "mISC", "CTGR"}, t = {"T", "a", "b", "c", "d", "e"};
    i.insert(i.end(), ids.begin(), ids.end());
    t.insert(t.end(), titles.begin(), titles.end());
    std::string p = To3to4(description);
    return KcsvLine({"H", "04", "RVC2", "19991231235958", "0001", "00000001"}) + KcsvLine(i) +
           KcsvLine({"M", "04", "RVC2", "0001", "_PIO", "BOXFILE", box, "1.1", "20"}) +
           (description.empty() ? "" : KcsvLine({"P", "10", p.c_str()})) + KcsvLine({"S", "BIT"}) +
           KcsvLine(t);
}
inline std::string DataLine(const Fields& values)
{
    Fields d = {"D", " ", nullptr, "19991231235958", nullptr, nullptr};
    d.insert(d.end(), values.begin(), values.end());
    return KcsvLine(d);
}

// A line of the layout file written for the desktop, CR LF included.
inline std::string LayoutLine(const std::string& title, const char* codes)
{
    return title + std::string(33 - title.size(), ' ') + codes + "\r\n";
}

}   // namespace kcsvtest
