// Number texts and the checked arithmetic. The first byte chooses the decimal separator; the rest is
// read as a text, and its first 16 bytes also as two doubles. A text that parses gives a finite value
// whose text parses back to the same text; every finite double's text reads back as a double; the
// arithmetic gives a finite result or its error, never an infinity or not-a-number value.

#include "core/arithmetic.h"
#include "core/errors.h"
#include "core/numbertext.h"
#include "fuzztarget.h"

#include <cmath>
#include <cstring>

namespace {

void checkTextReadsBack(long double value, QChar separator)
{
    const QString text = NumberText::format(value, separator);
    const auto parsed = NumberText::tryParseFloat(text, separator);
    FUZZ_CHECK(parsed.has_value());
    FUZZ_CHECK(NumberText::format(*parsed, separator) == text);
}

template <typename Operation> void checkFinite(Operation operation)
{
    try {
        const long double result = operation();
        FUZZ_CHECK(std::isfinite(result));
    } catch (const ArithmeticError &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QChar separator = (data[0] & 1) ? QLatin1Char(',') : QLatin1Char('.');
    const QString text = QString::fromLatin1(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    if (const auto value = NumberText::tryParseFloat(text, separator)) {
        FUZZ_CHECK(std::isfinite(*value));
        checkTextReadsBack(*value, separator);
        try {
            const double held = NumberText::parseDouble(text, separator);
            FUZZ_CHECK(std::isfinite(held));
            checkTextReadsBack(held, separator);
        } catch (const ConversionError &) {
        }
    }
    if (const auto number = NumberText::tryParseInteger(text))
        FUZZ_CHECK(NumberText::tryParseInteger(QString::number(*number)) == number);

    if (size >= 17) {
        double a = 0;
        double b = 0;
        std::memcpy(&a, data + 1, sizeof a);
        std::memcpy(&b, data + 9, sizeof b);
        if (std::isfinite(a)) {
            const QString written = NumberText::format(a, separator);
            double readBack = 0;
            try {
                readBack = NumberText::parseDouble(written, separator);
            } catch (const ConversionError &error) {
                std::fprintf(stderr, "a double's text does not read back: %s\n", qPrintable(error.text()));
                FUZZ_CHECK(false);
            }
            FUZZ_CHECK(NumberText::format(readBack, separator) == written);
            checkFinite([a] { return Arithmetic::round2(a); });
        }
        if (std::isfinite(a) && std::isfinite(b)) {
            checkFinite([a, b] { return Arithmetic::multiply(a, b); });
            checkFinite([a, b] { return Arithmetic::divide(a, b); });
            checkFinite([a, b] { return Arithmetic::add(a, b); });
            checkFinite([a, b] { return Arithmetic::toDouble(Arithmetic::multiply(a, b)); });
        }
    }
    return 0;
}
