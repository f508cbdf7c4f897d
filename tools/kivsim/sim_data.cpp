// Generated blocks and the record files of a run.
#include "sim_data.h"
#include <cstdio>

namespace {

uint32_t NextRandom(uint32_t& state)
{
    // xorshift32: small, and the same on every platform.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

}   // namespace

std::vector<uint8_t> GenerateBlock(const std::string& pattern, uint32_t size, uint32_t seed)
{
    std::vector<uint8_t> out;
    uint32_t state = seed ? seed : 0x9E3779B9u;
    if (pattern == "text") {
        static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ,.\"-";
        out.reserve(size);
        uint32_t column = 0;
        while (out.size() < size) {
            if (column >= 20 + NextRandom(state) % 60 && out.size() + 2 <= size) {
                out.push_back('\r');
                out.push_back('\n');
                column = 0;
                continue;
            }
            out.push_back((uint8_t)alphabet[NextRandom(state) % (sizeof alphabet - 1)]);
            column++;
        }
    } else if (pattern == "binary") {
        out.reserve(size);
        while (out.size() < size) {
            uint8_t b = (uint8_t)(NextRandom(state) >> 24);
            if (b != 0x00 && b != SIM_EOF)
                out.push_back(b);
        }
    }
    return out;
}

bool WriteFileWhole(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    // An empty vector's data() may be null, which fwrite must not be given.
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool ReadFileWhole(const std::string& path, std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    bytes.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

bool WriteRecord(const SimHandheld& h, const std::string& prefix)
{
    if (!WriteFileWhole(prefix + ".bin", h.received) || !WriteFileWhole(prefix + ".sent", h.sent))
        return false;
    std::string tmp = prefix + ".log.tmp";
    FILE* f = fopen(tmp.c_str(), "w");
    if (!f)
        return false;
    for (const SimEvent& e : h.events)
        fprintf(f, "%llu.%03llu %s\n", (unsigned long long)(e.us / 1000), (unsigned long long)(e.us % 1000),
                e.text.c_str());
    if (fclose(f) != 0)
        return false;
    return std::rename(tmp.c_str(), (prefix + ".log").c_str()) == 0;
}
