#include "number_text.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t SkipDigits(const std::string& text, size_t at)
{
    while (at < text.size() && IsDigit(text[at]))
        at++;
    return at;
}

// The whole text is the number's form with point as its separator.
bool WellFormed(const std::string& text, char point)
{
    size_t at = text.compare(0, 1, "-") == 0 ? 1 : 0, digits = SkipDigits(text, at);
    if (digits == at)
        return false;
    at = digits;
    if (at < text.size() && text[at] == point) {
        digits = SkipDigits(text, ++at);
        if (digits == at)
            return false;
        at = digits;
    }
    if (at < text.size() && (text[at] == 'E' || text[at] == 'e')) {
        at++;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            at++;
        digits = SkipDigits(text, at);
        if (digits == at)
            return false;
        at = digits;
    }
    return at == text.size();
}

size_t Count(const std::string& text, char c)
{
    size_t n = 0;
    for (char t : text)
        n += t == c;
    return n;
}

// What to do about a text that is no number: the separators people's
// spreadsheets write, named, or nothing.
std::string Advice(const std::string& text, bool decimalComma)
{
    // Only digits and separators: anything else is no number of any locale.
    if (text.find_first_not_of("0123456789+-eE.,' \xC2\xA0\xE2\x80\xAF") != std::string::npos ||
        text.find_first_of("0123456789") == std::string::npos)
        return "";
    size_t commas = Count(text, ','), points = Count(text, '.');
    std::string quoted = "\"" + text + "\"";
    bool grouped = text.find_first_of(" '") != std::string::npos ||
                   text.find("\xC2\xA0") != std::string::npos ||
                   text.find("\xE2\x80\xAF") != std::string::npos;
    if (!decimalComma) {
        if (commas == 1 && !grouped)
            return quoted +
                   (points ? " has a decimal comma and '.' between groups of digits"
                           : " has a decimal comma") +
                   ": use '.' and no grouping, or save the CSV with '.' as the decimal separator "
                   "(--decimal-comma reads such a file)";
        if (commas > 1 || grouped)
            return quoted + " has digit grouping: write the number without separators between its digits, "
                            "'.' as the decimal point";
        return "";
    }
    if (points == 1 && commas == 0 && !grouped)
        return quoted +
               " has a decimal point, but --decimal-comma reads ',' as the decimal separator: use ',', "
               "or leave out --decimal-comma";
    if (points > 0 || grouped)
        return quoted + " has digit grouping: write the number without separators between its digits, "
                        "',' as the decimal separator";
    if (commas > 1)
        return quoted + " has more than one decimal comma";
    return "";
}

}   // namespace

bool TakeNumberText(const std::string& text, bool decimalComma, std::string* plain, std::string* what)
{
    char point = decimalComma ? ',' : '.';
    if (WellFormed(text, point)) {
        *plain = text;
        if (decimalComma) {
            size_t at = plain->find(',');
            if (at != std::string::npos)
                (*plain)[at] = '.';
        }
        return true;
    }
    *what = Advice(text, decimalComma);
    if (what->empty())
        *what = "\"" + text + "\" is not a number";
    return false;
}
