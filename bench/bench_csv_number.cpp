// Reading quoted CSV records, and turning number texts into stored keys and back.
#include "bench.h"
#include "csv/csv_record.h"
#include "number/packed_decimal.h"
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Table rows of short fields like an address book export (about 22 MB), or
// rows that carry an encoded photo of 1 MB each (about 40 MB).
bool WriteCsvFile(const char* path, bool photos, double* bytes)
{
    TextStream* out = TextOpenWrite(path);
    if (!out)
        return false;
    std::string photo(1 << 20, 'A');
    for (size_t i = 0; i < photo.size(); i++)
        photo[i] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz;:"[i * 7919 % 64];
    double total = 0;
    for (int row = 0; row < (photos ? 40 : 200000); row++) {
        if (photos) {
            TextPuts(out, "\"D\",\"");
            TextWrite(out, photo.data(), photo.size());
            TextPuts(out, "\",\"03\"\n");
            total += photo.size() + 13;
            continue;
        }
        char line[256];
        int n = snprintf(line, sizeof line,
                         "\"D\",\" \",,\"19991231235958\",,,\"%d\",\"\x8e\x52\x93\x63 \x91\xbe\x98\x59\","
                         "\"say \"\"hi\"\"\",\"AAAABBBBCCCCDDDDEEEE\",\"03-1234-%04d\"\n",
                         row, row % 10000);
        TextWrite(out, line, (size_t)n);
        total += n + 1;   // CR LF on disk
    }
    *bytes = total;
    return TextClose(out);
}

void BenchCsv(bool photos)
{
    const char* path = "kivbench_csv.tmp";
    double bytes = 0;
    if (!WriteCsvFile(path, photos, &bytes)) {
        printf("cannot write %s\n", path);
        return;
    }
    double best = 1e9;
    long fields = 0;
    for (int round = 0; round < 5; round++) {
        TextStream* in = TextOpenRead(path);
        double start = BenchSeconds();
        CsvRecord record;
        int count;
        fields = 0;
        while ((count = ReadCsvRecord(in, &record)) > 0) {
            fields += count;
            FreeCsvRecord(&record);
        }
        double seconds = BenchSeconds() - start;
        TextClose(in);
        if (seconds < best)
            best = seconds;
    }
    remove(path);
    if (fields == 0)
        printf("no records read\n");
    BenchReport(photos ? "ReadCsvRecord (1 MB photo fields)" : "ReadCsvRecord (short-field rows)", bytes,
                best);
}

void BenchNumbers()
{
    std::vector<std::string> texts;
    for (int i = 0; i < 1000; i++) {
        char t[64];
        snprintf(t, sizeof t, i % 3 ? "%d.%02d" : "-%d,%03d.%d", i * 7919 % 100000, i % 100, i % 1000);
        texts.push_back(t);
    }
    texts.push_back("12345678901234567890123");
    texts.push_back("1.5E+12");
    const int rounds = 2000;
    unsigned sink = 0;
    double start = BenchSeconds();
    for (int r = 0; r < rounds; r++) {
        for (const std::string& t : texts) {
            PackedDecimal n;
            ParseDecimal(&n, t.c_str());
            EncodeDecimalKey(&n);
            sink += n.bytes[DEC_DIGITS];
        }
    }
    double seconds = BenchSeconds() - start;
    BenchReportRate("ParseDecimal + EncodeDecimalKey", (double)rounds * texts.size(), seconds);

    std::vector<DecimalKey> keys(texts.size());
    for (size_t i = 0; i < texts.size(); i++) {
        ParseDecimal(&keys[i], texts[i].c_str());
        EncodeDecimalKey(&keys[i]);
    }
    start = BenchSeconds();
    for (int r = 0; r < rounds; r++) {
        for (const DecimalKey& k : keys) {
            DecimalKey n = k;
            char text[DEC_TEXT_MAX];
            DecodeDecimalKey(&n);
            sink += (unsigned)FormatDecimal(text, &n, 0);
        }
    }
    seconds = BenchSeconds() - start;
    BenchReportRate("DecodeDecimalKey + FormatDecimal", (double)rounds * keys.size(), seconds);
    if (sink == 1)
        printf(" ");
}

}   // namespace

void RunCsvNumberBenchmarks()
{
    BenchCsv(false);
    BenchCsv(true);
    BenchNumbers();
}
