#include "core/numbertext.h"

#include "core/errors.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace NumberText {

namespace {

constexpr int significantDigits = 15;

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ');
}

std::optional<long double> exactValueOf(const char *text, qsizetype length);

} // namespace

namespace {

// Powers of ten that a 64-bit mantissa holds exactly (5^27 < 2^63).
constexpr int exactPowers = 27;
constexpr auto powersOfTen = [] {
    std::array<long double, exactPowers + 1> powers{};
    long double power = 1;
    for (auto &p : powers) {
        p = power;
        power *= 10;
    }
    return powers;
}();

// The 15 significant digits of |value| and its decimal exponent, correctly rounded. The common case
// scales by an exact power of ten (one rounding) and takes the nearest integer; a scaled value so close to
// a rounding boundary that the scaling's error could matter goes the exact, slower way.
int significantDigitsOf(long double value, char (&digits)[significantDigits])
{
    const long double magnitude = std::fabs(value);
    // The decimal exponent, found among the exact powers (a transcendental log10 costs more than the rest).
    int exponent = std::numeric_limits<int>::min();
    if (magnitude >= 1 && magnitude < powersOfTen[exactPowers - 1]) {
        exponent = 0;
        while (magnitude >= powersOfTen[exponent + 1])
            ++exponent;
    } else if (magnitude < 1 && magnitude >= 1e-12L) {
        exponent = -1;
        while (magnitude * powersOfTen[-exponent] < 1)
            --exponent;
    }
    if (exponent >= -12 && exponent <= exactPowers - 2) {
        const auto scaleTo15 = [&](int e) {
            const int shift = significantDigits - 1 - e;
            return shift >= 0 ? magnitude * powersOfTen[shift] : magnitude / powersOfTen[-shift];
        };
        // The scaling rounds: next to a power of ten the exponent may be off by one.
        long double scaled = scaleTo15(exponent);
        if (scaled >= powersOfTen[significantDigits]) {
            ++exponent;
            scaled = scaleTo15(exponent);
        } else if (scaled < powersOfTen[significantDigits - 1]) {
            --exponent;
            scaled = scaleTo15(exponent);
        }
        // scaled lies in [10^14, 10^15): truncation and the fraction need no library call.
        const auto whole = static_cast<quint64>(scaled);
        const long double fraction = scaled - static_cast<long double>(whole);
        if (std::fabs(fraction - 0.5L) > 1e-3L) {
            quint64 integer = fraction > 0.5L ? whole + 1 : whole;
            if (integer >= static_cast<quint64>(powersOfTen[significantDigits])) {
                integer /= 10;
                ++exponent;
            }
            for (int i = significantDigits - 1; i >= 0; --i, integer /= 10)
                digits[i] = static_cast<char>('0' + integer % 10);
            return exponent;
        }
    }

    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                      std::chars_format::scientific, significantDigits - 1);
    *result.ptr = '\0';
    int count = 0;
    const char *p = buffer;
    for (; *p != 'e'; ++p) {
        if (*p != '.')
            digits[count++] = *p;
    }
    return std::atoi(p + 1);
}

} // namespace

QString format(long double value, QChar decimalSeparator)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0)
        return QStringLiteral("0");

    char digits[significantDigits];
    const int exponent = significantDigitsOf(value, digits);
    int digitCount = significantDigits;
    while (digitCount > 1 && digits[digitCount - 1] == '0')
        --digitCount;

    char text[48];
    int length = 0;
    if (value < 0)
        text[length++] = '-';
    if (exponent < -4 || exponent >= significantDigits) {
        text[length++] = digits[0];
        if (digitCount > 1) {
            text[length++] = '.';
            for (int i = 1; i < digitCount; ++i)
                text[length++] = digits[i];
        }
        text[length++] = 'E';
        if (exponent < 0)
            text[length++] = '-';
        const auto result = std::to_chars(text + length, text + sizeof text, std::abs(exponent));
        length = static_cast<int>(result.ptr - text);
    } else if (exponent < 0) {
        text[length++] = '0';
        text[length++] = '.';
        for (int i = -1; i > exponent; --i)
            text[length++] = '0';
        for (int i = 0; i < digitCount; ++i)
            text[length++] = digits[i];
    } else {
        for (int i = 0; i <= exponent; ++i)
            text[length++] = i < digitCount ? digits[i] : '0';
        if (digitCount > exponent + 1) {
            text[length++] = '.';
            for (int i = exponent + 1; i < digitCount; ++i)
                text[length++] = digits[i];
        }
    }
    QString result(length, Qt::Uninitialized);
    QChar *out = result.data();
    for (int i = 0; i < length; ++i)
        out[i] = text[i] == '.' ? decimalSeparator : QChar(QLatin1Char(text[i]));
    return result;
}

std::optional<long double> tryParseFloat(const QString &text, QChar decimalSeparator)
{
    const auto *p = reinterpret_cast<const char16_t *>(text.constData());
    const char16_t *end = p + text.size();
    const char16_t separator = decimalSeparator.unicode();
    while (p < end && *p == u' ')
        ++p;
    while (end > p && end[-1] == u' ')
        --end;

    bool negative = false;
    if (p < end && (*p == u'+' || *p == u'-'))
        negative = *p++ == u'-';

    // Copy into a plain C text with '.' as separator: the conversion must not depend on the process
    // locale, which Qt sets from the environment.
    char buffer[512];
    qsizetype out = 0;
    const qsizetype room = qsizetype(sizeof buffer) - 1;

    int mantissaDigits = 0;
    bool separatorSeen = false;
    for (; p < end; ++p) {
        if (*p >= u'0' && *p <= u'9') {
            ++mantissaDigits;
        } else if (*p == separator && !separatorSeen) {
            separatorSeen = true;
        } else {
            break;
        }
        if (out == room)
            return std::nullopt;
        buffer[out++] = *p == separator ? '.' : static_cast<char>(*p);
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (p < end && (*p == u'e' || *p == u'E')) {
        ++p;
        if (out + 2 >= room)
            return std::nullopt;
        buffer[out++] = 'e';
        if (p < end && (*p == u'+' || *p == u'-'))
            buffer[out++] = static_cast<char>(*p++);
        int exponentDigits = 0;
        for (; p < end && *p >= u'0' && *p <= u'9'; ++p, ++exponentDigits) {
            if (out == room)
                return std::nullopt;
            buffer[out++] = static_cast<char>(*p);
        }
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (p != end)
        return std::nullopt;

    // Up to 19 significant digits and a small exponent: the digits and the power of ten are exact in
    // extended precision, so one multiplication or division rounds exactly as the general conversion does.
    if (const auto exact = exactValueOf(buffer, out))
        return negative ? -*exact : *exact;

    long double value = 0;
    const auto result = std::from_chars(buffer, buffer + out, value);
    if (result.ec != std::errc() || result.ptr != buffer + out || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

namespace {

// `text` is digits with at most one ".", then optionally "e", a sign and digits.
std::optional<long double> exactValueOf(const char *text, qsizetype length)
{
    quint64 mantissa = 0;
    int digitCount = 0;
    int scale = 0; // decimal places after the point
    bool afterPoint = false;
    qsizetype i = 0;
    for (; i < length && text[i] != 'e'; ++i) {
        if (text[i] == '.') {
            afterPoint = true;
            continue;
        }
        if (mantissa == 0 && text[i] == '0') {
            if (afterPoint)
                ++scale;
            continue;
        }
        if (++digitCount > 19)
            return std::nullopt;
        mantissa = mantissa * 10 + static_cast<quint64>(text[i] - '0');
        if (afterPoint)
            ++scale;
    }
    int exponent = 0;
    if (i < length) {
        ++i;
        bool negativeExponent = false;
        if (i < length && (text[i] == '+' || text[i] == '-'))
            negativeExponent = text[i++] == '-';
        for (; i < length; ++i) {
            exponent = exponent * 10 + (text[i] - '0');
            if (exponent > 1000)
                return std::nullopt;
        }
        if (negativeExponent)
            exponent = -exponent;
    }
    if (mantissa == 0)
        return 0.0L;
    const int power = exponent - scale;
    if (power > exactPowers || power < -exactPowers)
        return std::nullopt;
    const auto value = static_cast<long double>(mantissa);
    return power >= 0 ? value * powersOfTen[power] : value / powersOfTen[-power];
}

} // namespace

long double parseFloat(const QString &text, QChar decimalSeparator)
{
    if (const auto value = tryParseFloat(text, decimalSeparator))
        return *value;
    throw ConversionError(QStringLiteral("'%1' ist kein gültiger Gleitkommawert").arg(text));
}

double parseDouble(const QString &text, QChar decimalSeparator)
{
    // The largest double's text has its 15 digits rounded up, beyond the largest double: that text stands
    // for the largest double, so that every double's text reads back.
    constexpr long double largestDoubleText = 1.79769313486232e308L;
    if (const auto value = tryParseFloat(text, decimalSeparator)) {
        if (std::fabs(*value) <= largestDoubleText)
            return static_cast<double>(std::clamp<long double>(*value, -DBL_MAX, DBL_MAX));
    }
    throw ConversionError(QStringLiteral("'%1' ist kein gültiger Gleitkommawert").arg(text));
}

std::optional<qint32> tryParseInteger(const QString &text)
{
    qsizetype i = 0;
    const qsizetype length = text.size();
    while (i < length && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == length)
        return std::nullopt;
    qint64 value = 0;
    for (; i < length; ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
        if (value > qint64(1) << 31)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value);
}

qint32 parseInteger(const QString &text)
{
    if (const auto value = tryParseInteger(text))
        return *value;
    throw ConversionError(QStringLiteral("'%1' ist kein gültiger Integerwert").arg(text));
}

} // namespace NumberText
