#include "paradox/paradoxfield.h"

#include "paradox/paradoxcodepage.h"
#include "paradox/paradoxerror.h"

#include <QDateTime>
#include <cmath>
#include <cstring>

namespace {

constexpr qint64 msPerDay = 86'400'000;

quint64 readBigEndian(const char *bytes, int size)
{
    quint64 value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

void writeBigEndian(char *bytes, int size, quint64 value)
{
    for (int i = size - 1; i >= 0; --i) {
        bytes[i] = static_cast<char>(value & 0xFF);
        value >>= 8;
    }
}

// Integers: two's complement with the sign bit flipped.
qint64 readInteger(const char *bytes, int size)
{
    Q_ASSERT(size >= 1 && size <= 8); // the sizes are checked when the table is opened
    const quint64 signBit = quint64(1) << (size * 8 - 1);
    const quint64 raw = readBigEndian(bytes, size) ^ signBit;
    // Sign-extend the size*8-bit value.
    return static_cast<qint64>(raw ^ signBit) - static_cast<qint64>(signBit);
}

void writeInteger(char *bytes, int size, qint64 value)
{
    const quint64 signBit = quint64(1) << (size * 8 - 1);
    writeBigEndian(bytes, size, static_cast<quint64>(value) ^ signBit);
}

// Doubles: positive values with the sign bit set, negative ones with every bit inverted.
double readDouble(const char *bytes)
{
    quint64 raw = readBigEndian(bytes, 8);
    if (raw & (quint64(1) << 63))
        raw &= ~(quint64(1) << 63);
    else
        raw = ~raw;
    double value;
    std::memcpy(&value, &raw, sizeof value);
    return value;
}

void writeDouble(char *bytes, double value)
{
    quint64 raw;
    std::memcpy(&raw, &value, sizeof raw);
    if (raw & (quint64(1) << 63))
        raw = ~raw;
    else
        raw |= quint64(1) << 63;
    writeBigEndian(bytes, 8, raw);
}

const QDate &dayOne()
{
    static const QDate date(1, 1, 1);
    return date;
}

[[noreturn]] void unfit(const ParadoxField &field, const QVariant &value)
{
    throw ParadoxError(
        QStringLiteral("Der Wert '%1' passt nicht in das Feld %2").arg(value.toString(), field.name));
}

} // namespace

bool ParadoxField::isNull(const char *record) const
{
    for (int i = 0; i < size; ++i)
        if (record[offset + i] != 0)
            return false;
    return true;
}

QVariant ParadoxField::value(const char *record) const
{
    const char *bytes = record + offset;
    if (type == Alpha) {
        const int length = static_cast<int>(qstrnlen(bytes, size));
        if (length == 0)
            return {};
        return ParadoxCodePage::decode(QByteArray(bytes, length), codePage);
    }
    if (isNull(record))
        return {};
    switch (type) {
    case Short:
    case Long:
    case AutoIncrement:
        return static_cast<qint32>(readInteger(bytes, size));
    case Number:
    case Currency:
        return readDouble(bytes);
    case Date: {
        const QDate date = dayOne().addDays(readInteger(bytes, 4) - 1);
        return date.isValid() ? QVariant(date) : QVariant();
    }
    case Time: {
        const qint64 ms = readInteger(bytes, 4);
        if (ms < 0 || ms >= msPerDay)
            return {};
        return QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms));
    }
    case Timestamp: {
        const QDateTime dateTime = dateTimeFromTimestamp(readDouble(bytes));
        return dateTime.isValid() ? QVariant(dateTime) : QVariant();
    }
    case Logical:
        return static_cast<unsigned char>(bytes[0]) != 0x80;
    default:
        return QByteArray(bytes, size);
    }
}

namespace {

void writeText(const ParadoxField &field, char *bytes, const QVariant &value)
{
    const std::optional<QByteArray> text = ParadoxCodePage::encode(value.toString(), field.codePage);
    if (!text)
        throw ParadoxError(
            QStringLiteral("Der Text '%1' enthält Zeichen, die die Codeseite %2 von Feld %3 nicht kennt")
                .arg(value.toString())
                .arg(field.codePage)
                .arg(field.name));
    if (text->size() > field.size)
        unfit(field, value);
    std::memcpy(bytes, text->constData(), text->size());
}

} // namespace

void ParadoxField::setValue(char *record, const QVariant &value) const
{
    char *bytes = record + offset;
    std::memset(bytes, 0, size);
    if (!value.isValid() || value.isNull())
        return;
    bool ok = true;
    switch (type) {
    case Alpha:
        writeText(*this, bytes, value);
        return;
    case Short:
    case Long:
    case AutoIncrement: {
        const qlonglong number = value.toLongLong(&ok);
        const qint64 limit = qint64(1) << (size * 8 - 1);
        if (!ok || number < -limit + 1 || number >= limit)
            unfit(*this, value);
        writeInteger(bytes, size, number);
        return;
    }
    case Number:
    case Currency: {
        const double number = value.toDouble(&ok);
        if (!ok || !std::isfinite(number))
            unfit(*this, value);
        writeDouble(bytes, number);
        return;
    }
    case Date: {
        const QDate date = value.toDate();
        if (!date.isValid())
            unfit(*this, value);
        writeInteger(bytes, 4, dayOne().daysTo(date) + 1);
        return;
    }
    case Time: {
        const QTime time = value.toTime();
        if (!time.isValid())
            unfit(*this, value);
        writeInteger(bytes, 4, time.msecsSinceStartOfDay());
        return;
    }
    case Timestamp: {
        const QDateTime dateTime = value.toDateTime();
        if (!dateTime.isValid())
            unfit(*this, value);
        writeDouble(bytes, timestampFromDateTime(dateTime));
        return;
    }
    case Logical:
        bytes[0] = static_cast<char>(value.toBool() ? 0x81 : 0x80);
        return;
    default: {
        const QByteArray raw = value.toByteArray();
        if (raw.size() != size)
            unfit(*this, value);
        std::memcpy(bytes, raw.constData(), size);
        return;
    }
    }
}

bool ParadoxField::hasValidSize() const
{
    switch (type) {
    case Alpha:
    case Bytes:
        return size >= 1 && size <= 255;
    case Short:
        return size == 2;
    case Long:
    case AutoIncrement:
    case Date:
    case Time:
        return size == 4;
    case Number:
    case Currency:
    case Timestamp:
        return size == 8;
    case Logical:
        return size == 1;
    case Bcd:
        return size == 17;
    case Memo:
    case Blob:
    case FormattedMemo:
    case Ole:
    case Graphic:
        return size >= 10 && size <= 255; // the leader: block reference, length, modifier, then text
    default:
        return false;
    }
}

bool ParadoxField::ordersBytewise() const
{
    switch (type) {
    case Short:
    case Long:
    case AutoIncrement:
    case Number:
    case Currency:
    case Date:
    case Time:
    case Timestamp:
    case Logical:
        return true;
    default:
        return false;
    }
}

double ParadoxField::timestampFromDateTime(const QDateTime &dateTime)
{
    // The wall-clock time as shown, whatever the time zone: Paradox stores no zone.
    const qint64 days = dayOne().daysTo(dateTime.date()) + 1;
    return static_cast<double>(days * msPerDay + dateTime.time().msecsSinceStartOfDay());
}

QDateTime ParadoxField::dateTimeFromTimestamp(double milliseconds)
{
    // Ten thousand years either side of the first day: further out there is no date to show, and a
    // damaged field must not overflow the arithmetic below.
    constexpr double limit = 3'652'500.0 * msPerDay;
    if (!std::isfinite(milliseconds) || std::abs(milliseconds) >= limit)
        return {};
    const qint64 ms = static_cast<qint64>(std::llround(milliseconds));
    qint64 days = ms / msPerDay;
    if (ms % msPerDay < 0)
        --days; // times before the first day count back from its midnight
    return QDateTime(dayOne().addDays(days - 1),
                     QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms - days * msPerDay)));
}
