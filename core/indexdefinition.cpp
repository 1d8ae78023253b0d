#include "core/indexdefinition.h"

#include "core/errors.h"
#include "core/indexfile.h"
#include "core/indextable.h"
#include "core/indexwindow.h"
#include "core/numbertext.h"
#include "core/programfiles.h"

#include <QFile>

namespace {

const QStringList headers = {
    QStringLiteral("Name"),          QStringLiteral("WKN"), QStringLiteral("Kurswert"), QStringLiteral("Fi"),
    QStringLiteral("Wichtung in %"), QStringLiteral("NV"),  QStringLiteral("NV_Ask")};

constexpr int storedColumns = 7;

} // namespace

IndexDefinition::IndexDefinition(IndexWindow &window, QChar decimalSeparator)
    : m_window(window), m_decimalSeparator(decimalSeparator)
{
}

void IndexDefinition::load(const QString &path)
{
    IndexTable &table = m_window.table();
    for (int column = 0; column < storedColumns; ++column)
        table.setCell(column, 0, headers[column]);

    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            throw FileError(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(path));
        IndexFile::LineReader lines(file.readAll());
        file.close();

        IndexFirma = 0;
        Referenzkurs = NumberText::parseDouble(lines.readLine(), m_decimalSeparator);
        m_window.setReferenzkursText(NumberText::format(Referenzkurs, m_decimalSeparator));
        IndexFirma = NumberText::parseInteger(lines.readLine());
        m_window.setIndexFirmaText(QString::number(IndexFirma));

        int row = 1;
        while (!lines.atEnd()) {
            for (int column = 0; column < storedColumns; ++column)
                table.setCell(column, row, lines.readLine());
            ++row;
            table.setRows(row);
        }
        table.setRows(row);
        m_window.setComponentCount(row - 1);
    }
    table.setColumns(storedColumns);
}

void IndexDefinition::save(const QString &path) const
{
    const IndexTable &table = m_window.table();
    QStringList values;
    values.reserve(2 + (table.rows() - 1) * storedColumns);
    values << m_window.referenzkursText() << m_window.indexFirmaText();
    for (int row = 1; row < table.rows(); ++row) {
        for (int column = 0; column < storedColumns; ++column)
            values << table.cell(column, row);
    }
    ProgramFiles::writeAtomically(path, IndexFile::compose(values));
}

void IndexDefinition::referenzkursEdited(const QString &text)
{
    if (const auto value = NumberText::tryParseInteger(text))
        Referenzkurs = *value;
}

void IndexDefinition::indexFirmaEdited(const QString &text)
{
    if (const auto value = NumberText::tryParseInteger(text))
        IndexFirma = *value;
}
