#include "core/numbertext.h"

#include "core/errors.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace NumberText {

namespace {

constexpr int significantDigits = 15;

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ');
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

    // Round to 15 significant digits first: the rounding decides the exponent (9,99999999999999949E14
    // becomes 1E15 and thus exponent form).
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific,
                                      significantDigits - 1);
    *result.ptr = '\0';

    // buffer: [-]d.dddddddddddddde[+-]xx
    const char *p = buffer;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    char digits[significantDigits];
    int digitCount = 0;
    for (; *p != 'e'; ++p) {
        if (*p != '.')
            digits[digitCount++] = *p;
    }
    const int exponent = std::atoi(p + 1);
    while (digitCount > 1 && digits[digitCount - 1] == '0')
        --digitCount;

    QString text;
    text.reserve(24);
    if (negative)
        text += QLatin1Char('-');

    if (exponent < -4 || exponent >= significantDigits) {
        text += QLatin1Char(digits[0]);
        if (digitCount > 1) {
            text += decimalSeparator;
            for (int i = 1; i < digitCount; ++i)
                text += QLatin1Char(digits[i]);
        }
        text += QLatin1Char('E');
        if (exponent < 0)
            text += QLatin1Char('-');
        text += QString::number(std::abs(exponent));
        return text;
    }

    if (exponent < 0) {
        text += QLatin1Char('0');
        text += decimalSeparator;
        for (int i = -1; i > exponent; --i)
            text += QLatin1Char('0');
        for (int i = 0; i < digitCount; ++i)
            text += QLatin1Char(digits[i]);
        return text;
    }

    for (int i = 0; i <= exponent; ++i)
        text += QLatin1Char(i < digitCount ? digits[i] : '0');
    if (digitCount > exponent + 1) {
        text += decimalSeparator;
        for (int i = exponent + 1; i < digitCount; ++i)
            text += QLatin1Char(digits[i]);
    }
    return text;
}

std::optional<long double> tryParseFloat(const QString &text, QChar decimalSeparator)
{
    const qsizetype length = text.size();
    qsizetype i = 0;
    while (i < length && isBlank(text[i]))
        ++i;
    qsizetype end = length;
    while (end > i && isBlank(text[end - 1]))
        --end;

    // Copy into a plain C text with '.' as separator: the conversion must not depend on the
    // process locale, which Qt sets from the environment.
    char buffer[512];
    qsizetype out = 0;
    const auto put = [&](char c) {
        if (out + 1 >= qsizetype(sizeof buffer))
            return false;
        buffer[out++] = c;
        return true;
    };

    bool negative = false;
    if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int mantissaDigits = 0;
    bool separatorSeen = false;
    for (; i < end; ++i) {
        const QChar c = text[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (!put(char(c.unicode())))
                return std::nullopt;
            ++mantissaDigits;
        } else if (c == decimalSeparator && !separatorSeen) {
            separatorSeen = true;
            if (!put('.'))
                return std::nullopt;
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < end && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        ++i;
        put('e');
        if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
            put(char(text[i].unicode()));
            ++i;
        }
        int exponentDigits = 0;
        for (; i < end && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i, ++exponentDigits) {
            if (!put(char(text[i].unicode())))
                return std::nullopt;
        }
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != end)
        return std::nullopt;

    long double value = 0;
    const auto result = std::from_chars(buffer, buffer + out, value);
    if (result.ec != std::errc() || result.ptr != buffer + out || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

long double parseFloat(const QString &text, QChar decimalSeparator)
{
    if (const auto value = tryParseFloat(text, decimalSeparator))
        return *value;
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
