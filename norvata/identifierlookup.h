#pragma once

#include <QString>

class IndexDefinition;
class IndexWindow;
class NorvataTable;

// The menu command "NV-ID auslesen": fills in the Norvata ids of the index
// table (columns 5 "NV" and 6 "NV_Ask", and column 1 "WKN" of rows whose WKN is "0") and the index's
// own id from "firma.db" in `dataFolder`, through its indexes "IWKN", "IISIN" and "Ifirma".
// Sets "NV Index" through window.setIndexFirmaText() and then definition.IndexFirma from its text.
// Any failure ends it silently: what was filled in stays, the table is closed.
void lookUpNorvataIds(NorvataTable &table, const QString &dataFolder, const QString &indexName,
                      IndexWindow &window, IndexDefinition &definition);
