#include "core/arithmetic.h"

#include "core/errors.h"

#include <cfloat>
#include <cmath>

namespace Arithmetic {

namespace {

long double checked(long double result)
{
    if (std::isnan(result))
        throw ArithmeticError(QStringLiteral("Ungültige Gleitkommaoperation"));
    if (std::isinf(result))
        throw ArithmeticError(QStringLiteral("Gleitkommaüberlauf"));
    return result;
}

} // namespace

long double multiply(long double a, long double b)
{
    return checked(a * b);
}

long double divide(long double dividend, long double divisor)
{
    if (divisor == 0) {
        if (dividend == 0)
            throw ArithmeticError(QStringLiteral("Ungültige Gleitkommaoperation"));
        throw ArithmeticError(QStringLiteral("Gleitkommadivision durch Null"));
    }
    return checked(dividend / divisor);
}

long double add(long double a, long double b)
{
    return checked(a + b);
}

double toDouble(long double value)
{
    checked(value);
    if (std::fabs(value) > static_cast<long double>(DBL_MAX))
        throw ArithmeticError(QStringLiteral("Gleitkommaüberlauf"));
    return static_cast<double>(value);
}

double round2(double value)
{
    if (value == 0)
        return 0;
    checked(value);
    const long double hundredfold = static_cast<long double>(value) * 100.0L;
    constexpr long double lowest = -9223372036854775808.0L;
    constexpr long double highest = 9223372036854775807.0L;
    // Rounded to the nearest integer, a tie to the even one: outside the signed 64-bit range the rounding
    // has no result. (Done by hand: the library's rounding saves and restores the floating environment.)
    if (!(hundredfold > lowest - 0.5L && hundredfold < highest + 0.5L))
        throw ArithmeticError(QStringLiteral("Ungültige Gleitkommaoperation"));
    const long double magnitude = std::fabs(hundredfold);
    if (magnitude >= highest)
        throw ArithmeticError(QStringLiteral("Ungültige Gleitkommaoperation"));
    auto whole = static_cast<qint64>(magnitude);
    const long double fraction = magnitude - static_cast<long double>(whole);
    if (fraction > 0.5L || (fraction == 0.5L && (whole & 1)))
        ++whole;
    const long double rounded =
        hundredfold < 0 ? -static_cast<long double>(whole) : static_cast<long double>(whole);
    return static_cast<double>(rounded / 100.0L);
}

} // namespace Arithmetic
