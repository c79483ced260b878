#include "Numbers.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>

#include <QLocale>
#include <QString>

namespace {

// The C library's white space in the "C" locale.
bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(std::string_view text, std::size_t at)
{
    return at < text.size() && text[at] >= '0' && text[at] <= '9';
}

std::size_t SkipDigits(std::string_view text, std::size_t at)
{
    while (IsDigit(text, at))
        ++at;
    return at;
}

// Where a decimal number with fraction and exponent starts in text (after its
// white space) and where it ends; an empty range when there is none. An
// exponent counts only with digits.
std::pair<std::size_t, std::size_t> DecimalRange(std::string_view text)
{
    std::size_t start = 0;
    while (start < text.size() && IsSpace(text[start]))
        ++start;
    std::size_t at = start;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        ++at;
    const std::size_t digits = at;
    at = SkipDigits(text, at);
    const bool whole = at > digits;
    if (at < text.size() && text[at] == '.' && (whole || IsDigit(text, at + 1)))
        at = SkipDigits(text, at + 1);
    else if (!whole)
        return {0, 0};
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        std::size_t exponent = at + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-'))
            ++exponent;
        if (IsDigit(text, exponent))
            at = SkipDigits(text, exponent);
    }
    return {start, at};
}

} // namespace

template <class Number>
Number LeadingNumber(std::string_view text, int base, std::size_t* length)
{
    if constexpr (std::is_floating_point_v<Number>) {
        const auto [start, end] = DecimalRange(text);
        if (length)
            *length = end;
        bool ok = false;
        const double value = QLocale::c().toDouble(
            QString::fromLatin1(text.data() + start, qsizetype(end - start)), &ok);
        return end > start && ok ? value : 0.0;
    } else {
        // strtoll needs the text to end in a NUL.
        const std::string copy(text);
        char* end = nullptr;
        const long long value = std::strtoll(copy.c_str(), &end, base);
        if (length)
            *length = std::size_t(end - copy.c_str());
        return static_cast<Number>(std::clamp<long long>(value, std::numeric_limits<Number>::min(),
                                                         std::numeric_limits<Number>::max()));
    }
}

template int LeadingNumber<int>(std::string_view, int, std::size_t*);
template qint64 LeadingNumber<qint64>(std::string_view, int, std::size_t*);
template double LeadingNumber<double>(std::string_view, int, std::size_t*);

int TruncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

int MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    const std::int64_t product = std::int64_t(number) * numerator;
    std::int64_t quotient = product / denominator;
    const std::int64_t remainder = product % denominator;
    if (2 * std::llabs(remainder) >= std::llabs(std::int64_t(denominator)))
        quotient += ((product < 0) == (denominator < 0)) ? 1 : -1;
    if (quotient > INT_MAX || quotient < INT_MIN)
        return -1;
    return int(quotient);
}
