#include "norvata/identifierlookup.h"

#include "core/errors.h"
#include "core/indexdefinition.h"
#include "core/indextable.h"
#include "core/indexwindow.h"
#include "core/numbertext.h"
#include "norvata/norvatatable.h"

namespace {

const QString firmaTable = QStringLiteral("firma.db");
const QString firmaField = QStringLiteral("Firma");

void lookUp(NorvataTable &table, const QString &dataFolder, const QString &indexName, IndexWindow &window,
            IndexDefinition &definition)
{
    IndexTable &grid = window.table();
    const int rows = grid.rows();

    table.open(dataFolder, firmaTable, QStringLiteral("IWKN"));
    for (int row = 1; row < rows; ++row) // bid pass
        grid.setCell(IndexTable::NV, row,
                     table.findKey(grid.cell(IndexTable::WKN, row) + QStringLiteral("_Bid"))
                         ? table.fieldText(firmaField)
                         : QStringLiteral("0"));
    for (int row = 1; row < rows; ++row) // ask pass
        if (table.findKey(grid.cell(IndexTable::WKN, row) + QStringLiteral("_Ask")))
            grid.setCell(IndexTable::NV_Ask, row, table.fieldText(firmaField));
    for (int row = 1; row < rows; ++row) { // single-series pass
        if (grid.cell(IndexTable::NV, row) != QLatin1String("0"))
            continue;
        if (table.findKey(grid.cell(IndexTable::WKN, row))) {
            const QString id = table.fieldText(firmaField);
            grid.setCell(IndexTable::NV, row, id);
            grid.setCell(IndexTable::NV_Ask, row, id);
        }
    }
    table.close();

    table.open(dataFolder, firmaTable, QStringLiteral("IISIN"));
    for (int row = 1; row < rows; ++row) // ISIN pass
        if (grid.cell(IndexTable::WKN, row) == QLatin1String("0") &&
            table.findKey(grid.cell(IndexTable::NV_Ask, row)))
            grid.setCell(IndexTable::WKN, row, table.fieldText(firmaField));
    table.close();

    table.open(dataFolder, firmaTable, QStringLiteral("Ifirma"));
    if (table.findKey(indexName))
        window.setIndexFirmaText(table.fieldText(firmaField));
    definition.IndexFirma = NumberText::parseInteger(window.indexFirmaText());
    table.close();
}

} // namespace

void lookUpNorvataIds(NorvataTable &table, const QString &dataFolder, const QString &indexName,
                      IndexWindow &window, IndexDefinition &definition)
{
    try {
        lookUp(table, dataFolder, indexName, window, definition);
    } catch (const ZalventoError &) {
        table.close(); // silent by design: what was filled in so far stays
    }
}
