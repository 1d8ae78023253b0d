#pragma once

#include "core/errors.h"

#include <QChar>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class ParadoxTable;

// One price for Intraday.db: the id, the price and its time.
struct IntradayRecord
{
    qint32 firma = 0;
    double kurs = 0;
    QDateTime zeit;
};

// A failed use of a Norvata table: missing table, unknown index or field, a key text that is no
// number for a number key, a locked table, a duplicate key, a damaged file.
class NorvataError : public ZalventoError
{
public:
    using ZalventoError::ZalventoError;
};

// The table object `Table1`: Norvata's Paradox tables "firma.db" and "Intraday.db", one table at a
// time. One instance serves every caller in turn: each use opens, works and closes. Every operation
// that fails throws NorvataError and leaves the table closed, so the next use starts afresh.
class NorvataTable
{
public:
    // Session configuration mode: only the session's own aliases, never the engine's configuration.
    enum class ConfigMode { AllAliases, SessionAliasesOnly };

    explicit NorvataTable(QChar decimalSeparator = QLatin1Char(','));
    ~NorvataTable();
    NorvataTable(const NorvataTable &) = delete;
    NorvataTable &operator=(const NorvataTable &) = delete;

    // The separator of the number texts that fieldText() gives for number fields.
    void setDecimalSeparator(QChar separator) { m_decimalSeparator = separator; }
    QChar decimalSeparator() const { return m_decimalSeparator; }

    // Session preparation: configuration mode "session aliases only", the password "PeppiLorenz"
    // added to the session's passwords, net file directory = netFileDirectory. Throws NorvataError
    // when the directory does not exist.
    void prepareSession(const QString &netFileDirectory);
    ConfigMode configMode() const { return m_configMode; }
    const QStringList &passwords() const { return m_passwords; }
    const QString &netFileDirectory() const { return m_netFileDirectory; }

    // databaseDirectory ends in "/"; tableName "firma.db" or "Intraday.db" (found case-insensitively);
    // indexName "" (primary), or the name of a secondary index ("IWKN", "IISIN", "Ifirma"). A
    // secondary index is looked up in the table's index files; a table without it is searched in the
    // field of that meaning ("WKN", "ISIN", "Name"). The cursor is then on the first record.
    void open(const QString &databaseDirectory, const QString &tableName, const QString &indexName);
    bool isOpen() const { return m_table != nullptr; }

    // Current record := the first with that key. The key text is converted to the type of the index's
    // first field (a number key needs a number text: throws NorvataError otherwise). Returns false,
    // the cursor unchanged, when no record has that key.
    bool findKey(const QString &key);

    // The current record's field as text ("" when empty): integers in decimal, numbers as number
    // texts with the decimal separator above, texts as they are.
    QString fieldText(const QString &fieldName) const;
    // The field as a floating value; an empty field is 0. Throws for a text field that is no number.
    double fieldFloat(const QString &fieldName) const;
    // The field as a date and time (local time); invalid when empty. Throws for a field of another type.
    QDateTime fieldDateTime(const QString &fieldName) const;
    // Whether the field equals the integer in `integerText`; throws when the text is no integer.
    bool fieldEquals(const QString &fieldName, const QString &integerText) const;

    void next();
    // True once next() passed the last record (and for an empty table).
    bool eof() const;

    // Appends a record with `Firma`, `Kurs` and `Zeit` and posts it: it goes into its place in key
    // order, written crash-safe. Throws on a duplicate key or a locked table.
    void appendRecord(qint32 firma, double kurs, const QDateTime &zeit);

    // Appends and posts all `records` as one crash-safe change: after a crash the table holds all of
    // them or none. A record that cannot be appended (a duplicate key, a value that does not fit) is
    // left out and costs the others nothing. Returns the number appended. Throws NorvataError, the
    // table unchanged and closed, when it cannot be written at all (locked, damaged).
    int appendRecords(const QList<IntradayRecord> &records);

    void close();

private:
    enum class Mode { Primary, Secondary, FieldSearch };

    [[noreturn]] void fail(const QString &text) const;
    template <typename Function> auto guarded(Function function) const;
    const char *currentRecord() const;
    int field(const QString &fieldName) const;
    void openSecondary(const QString &path, const QString &indexName);
    bool positionFromSecondary() const;

    QChar m_decimalSeparator;
    ConfigMode m_configMode = ConfigMode::AllAliases;
    QStringList m_passwords;
    QString m_netFileDirectory;

    // mutable: a failed read closes the table.
    mutable std::unique_ptr<ParadoxTable> m_table;
    mutable std::unique_ptr<ParadoxTable> m_secondary;
    Mode m_mode = Mode::Primary;
    int m_searchField = -1;
    int m_secondaryFields = 0;
};
