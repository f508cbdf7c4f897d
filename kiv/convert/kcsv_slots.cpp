#include "kcsv_slots.h"

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
    for (i++; i < end; i++) {
        if (text[i] == kTextEnd)
            return std::string::npos;
        if (text[i] != '"')
            continue;
        if (i + 1 >= end || text[i + 1] == ',' || EndsRecord(text[i + 1]))
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

bool SplitKcsvRecord(const std::string& text, size_t* pos, bool unquoted, std::vector<std::string>* slots)
{
    size_t end = text.size();
    size_t i = *pos, count = 0;
    // The slots' strings are assigned rather than made anew, so that a
    // caller reading record after record into one vector reuses their room.
    auto take = [&](size_t start) {
        if (count < slots->size())
            (*slots)[count].assign(text, start, i - start);
        else
            slots->emplace_back(text, start, i - start);
        count++;
    };
    bool ok = i < end && !EndsRecord(text[i]);
    while (ok) {
        size_t start = i;
        if (i < end && text[i] == '"')
            i = QuotedFieldEnd(text, i, end);
        else if (i < end && text[i] != ',' && !EndsRecord(text[i]))
            i = unquoted ? BareFieldEnd(text, i, end) : std::string::npos;
        if (i == std::string::npos) {
            ok = false;
            break;
        }
        take(start);
        if (i < end && text[i] == ',') {
            i++;
            continue;
        }
        break;
    }
    slots->resize(count);
    if (!ok)
        return false;
    if (i < end && text[i] == '\r')
        i++;
    if (i < end && text[i] == '\n')
        i++;
    *pos = i;
    return true;
}

void SlotValueInto(const std::string& slot, std::string* value)
{
    if (slot.empty() || slot[0] != '"') {
        *value = slot;
        return;
    }
    // The common slot, a quoted value without a quote or line break inside,
    // is its middle.
    size_t last = slot.size() - 1, i = 1;
    while (i < last && slot[i] != '"' && slot[i] != '\r' && slot[i] != '\n')
        i++;
    if (i == last && last > 0 && slot[last] == '"') {
        value->assign(slot, 1, last - 1);
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

bool IsQuotedSlotOf(const std::string& slot, const std::string& value)
{
    if (value.empty())
        return slot.empty();
    size_t quotes = 0;
    for (char c : value)
        quotes += c == '"';
    if (slot.size() != value.size() + quotes + 2 || slot.front() != '"' || slot.back() != '"')
        return false;
    if (quotes == 0)
        return slot.compare(1, value.size(), value) == 0;
    return slot == QuoteSlot(value);
}

std::string SlotValue(const std::string& slot)
{
    std::string value;
    SlotValueInto(slot, &value);
    return value;
}

std::string QuoteSlot(const std::string& value)
{
    if (value.empty())
        return value;
    std::string slot;
    slot.reserve(value.size() + 2);
    slot.push_back('"');
    for (size_t at = 0, q; at < value.size(); at = q + 1) {
        q = value.find('"', at);
        if (q == std::string::npos) {
            slot.append(value, at, std::string::npos);
            break;
        }
        slot.append(value, at, q + 1 - at).push_back('"');   // a quote is written twice
    }
    slot.push_back('"');
    return slot;
}

std::string JoinSlots(const std::vector<std::string>& slots)
{
    std::string line;
    for (size_t i = 0; i < slots.size(); i++)
        line += (i ? "," : "") + slots[i];
    return line;
}
