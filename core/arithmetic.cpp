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
    // nearbyintl rounds in the current mode, which is to nearest with ties to even.
    const long double hundredfold = std::nearbyintl(static_cast<long double>(value) * 100.0L);
    constexpr long double lowest = -9223372036854775808.0L;
    constexpr long double highest = 9223372036854775807.0L;
    if (!(hundredfold >= lowest && hundredfold <= highest))
        throw ArithmeticError(QStringLiteral("Ungültige Gleitkommaoperation"));
    return static_cast<double>(static_cast<long double>(static_cast<qint64>(hundredfold)) / 100.0L);
}

} // namespace Arithmetic
