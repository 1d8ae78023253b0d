#include "norvata/norvatatable.h"

#include "core/numbertext.h"
#include "core/programfiles.h"
#include "paradox/paradoxerror.h"
#include "paradox/paradoxtable.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QString tablePassword = QStringLiteral("PeppiLorenz");

// The field searched when a table has no index files of that name.
QString fieldOfIndex(const QString &indexName)
{
    if (indexName.compare(QLatin1String("IWKN"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("WKN");
    if (indexName.compare(QLatin1String("IISIN"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("ISIN");
    if (indexName.compare(QLatin1String("Ifirma"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Name");
    return indexName;
}

} // namespace

NorvataTable::NorvataTable(QChar decimalSeparator) : m_decimalSeparator(decimalSeparator) {}

NorvataTable::~NorvataTable() = default;

void NorvataTable::prepareSession(const QString &netFileDirectory)
{
    if (!QFileInfo(netFileDirectory).isDir())
        throw NorvataError(QStringLiteral("Verzeichnis %1 ist nicht zugänglich").arg(netFileDirectory));
    m_configMode = ConfigMode::SessionAliasesOnly;
    if (!m_passwords.contains(tablePassword))
        m_passwords.append(tablePassword);
    m_netFileDirectory = netFileDirectory;
}

void NorvataTable::fail(const QString &text) const
{
    m_secondary.reset();
    m_table.reset();
    throw NorvataError(text);
}

template <typename Function> auto NorvataTable::guarded(Function function) const
{
    if (!m_table)
        throw NorvataError(QStringLiteral("Tabelle ist nicht geöffnet"));
    try {
        return function();
    } catch (const NorvataError &error) {
        fail(error.text());
    } catch (const ZalventoError &error) {
        fail(error.text());
    } catch (const std::exception &error) {
        fail(QString::fromLocal8Bit(error.what()));
    }
}

void NorvataTable::open(const QString &databaseDirectory, const QString &tableName, const QString &indexName)
{
    close();
    const QString path = ProgramFiles::resolve(databaseDirectory, tableName);
    if (!QFileInfo(path).isFile())
        throw NorvataError(QStringLiteral("Tabelle %1 existiert nicht").arg(path));
    try {
        try {
            m_table = std::make_unique<ParadoxTable>(path, true);
        } catch (const ParadoxError &) {
            if (QFileInfo(path).isWritable())
                throw;
            m_table = std::make_unique<ParadoxTable>(path, false); // a read-only table can still be read
        }
        m_mode = Mode::Primary;
        if (!indexName.isEmpty())
            openSecondary(path, indexName);
        m_table->moveFirst();
        if (m_secondary && m_secondary->moveFirst())
            positionFromSecondary();
    } catch (const ZalventoError &error) {
        fail(error.text());
    }
}

void NorvataTable::openSecondary(const QString &path, const QString &indexName)
{
    // Secondary indexes are files beside the table named after it: .Xnn for one field (opened by the
    // field's name), .XGn for a named index (opened by its stored name).
    const QFileInfo info(path);
    const QRegularExpression pattern(QStringLiteral("^%1\\.X(G[0-9A-F]|[0-9A-F]{2})$")
                                         .arg(QRegularExpression::escape(info.completeBaseName())),
                                     QRegularExpression::CaseInsensitiveOption);
    const QStringList candidates = QDir(info.absolutePath()).entryList(QDir::Files, QDir::Name);
    for (const QString &name : candidates) {
        if (!pattern.match(name).hasMatch())
            continue;
        const QString candidate = info.absolutePath() + QLatin1Char('/') + name;
        try {
            if (ParadoxFile(candidate, false).indexName().compare(indexName, Qt::CaseInsensitive) != 0)
                continue;
        } catch (const ParadoxError &) {
            continue; // not a readable index file; another one may be
        }
        m_secondary = std::make_unique<ParadoxTable>(candidate, false);
        m_secondaryFields = m_secondary->data().keyFieldCount() - m_table->data().keyFieldCount();
        if (m_secondaryFields < 1 || m_table->data().keyFieldCount() < 1)
            throw NorvataError(QStringLiteral("Index %1 von %2 ist unbrauchbar").arg(indexName, path));
        m_mode = Mode::Secondary;
        return;
    }
    m_searchField = m_table->data().fieldIndex(fieldOfIndex(indexName));
    if (m_searchField < 0)
        throw NorvataError(QStringLiteral("Index %1 von %2 existiert nicht").arg(indexName, path));
    m_mode = Mode::FieldSearch;
}

bool NorvataTable::positionFromSecondary() const
{
    // The secondary record holds the indexed fields, then the table's key.
    const ParadoxField &keyStart = m_secondary->fields().at(m_secondaryFields);
    const QByteArray key(m_secondary->record() + keyStart.offset, m_table->data().keySize());
    if (!m_table->seek(key))
        throw NorvataError(QStringLiteral("Index von %1 ist veraltet").arg(m_table->data().path()));
    return true;
}

bool NorvataTable::findKey(const QString &key)
{
    return guarded([&] {
        switch (m_mode) {
        case Mode::Primary: {
            if (m_table->data().keyFieldCount() < 1)
                throw NorvataError(
                    QStringLiteral("Tabelle %1 hat keinen Primärindex").arg(m_table->data().path()));
            const ParadoxField &first = m_table->fields().first();
            QVariant value;
            switch (first.type) {
            case ParadoxField::Short:
            case ParadoxField::Long:
            case ParadoxField::AutoIncrement:
                value = NumberText::parseInteger(key);
                break;
            case ParadoxField::Number:
            case ParadoxField::Currency:
                value = static_cast<double>(NumberText::parseFloat(key, m_decimalSeparator));
                break;
            default:
                value = key;
            }
            QByteArray record(m_table->data().recordSize(), '\0');
            first.setValue(record.data(), value);
            return m_table->seek(record.left(first.size));
        }
        case Mode::Secondary: {
            const ParadoxField &indexed = m_secondary->fields().first();
            for (bool more = m_secondary->moveFirst(); more; more = m_secondary->moveNext())
                if (indexed.value(m_secondary->record()).toString() == key)
                    return positionFromSecondary();
            return false;
        }
        case Mode::FieldSearch: {
            const ParadoxField &searched = m_table->fields().at(m_searchField);
            for (bool more = m_table->moveFirst(); more; more = m_table->moveNext())
                if (searched.value(m_table->record()).toString() == key)
                    return true;
            m_table->moveFirst();
            return false;
        }
        }
        return false;
    });
}

const char *NorvataTable::currentRecord() const
{
    return m_table->hasRecord() ? m_table->record() : nullptr;
}

int NorvataTable::field(const QString &fieldName) const
{
    const int index = m_table->data().fieldIndex(fieldName);
    if (index < 0)
        throw NorvataError(QStringLiteral("Feld '%1' nicht gefunden").arg(fieldName));
    return index;
}

QString NorvataTable::fieldText(const QString &fieldName) const
{
    return guarded([&] {
        const ParadoxField &f = m_table->fields().at(field(fieldName));
        const char *record = currentRecord();
        const QVariant value = record ? f.value(record) : QVariant();
        if (!value.isValid())
            return QString();
        switch (f.type) {
        case ParadoxField::Number:
        case ParadoxField::Currency:
            return NumberText::format(value.toDouble(), m_decimalSeparator);
        case ParadoxField::Date:
            return value.toDate().toString(QStringLiteral("dd.MM.yyyy"));
        case ParadoxField::Time:
            return value.toTime().toString(QStringLiteral("hh:mm:ss"));
        case ParadoxField::Timestamp:
            return value.toDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
        case ParadoxField::Logical:
            return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
        default:
            return value.toString();
        }
    });
}

QDateTime NorvataTable::fieldDateTime(const QString &fieldName) const
{
    return guarded([&] {
        const ParadoxField &f = m_table->fields().at(field(fieldName));
        if (f.type != ParadoxField::Timestamp)
            throw NorvataError(QStringLiteral("Feld '%1' ist kein Zeitstempel").arg(fieldName));
        const char *record = currentRecord();
        const QVariant value = record ? f.value(record) : QVariant();
        return value.isValid() ? value.toDateTime() : QDateTime();
    });
}

double NorvataTable::fieldFloat(const QString &fieldName) const
{
    return guarded([&] {
        const ParadoxField &f = m_table->fields().at(field(fieldName));
        const char *record = currentRecord();
        const QVariant value = record ? f.value(record) : QVariant();
        if (!value.isValid())
            return 0.0;
        switch (f.type) {
        case ParadoxField::Alpha:
            return static_cast<double>(NumberText::parseFloat(value.toString(), m_decimalSeparator));
        case ParadoxField::Short:
        case ParadoxField::Long:
        case ParadoxField::AutoIncrement:
        case ParadoxField::Number:
        case ParadoxField::Currency:
            return value.toDouble();
        default:
            throw NorvataError(QStringLiteral("Feld '%1' ist keine Zahl").arg(fieldName));
        }
    });
}

bool NorvataTable::fieldEquals(const QString &fieldName, const QString &integerText) const
{
    return guarded([&] {
        const qint32 wanted = NumberText::parseInteger(integerText);
        const ParadoxField &f = m_table->fields().at(field(fieldName));
        const char *record = currentRecord();
        const QVariant value = record ? f.value(record) : QVariant();
        switch (f.type) {
        case ParadoxField::Alpha:
            return value.isValid() && NumberText::parseInteger(value.toString()) == wanted;
        case ParadoxField::Short:
        case ParadoxField::Long:
        case ParadoxField::AutoIncrement:
            return value.toInt() == wanted; // an empty field reads as 0
        case ParadoxField::Number:
        case ParadoxField::Currency:
            return value.toDouble() == wanted;
        default:
            throw NorvataError(QStringLiteral("Feld '%1' ist keine Zahl").arg(fieldName));
        }
    });
}

void NorvataTable::next()
{
    guarded([&] {
        if (m_mode == Mode::Secondary) {
            if (m_secondary->moveNext())
                positionFromSecondary();
        } else {
            m_table->moveNext();
        }
    });
}

bool NorvataTable::eof() const
{
    return guarded([&] { return m_mode == Mode::Secondary ? m_secondary->atEnd() : m_table->atEnd(); });
}

void NorvataTable::appendRecord(qint32 firma, double kurs, const QDateTime &zeit)
{
    guarded([&] {
        QByteArray record(m_table->data().recordSize(), '\0');
        m_table->fields().at(field(QStringLiteral("Firma"))).setValue(record.data(), firma);
        m_table->fields().at(field(QStringLiteral("Kurs"))).setValue(record.data(), kurs);
        m_table->fields().at(field(QStringLiteral("Zeit"))).setValue(record.data(), zeit);
        m_table->insert(record);
    });
}

int NorvataTable::appendRecords(const QList<IntradayRecord> &records)
{
    return guarded([&] {
        const ParadoxField &firma = m_table->fields().at(field(QStringLiteral("Firma")));
        const ParadoxField &kurs = m_table->fields().at(field(QStringLiteral("Kurs")));
        const ParadoxField &zeit = m_table->fields().at(field(QStringLiteral("Zeit")));
        QList<QByteArray> bytes;
        for (const IntradayRecord &record : records) {
            QByteArray row(m_table->data().recordSize(), '\0');
            try {
                firma.setValue(row.data(), record.firma);
                kurs.setValue(row.data(), record.kurs);
                zeit.setValue(row.data(), record.zeit);
            } catch (const ParadoxError &) {
                continue; // this record only
            }
            bytes.append(row);
        }
        return static_cast<int>(m_table->insertAll(bytes).count(QString()));
    });
}

void NorvataTable::close()
{
    m_secondary.reset();
    m_table.reset();
    m_mode = Mode::Primary;
    m_searchField = -1;
}
