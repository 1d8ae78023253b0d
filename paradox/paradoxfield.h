#pragma once

#include <QString>
#include <QVariant>

// One field of a Paradox record: its type code, its width in the record and its place in it.
// Values are stored big-endian with the sign bit flipped, so that the bytes of two values of a numeric
// field compare as the values do; all bytes zero is the NULL value.
class ParadoxField
{
public:
    enum Type : quint8 {
        Alpha = 0x01,
        Date = 0x02,
        Short = 0x03,
        Long = 0x04,
        Currency = 0x05,
        Number = 0x06,
        Logical = 0x09,
        Memo = 0x0C,
        Blob = 0x0D,
        FormattedMemo = 0x0E,
        Ole = 0x0F,
        Graphic = 0x10,
        Time = 0x14,
        Timestamp = 0x15,
        AutoIncrement = 0x16,
        Bcd = 0x17,
        Bytes = 0x18,
    };

    QString name;
    quint8 type = 0;
    int size = 0;
    int offset = 0;
    int codePage = 1252; // of the text, as the table's header names it

    // True when every byte of the field is zero, which is how Paradox stores an empty field.
    bool isNull(const char *record) const;

    // The value of the field in `record`: QString for Alpha (in the field's code page), qint32 for Short,
    // Long and AutoIncrement, double for Number and Currency, QDate, QTime, QDateTime (local time) for the
    // date and time types, bool for Logical, QByteArray (the raw bytes) for all others. NULL, and a date or
    // time too far out to be represented, give an invalid QVariant.
    QVariant value(const char *record) const;

    // Writes `value` into the field of `record`; an invalid QVariant writes NULL. Throws ParadoxError
    // when the value does not fit the field (text too long or holding a character that the code page
    // cannot, no number for a number field).
    void setValue(char *record, const QVariant &value) const;

    // Whether the width declared for the field is the one its type takes (or lies in the type's
    // range). Decoding a field relies on it.
    bool hasValidSize() const;

    // Whether the stored bytes of this type order as its values do (numeric, date and time types).
    bool ordersBytewise() const;

    // Milliseconds since 0001-01-01 plus one day, the form of timestamps in Paradox tables.
    static double timestampFromDateTime(const QDateTime &dateTime);
    // An invalid QDateTime for a value ten thousand years or more from the first day, or no number.
    static QDateTime dateTimeFromTimestamp(double milliseconds);
};
