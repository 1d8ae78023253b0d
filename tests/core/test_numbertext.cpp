#include "core/arithmetic.h"
#include "core/errors.h"
#include "core/numbertext.h"

#include <QRandomGenerator>
#include <QTest>
#include <charconv>

namespace {

// The 15 significant digits (trailing zeros dropped) and the decimal exponent of a number text in
// exponent or fixed form, or of the library's exact conversion.
QPair<QByteArray, int> digitsOf(const QString &text)
{
    QByteArray mantissa = text.toLatin1();
    int exponent = 0;
    if (const qsizetype e = mantissa.indexOf('E'); e >= 0) {
        exponent = mantissa.mid(e + 1).toInt();
        mantissa.truncate(e);
    }
    mantissa.replace("-", "");
    qsizetype point = mantissa.indexOf('.');
    if (point < 0)
        point = mantissa.size();
    mantissa.remove(point, 1);
    qsizetype first = 0;
    while (first < mantissa.size() - 1 && mantissa[first] == '0')
        ++first;
    exponent += int(point - first - 1);
    mantissa = mantissa.mid(first);
    while (mantissa.size() > 1 && mantissa.endsWith('0'))
        mantissa.chop(1);
    return {mantissa, exponent};
}

QPair<QByteArray, int> exactDigitsOf(long double value)
{
    char buffer[64];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14).ptr;
    return digitsOf(QString::fromLatin1(buffer, end - buffer).toUpper());
}

} // namespace

class TestNumberText : public QObject
{
    Q_OBJECT

private slots:
    void format_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("comma");
        QTest::addColumn<QString>("point");
        QTest::newRow("zero") << 0.0 << "0"
                              << "0";
        QTest::newRow("negative zero") << -0.0 << "0"
                                       << "0";
        QTest::newRow("whole") << 10422.0 << "10422"
                               << "10422";
        QTest::newRow("cents") << 10422.22 << "10422,22"
                               << "10422.22";
        QTest::newRow("negative") << -12.5 << "-12,5"
                                  << "-12.5";
        QTest::newRow("smallest fixed") << 0.0001 << "0,0001"
                                        << "0.0001";
        QTest::newRow("below fixed") << 0.00001 << "1E-5"
                                     << "1E-5";
        QTest::newRow("small mantissa") << 0.000015 << "1,5E-5"
                                        << "1.5E-5";
        QTest::newRow("largest fixed") << 999999999999999.0 << "999999999999999"
                                       << "999999999999999";
        QTest::newRow("1E15") << 1e15 << "1E15"
                              << "1E15";
        QTest::newRow("1,5E20") << 1.5e20 << "1,5E20"
                                << "1.5E20";
        QTest::newRow("15 digits") << 0.1 + 0.2 << "0,3"
                                   << "0.3";
        QTest::newRow("rounds up to exponent") << 999999999999999.9 << "1E15"
                                               << "1E15";
        QTest::newRow("product") << 37.02 << "37,02"
                                 << "37.02";
        QTest::newRow("large exponent") << 1.7976931348623157e308 << "1,79769313486232E308"
                                        << "1.79769313486232E308";
    }

    void format()
    {
        QFETCH(double, value);
        QFETCH(QString, comma);
        QFETCH(QString, point);
        QCOMPARE(NumberText::format(value, QLatin1Char(',')), comma);
        QCOMPARE(NumberText::format(value, QLatin1Char('.')), point);
    }

    void formatExtendedProduct()
    {
        // The calculation writes extended products: 12,34 x 3 shows as 37,02, not 37,019999...
        const long double product = 12.34L * 3.0L;
        QCOMPARE(NumberText::format(product, QLatin1Char(',')), QStringLiteral("37,02"));
    }

    // The fast paths of formatting and parsing give what the exact library conversions give.
    void agreesWithTheExactConversions()
    {
        QRandomGenerator random(20261209);
        for (int i = 0; i < 200000; ++i) {
            const int digits = 1 + int(random.bounded(19));
            QByteArray text;
            for (int d = 0; d < digits; ++d)
                text += char('0' + random.bounded(10));
            const int exponent = int(random.bounded(60)) - 30;
            text += 'e' + QByteArray::number(exponent);
            long double exact = 0;
            std::from_chars(text.constData(), text.constData() + text.size(), exact);
            const auto parsed = NumberText::tryParseFloat(QString::fromLatin1(text), QLatin1Char(','));
            QVERIFY2(parsed && *parsed == exact, text.constData());
            if (exact == 0)
                continue;
            const long double value = (i % 3 == 0) ? exact / 3 : exact;
            QCOMPARE(digitsOf(NumberText::format(value, QLatin1Char('.'))), exactDigitsOf(value));
        }
    }

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << "12,34" << true << 12.34;
        QTest::newRow("blanks around") << "  12,5  " << true << 12.5;
        QTest::newRow("plus sign") << "+3" << true << 3.0;
        QTest::newRow("minus sign") << "-3,5" << true << -3.5;
        QTest::newRow("exponent") << "1,5E20" << true << 1.5e20;
        QTest::newRow("lower exponent") << "1e-5" << true << 1e-5;
        QTest::newRow("exponent sign") << "2E+3" << true << 2000.0;
        QTest::newRow("leading separator") << ",5" << true << 0.5;
        QTest::newRow("trailing separator") << "5," << true << 5.0;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("blank") << "   " << false << 0.0;
        QTest::newRow("other separator") << "12.34" << false << 0.0;
        QTest::newRow("grouping") << "1.234,56" << false << 0.0;
        QTest::newRow("two separators") << "1,2,3" << false << 0.0;
        QTest::newRow("exponent without digits") << "1E" << false << 0.0;
        QTest::newRow("letters") << "abc" << false << 0.0;
        QTest::newRow("sign only") << "-" << false << 0.0;
        QTest::newRow("nan") << "NAN" << false << 0.0;
        QTest::newRow("inf") << "INF" << false << 0.0;
        QTest::newRow("beyond extended") << "1E99999" << false << 0.0;
        QTest::newRow("tab") << "\t5" << false << 0.0;
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(double, value);
        const auto parsed = NumberText::tryParseFloat(text, QLatin1Char(','));
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(static_cast<double>(*parsed), value);
    }

    void parseWithPoint()
    {
        QCOMPARE(static_cast<double>(NumberText::parseFloat(QStringLiteral("10422.22"), QLatin1Char('.'))),
                 10422.22);
        QVERIFY(!NumberText::tryParseFloat(QStringLiteral("10422,22"), QLatin1Char('.')));
    }

    // A value kept as a double: beyond the double range it is no number, but the largest double's own
    // text, rounded up to 15 digits, reads back.
    void parseDouble_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        QTest::newRow("largest double's text") << "1,79769313486232E308" << true << 1.7976931348623157e308;
        QTest::newRow("negative") << "-1,79769313486232E308" << true << -1.7976931348623157e308;
        QTest::newRow("next text up") << "1,79769313486233E308" << false << 0.0;
        QTest::newRow("below the double range") << "1E-400" << true << 0.0;
    }

    void parseDouble()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(double, value);
        try {
            QCOMPARE(NumberText::parseDouble(text, QLatin1Char(',')), value);
            QVERIFY(valid);
        } catch (const ConversionError &e) {
            QVERIFY(!valid);
            QCOMPARE(e.text(), "'" + text + "' ist kein gültiger Gleitkommawert");
        }
    }

    void parseErrorTexts()
    {
        try {
            NumberText::parseFloat(QStringLiteral("x1"), QLatin1Char(','));
            QFAIL("no error");
        } catch (const ConversionError &e) {
            QCOMPARE(e.text(), QStringLiteral("'x1' ist kein gültiger Gleitkommawert"));
        }
        try {
            NumberText::parseInteger(QStringLiteral("1,5"));
            QFAIL("no error");
        } catch (const ConversionError &e) {
            QCOMPARE(e.text(), QStringLiteral("'1,5' ist kein gültiger Integerwert"));
        }
    }

    void integer_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("zero") << "0" << true << 0;
        QTest::newRow("leading blanks") << "  42" << true << 42;
        QTest::newRow("negative") << "-7" << true << -7;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << true << int(-2147483648LL);
        QTest::newRow("too large") << "2147483648" << false << 0;
        QTest::newRow("far too large") << "99999999999999999999" << false << 0;
        QTest::newRow("fraction") << "1,5" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("trailing blank") << "5 " << false << 0;
        QTest::newRow("sign only") << "+" << false << 0;
    }

    void integer()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const auto parsed = NumberText::tryParseInteger(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(*parsed, value);
    }

    void round2_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("rounded");
        QTest::newRow("zero") << 0.0 << 0.0;
        QTest::newRow("0.125 to even") << 0.125 << 0.12;
        QTest::newRow("0.375 to even") << 0.375 << 0.38;
        QTest::newRow("-0.125") << -0.125 << -0.12;
        QTest::newRow("2.675 lies below") << 2.675 << 2.67;
        QTest::newRow("index") << 93.8 * 1000 / 9 << 10422.22;
        QTest::newRow("largest in range") << 9.2e16 << 9.2e16;
    }

    void round2()
    {
        QFETCH(double, value);
        QFETCH(double, rounded);
        QCOMPARE(Arithmetic::round2(value), rounded);
    }

    void round2OutsideRangeIsInvalid()
    {
        QVERIFY_THROWS_EXCEPTION(ArithmeticError, Arithmetic::round2(1e17));
        QVERIFY_THROWS_EXCEPTION(ArithmeticError, Arithmetic::round2(-1e300));
    }

    void arithmeticErrors()
    {
        QVERIFY_THROWS_EXCEPTION(ArithmeticError, Arithmetic::divide(1, 0));
        QVERIFY_THROWS_EXCEPTION(ArithmeticError, Arithmetic::divide(0, 0));
        QVERIFY_THROWS_EXCEPTION(ArithmeticError, Arithmetic::multiply(1e4000L, 1e4000L));
        QVERIFY_THROWS_EXCEPTION(ArithmeticError, Arithmetic::toDouble(1e400L));
    }
};

QTEST_GUILESS_MAIN(TestNumberText)
#include "test_numbertext.moc"
