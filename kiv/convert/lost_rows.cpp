#include "lost_rows.h"
#include "csv/csv_record.h"
#include "textstream.h"
#include <algorithm>
#include <cstring>

namespace {

// Where a stream over memory stands: it reads the bytes where they lie.
size_t Offset(TextStream* ts, const std::string& text)
{
    return (size_t)(reinterpret_cast<TextReadWindow*>(ts)->next - (const unsigned char*)text.data());
}

}   // namespace

size_t FirstUnreadLine(const std::string& text, bool afterTitles)
{
    TextStream* ts = TextOpenMemory(text.data(), text.size());
    if (!ts)
        return 0;
    CsvRecord record;
    bool inData = !afterTitles;
    size_t start = 0;
    bool stopped = false;
    while (!TextEof(ts)) {
        start = Offset(ts, text);
        int n = ReadCsvRecord(ts, &record);
        bool titles = n > 0 && record.fields[0] && strcmp(record.fields[0], "T") == 0;
        FreeCsvRecord(&record);
        if (n == 0) {
            stopped = !CsvRecordMemoryShort();
            break;
        }
        if (!inData && titles)
            inData = true;
    }
    TextClose(ts);
    if (!stopped || !inData)
        return 0;
    // The text ends at its first 0x1A byte, as a text-mode stream reads it.
    size_t end = std::min(text.size(), text.find('\x1A'));
    size_t first = text.find_first_not_of(" \t\r\n", start);
    if (first == std::string::npos || first >= end)
        return 0;
    return 1 + (size_t)std::count(text.begin(), text.begin() + (long)first, '\n');
}
