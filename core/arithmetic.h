#pragma once

// Extended-precision arithmetic of the index calculation. A division by zero, an invalid operation
// or an overflow throws ArithmeticError instead of producing an infinity or not-a-number value.
namespace Arithmetic {

long double multiply(long double a, long double b);
long double divide(long double dividend, long double divisor);
long double add(long double a, long double b);

// Rounds to a double as the calculation stores its values; a value beyond the double range overflows.
double toDouble(long double value);

// Rounds to two decimals: the hundredfold, rounded to the nearest signed 64-bit integer with ties to
// even, divided by 100 at extended precision. 0.125 -> 0.12, 0.375 -> 0.38, 2.675 -> 2.67 (the double
// nearest to 2.675 lies below it). A hundredfold outside the 64-bit range is an invalid operation.
double round2(double value);

} // namespace Arithmetic
