#pragma once

#include <QString>
#include <optional>

// Number texts: the one text form of floating values in cells, boxes, labels, files and the live link.
// The decimal separator is the user's (QLocale::system().decimalPoint() in the program); it is a
// parameter so that the same code serves "," and ".".
namespace NumberText {

// General format: at most 15 significant digits, no trailing zeros, no digit grouping; fixed notation
// for magnitudes from 0.0001 up to below 10^15, exponent form otherwise ("1E-5", "1,5E20").
QString format(long double value, QChar decimalSeparator);

// Lenient parse: blanks before and after, optional sign, digits with the decimal separator, optional
// exponent. Returns nothing for any other text, the empty text included, and for values beyond the
// extended range.
std::optional<long double> tryParseFloat(const QString &text, QChar decimalSeparator);

// As tryParseFloat; throws ConversionError "'<text>' ist kein gültiger Gleitkommawert".
long double parseFloat(const QString &text, QChar decimalSeparator);

// As parseFloat, for a value that is kept as a double: a value beyond the double range counts as no
// number and throws the same ConversionError, so that no infinity reaches a box or a file.
double parseDouble(const QString &text, QChar decimalSeparator);

// A 32-bit signed decimal integer, blanks before it allowed. Returns nothing for anything else.
std::optional<qint32> tryParseInteger(const QString &text);

// As tryParseInteger; throws ConversionError "'<text>' ist kein gültiger Integerwert".
qint32 parseInteger(const QString &text);

} // namespace NumberText
