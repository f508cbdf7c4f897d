#include "sjis1_chars.h"
#include <cstdint>
#include <cstring>
#include <memory>
#include "kcsv/field_codecs.h"

namespace {

// One character's answer; size 0 while not yet asked.
struct Answer {
    uint8_t size;
    char bytes[3];
    int8_t back;   // decoding: 1 when encoding the answer gives the character again, 0 not, -1 unknown
};
const uint8_t kLead = 0xFE;     // a byte that starts a two-byte character
const uint8_t kUnsure = 0xFF;   // an answer the table cannot give

// The core's answers, asked once each. Filled and read on the main thread
// only, as the conversions run.
struct Direction {
    Answer single[256] = {};
    std::unique_ptr<Answer[]> rows[256];   // by lead byte, 256 second bytes each
    // Bytes known to come out as themselves (and, decoding, to encode back):
    // most of a text's plain letters and digits, copied without a lookup.
    bool same[256] = {};
    std::string room;   // Convert's output, before it goes out
};

std::string Ask(const char* text, bool toPc)
{
    std::string out;
    auto take = [](const char* converted, void* result) {
        *(std::string*)result = converted;
        return true;
    };
    if (!WithSjis1Text(text, toPc, take, &out))
        out = text;
    return out;
}

// A lead byte alone is dropped, so it comes back as nothing.
Answer& Single(Direction& d, unsigned char b, bool toPc)
{
    Answer& a = d.single[b];
    if (a.size == 0) {
        char text[2] = {(char)b, 0};
        std::string out = Ask(text, toPc);
        a.back = -1;
        a.size = out.empty() ? kLead : out.size() <= sizeof a.bytes ? (uint8_t)out.size() : kUnsure;
        memcpy(a.bytes, out.data(), a.size <= sizeof a.bytes ? a.size : 0);
    }
    return a;
}

// Asked with an 'A' after it, which comes back as itself: an answer that
// loses the 'A' held a NUL, which ends the core's text.
Answer& Pair(Direction& d, unsigned char lead, unsigned char second, bool toPc)
{
    std::unique_ptr<Answer[]>& row = d.rows[lead];
    if (!row)
        row.reset(new Answer[256]());
    Answer& a = row[second];
    if (a.size == 0) {
        char text[4] = {(char)lead, (char)second, 'A', 0};
        std::string out = Ask(text, toPc);
        bool whole = !out.empty() && out.back() == 'A' && out.size() - 1 <= sizeof a.bytes && out.size() > 1;
        a.back = -1;
        a.size = whole ? (uint8_t)(out.size() - 1) : kUnsure;
        memcpy(a.bytes, out.data(), whole ? a.size : 0);
    }
    return a;
}

Direction& DirectionOf(bool toPc)
{
    static Direction directions[2];
    return directions[toPc ? 1 : 0];
}

// The conversion itself; *all tells whether every character was converted
// (the text held no NUL and did not end in a lead byte), *back whether each
// answer encodes back to its character.
bool Convert(const std::string& text, bool toPc, std::string* out, bool* all, bool* back);

// Encoding the answer reads it as one character and gives the character
// again: then encoding a text of such answers gives the text again.
bool EncodesBack(Answer* a, const char* character, size_t size)
{
    if (a->back < 0) {
        Direction& encode = DirectionOf(false);
        bool one = (a->size == 1 && Single(encode, (unsigned char)a->bytes[0], false).size != kLead) ||
                   (a->size == 2 && Single(encode, (unsigned char)a->bytes[0], false).size == kLead);
        std::string again;
        bool all = false, ignored;
        a->back = one && Convert(std::string(a->bytes, a->size), false, &again, &all, &ignored) && all &&
                  again == std::string(character, size);
    }
    return a->back == 1;
}

bool Convert(const std::string& text, bool toPc, std::string* out, bool* all, bool* back)
{
    Direction& d = DirectionOf(toPc);
    const Answer& a = Single(d, 'A', toPc);
    if (a.size != 1 || a.bytes[0] != 'A')
        return false;
    *all = false;
    *back = toPc;
    // Written into room that only grows, as resizing out would clear its new
    // bytes every time: no answer is longer than three bytes. Each direction
    // has its own, as a decoding asks the encoding about its answers.
    std::string& room = d.room;
    if (room.size() < text.size() * sizeof a.bytes)
        room.resize(text.size() * sizeof a.bytes);
    char* o = &room[0];
    size_t i = 0;
    while (i < text.size() && text[i] != '\0') {
        unsigned char b = (unsigned char)text[i];
        if (d.same[b]) {
            *o++ = (char)b;
            i++;
            continue;
        }
        Answer* answer = d.single[b].size ? &d.single[b] : &Single(d, b, toPc);
        size_t size = 1;
        if (answer->size == kLead) {
            if (i + 1 >= text.size() || text[i + 1] == '\0')
                break;   // a lead byte at the end is dropped
            unsigned char second = (unsigned char)text[i + 1];
            Answer* known = d.rows[b] ? &d.rows[b][second] : nullptr;
            answer = known && known->size ? known : &Pair(d, b, second, toPc);
            size = 2;
        }
        if (answer->size == kUnsure)
            return false;
        memcpy(o, answer->bytes, sizeof answer->bytes);
        o += answer->size;
        if (*back && answer->back != 1 && !EncodesBack(answer, text.data() + i, size))
            *back = false;
        if (size == 1 && answer->size == 1 && (unsigned char)answer->bytes[0] == b &&
            (!toPc || answer->back == 1))
            d.same[b] = true;
        i += size;
    }
    *all = i == text.size();
    out->assign(room.data(), (size_t)(o - room.data()));
    return true;
}

}   // namespace

bool Sjis1ByTable(const std::string& text, bool toPc, std::string* out)
{
    bool all, back;
    return Convert(text, toPc, out, &all, &back);
}

bool Sjis1DecodeByTable(const std::string& text, std::string* out, bool* encodesBack)
{
    bool all;
    if (!Convert(text, true, out, &all, encodesBack))
        return false;
    *encodesBack = *encodesBack && all;
    return true;
}
