#include "kcsv_slots.h"
#include <cstring>

namespace {

// The text ends at its first 0x1A byte as a text-mode stream reads it. The
// byte is met where the scan reaches it rather than searched for first,
// which would cost a pass over the rest of the text for every record.
const char kTextEnd = '\x1A';

bool EndsRecord(char c) { return c == '\n' || c == '\r' || c == '\0' || c == kTextEnd; }

// The end of the quoted field starting at text[i] (its opening quote): the
// index after its closing quote, or npos when the input ends inside it.
size_t QuotedFieldEnd(const std::string& text, size_t i, size_t end)
{
    const char* t = text.data();
    for (i++; i < end; i++) {
        char c = t[i];
        if (c != '"' && c != kTextEnd)
            continue;
        if (c == kTextEnd)
            return std::string::npos;
        if (i + 1 >= end || t[i + 1] == ',' || EndsRecord(t[i + 1]))
            return i + 1;
        i++;   // the character after a quote is taken as it is
    }
    return std::string::npos;
}

size_t BareFieldEnd(const std::string& text, size_t i, size_t end)
{
    while (i < end && text[i] != ',' && !EndsRecord(text[i]))
        i++;
    return i;
}

}   // namespace

bool SplitKcsvRecordViews(const std::string& text, size_t* pos, bool unquoted,
                          std::vector<std::string_view>* slots)
{
    size_t end = text.size();
    size_t i = *pos;
    slots->clear();
    if (i >= end || EndsRecord(text[i]))
        return false;
    for (;;) {
        size_t start = i;
        if (i < end && text[i] == '"')
            i = QuotedFieldEnd(text, i, end);
        else if (i < end && text[i] != ',' && !EndsRecord(text[i]))
            i = unquoted ? BareFieldEnd(text, i, end) : std::string::npos;
        if (i == std::string::npos)
            return false;
        slots->push_back(std::string_view(text).substr(start, i - start));
        if (i < end && text[i] == ',') {
            i++;
            continue;
        }
        break;
    }
    if (i < end && text[i] == '\r')
        i++;
    if (i < end && text[i] == '\n')
        i++;
    *pos = i;
    return true;
}

bool SplitKcsvRecord(const std::string& text, size_t* pos, bool unquoted, std::vector<std::string>* slots)
{
    std::vector<std::string_view> views;
    bool ok = SplitKcsvRecordViews(text, pos, unquoted, &views);
    slots->assign(views.begin(), views.end());
    return ok;
}

void SlotValueInto(std::string_view slot, std::string* value)
{
    if (slot.empty() || slot[0] != '"') {
        value->clear();
        value->append(slot);
        return;
    }
    // The common slot, a quoted value without a quote or line break inside,
    // is its middle.
    size_t last = slot.size() - 1;
    const char* middle = slot.data() + 1;
    size_t n = last > 0 ? last - 1 : 0;
    if (last > 0 && slot[last] == '"' && !memchr(middle, '"', n) && !memchr(middle, '\n', n) &&
        !memchr(middle, '\r', n)) {
        value->clear();
        value->append(slot.data() + 1, last - 1);
        return;
    }
    value->clear();
    for (size_t i = 1; i < slot.size(); i++) {
        char c = slot[i];
        if (c == '\r' || c == '\n')
            continue;
        if (c == '"') {
            if (i + 1 >= slot.size())
                break;
            c = slot[++i];
        }
        value->push_back(c);
    }
}

bool IsQuotedSlotOf(std::string_view slot, const std::string& value)
{
    if (value.empty())
        return slot.empty();
    // Mostly a value without a quote, whose slot is the value between two.
    if (slot.size() == value.size() + 2 && !memchr(value.data(), '"', value.size()))
        return slot.front() == '"' && slot.back() == '"' &&
               memcmp(slot.data() + 1, value.data(), value.size()) == 0;
    if (slot.size() < value.size() + 2 || slot.front() != '"' || slot.back() != '"')
        return false;
    size_t at = 1, end = slot.size() - 1;
    for (char c : value) {
        if (at >= end || slot[at++] != c)
            return false;
        if (c == '"' && (at >= end || slot[at++] != '"'))
            return false;   // an inner quote is doubled
    }
    return at == end;
}

std::string SlotValue(std::string_view slot)
{
    std::string value;
    SlotValueInto(slot, &value);
    return value;
}

std::string QuoteSlot(const std::string& value)
{
    std::string slot;
    QuoteSlotInto(value, &slot);
    return slot;
}

void QuoteSlotInto(const std::string& value, std::string* slot)
{
    slot->clear();
    if (value.empty())
        return;
    slot->reserve(value.size() + 2);
    slot->push_back('"');
    for (size_t at = 0, q; at < value.size(); at = q + 1) {
        q = value.find('"', at);
        if (q == std::string::npos) {
            slot->append(value, at, std::string::npos);
            break;
        }
        slot->append(value, at, q + 1 - at).push_back('"');   // a quote is written twice
    }
    slot->push_back('"');
}

std::string JoinSlots(const std::vector<std::string>& slots)
{
    std::string line;
    JoinSlotsInto(slots, &line);
    return line;
}

void JoinSlotsInto(const std::vector<std::string>& slots, std::string* line)
{
    line->clear();
    for (size_t i = 0; i < slots.size(); i++) {
        if (i)
            *line += ',';
        *line += slots[i];
    }
}
