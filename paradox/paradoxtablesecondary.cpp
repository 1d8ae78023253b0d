// ParadoxTable: the secondary indexes beside a table, kept up to date with its inserts.
#include "paradox/paradoxerror.h"
#include "paradox/paradoxtable.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstring>

void ParadoxTable::loadSecondaries()
{
    // Secondary indexes lie beside the table: <table>.Xnn over one field, <table>.XGn composite.
    const QFileInfo info(m_path);
    const QRegularExpression pattern(QStringLiteral("^%1\\.X(G[0-9A-F]|[0-9A-F]{2})$")
                                         .arg(QRegularExpression::escape(info.completeBaseName())),
                                     QRegularExpression::CaseInsensitiveOption);
    // All or none: a refused one leaves none half loaded for the next attempt.
    std::vector<Secondary> secondaries;
    for (const QString &name : QDir(info.absolutePath()).entryList(QDir::Files, QDir::Name))
        if (pattern.match(name).hasMatch())
            secondaries.push_back(openSecondary(info.absolutePath() + QLatin1Char('/') + name));
    m_secondaries = std::move(secondaries);
}

ParadoxTable::Secondary ParadoxTable::openSecondary(const QString &path) const
{
    // Each is a keyed table of the indexed fields, the table's key and the number of the record's block.
    const auto unmaintainable = [&](const QString &why) {
        return ParadoxError(
            QStringLiteral(
                "Sekundärindex %1 kann nicht mitgeführt werden (%2); die Tabelle wird nicht verändert")
                .arg(path, why));
    };
    Secondary secondary;
    try {
        secondary.table.reset(new ParadoxTable(path, true, Member::OfFamily));
    } catch (const ParadoxError &error) {
        throw unmaintainable(error.text());
    }
    const ParadoxTable &index = *secondary.table;
    const QList<ParadoxField> &fields = index.fields();
    const int indexed = index.data().keyFieldCount() - m_data->keyFieldCount();
    if (!index.m_index)
        throw unmaintainable(QStringLiteral("sein Index fehlt"));
    if (indexed < 1 || fields.size() != index.data().keyFieldCount() + 1 ||
        fields.last().type != ParadoxField::Short)
        throw unmaintainable(QStringLiteral("unbekannter Aufbau"));
    for (int i = 0; i + 1 < fields.size(); ++i) {
        const int source = i < indexed ? m_data->fieldIndex(fields.at(i).name) : i - indexed;
        if (source < 0 || m_data->fields().at(source).type != fields.at(i).type ||
            m_data->fields().at(source).size != fields.at(i).size ||
            (i >= indexed &&
             m_data->fields().at(source).name.compare(fields.at(i).name, Qt::CaseInsensitive)))
            throw unmaintainable(QStringLiteral("Feld %1 passt nicht zur Tabelle").arg(fields.at(i).name));
        secondary.sourceFields.append(source);
    }
    try {
        secondary.table->checkInsertable();
        secondary.table->verifyStructure();
    } catch (const ParadoxError &error) {
        throw unmaintainable(error.text());
    }
    return secondary;
}

void ParadoxTable::stageSecondaries(const QByteArray &record, const Placement &placement)
{
    // Each secondary index gets the record's entry, and the entries of records that a split moved get
    // the number of their new block.
    for (const Secondary &secondary : m_secondaries) {
        const QList<ParadoxField> &fields = secondary.table->fields();
        const auto entryOf = [&](const char *source) {
            QByteArray entry(secondary.table->data().recordSize(), '\0');
            for (qsizetype i = 0; i < secondary.sourceFields.size(); ++i)
                std::memcpy(entry.data() + fields.at(i).offset,
                            source + m_data->fields().at(secondary.sourceFields.at(i)).offset,
                            fields.at(i).size);
            return entry;
        };
        for (const QByteArray &moved : placement.moved)
            secondary.table->stageBlockHint(entryOf(moved.constData()), placement.movedTo);
        QByteArray entry = entryOf(record.constData());
        fields.last().setValue(entry.data(), placement.landed);
        secondary.table->stageInsert(entry);
    }
}

void ParadoxTable::stageBlockHint(const QByteArray &entry, int block)
{
    const int keySize = m_data->keySize();
    int slot = -1;
    const std::vector<IndexNode> path = indexPath(entry.left(keySize), slot);
    const int number = path.back().entries.at(slot).block;
    QByteArray data = m_data->readBlock(number);
    const int count = m_data->recordCount(data);
    for (int i = 0; i < count; ++i) {
        char *stored = data.data() + m_data->recordOffset(i);
        if (compareKeys(stored, entry.constData(), keySize) == 0) {
            fields().last().setValue(stored, block);
            m_data->stageBlock(number, data);
            return;
        }
    }
    throw ParadoxError(
        QStringLiteral("Sekundärindex %1 ist veraltet; die Tabelle wird nicht verändert").arg(m_path));
}
