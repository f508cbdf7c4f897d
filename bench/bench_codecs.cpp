// Throughput of the field codecs on photograph-sized data: 3TO4 in memory and
// through files as the conversions use it, SJIS1 on long mixed text.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>
#include "bench.h"
#include "kcsv/field_codecs.h"

namespace {

const size_t kDataBytes = 8u << 20;
const double kMinSeconds = 0.5;

// Runs body until kMinSeconds have passed; returns seconds per run.
template <class Body>
double TimePerRun(Body body)
{
    int runs = 0;
    double start = BenchSeconds(), now;
    do {
        body();
        runs++;
        now = BenchSeconds();
    } while (now - start < kMinSeconds);
    return (now - start) / runs;
}

std::string TempPath(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

void Bench3to4()
{
    std::mt19937 rng(1);
    std::vector<unsigned char> bytes(kDataBytes);
    for (auto& b : bytes)
        b = (unsigned char)rng();
    std::string text(Encoded3to4Length(bytes.size()), '\0');
    std::vector<unsigned char> back(bytes.size());

    double t = TimePerRun([&] { Encode3to4Bytes(bytes.data(), bytes.size(), &text[0]); });
    BenchReport("3TO4 encode, memory (bytes in)", (double)bytes.size(), t);
    t = TimePerRun([&] { Decode3to4Bytes(text.c_str(), back.data(), back.size()); });
    BenchReport("3TO4 decode, memory (bytes out)", (double)bytes.size(), t);
    if (memcmp(back.data(), bytes.data(), bytes.size()) != 0)
        printf("3TO4 round trip FAILED\n");

    std::string inPath = TempPath("kivbench-3to4.bin");
    std::string textPath = TempPath("kivbench-3to4.txt");
    std::string outPath = TempPath("kivbench-3to4.out");
    FILE* f = fopen(inPath.c_str(), "wb");
    if (!f)
        return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);

    t = TimePerRun([&] {
        ByteFile* in = FileOpen(inPath.c_str(), BF_READ);
        TextStream* out = TextOpenWrite(textPath.c_str());
        if (in && out)
            Encode3to4Stream(in, out);
        FileClose(in);
        TextClose(out);
    });
    BenchReport("3TO4 Encode3to4Stream, file to file", (double)bytes.size(), t);
    t = TimePerRun([&] {
        ByteFile* out = FileOpen(outPath.c_str(), BF_CREATE);
        if (out) {
            Decode3to4Text(text.c_str(), out);
            FileClose(out);
        }
    });
    BenchReport("3TO4 Decode3to4Text, to file", (double)bytes.size(), t);
    remove(inPath.c_str());
    remove(textPath.c_str());
    remove(outPath.c_str());
}

// Mixed text: mostly ASCII and kana/kanji, some characters the maps change.
std::string MixedText(const char* const* pieces, size_t count, size_t size)
{
    std::mt19937 rng(2);
    std::string s;
    s.reserve(size + 8);
    while (s.size() < size)
        s += pieces[rng() % count];
    return s;
}

void BenchSjis1()
{
    const char* pc[] = {"Tokyo ",           "123-4567 ", "\x93\x8C\x8B\x9E",
                        "\x82\xA0\x82\xA2", "\x87\x40",  "\x87\x8A",
                        "\x87\x60",         "\xB6\xDE",  "\n"};
    const char* handheld[] = {"Tokyo ",   "123-4567 ", "\x93\x8C\x8B\x9E", "\xEC\x40\xEC\x41", "\xED\x40",
                              "\x98\x73", "\xEC\xAA",  "\xFC\xDC",         "\xEF\x40"};
    std::string pcText = MixedText(pc, 9, kDataBytes);
    std::string hhText = MixedText(handheld, 9, kDataBytes);

    double t = TimePerRun([&] { BlockFree(Sjis1Encode(pcText.c_str())); });
    BenchReport("SJIS1 Sjis1Encode (bytes in)", (double)pcText.size(), t);
    t = TimePerRun([&] { BlockFree(Sjis1Decode(hhText.c_str())); });
    BenchReport("SJIS1 Sjis1Decode (bytes in)", (double)hhText.size(), t);
}

}   // namespace

void RunCodecBenchmarks()
{
    Bench3to4();
    BenchSjis1();
}
