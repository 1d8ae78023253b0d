#pragma once

#include <QString>
#include <optional>

// Which index definition file the shutdown writes the index table to: the file of the index that the
// start-up sequence last ran for, a typed new name included. Not the index choice's text at close (a change
// deferred behind a refresh has not loaded that index), and not a file whose content failed to load: the
// table's rows never came from it, and it keeps what it holds.
class DefinitionWriteBack
{
public:
    // The start-up sequence runs for `indexName`.
    void startUpRan(const QString &indexName);
    // Its load found the file damaged.
    void loadFailed();
    // The file name, "<index name>.txt"; none before the first start-up or after a damaged load.
    std::optional<QString> fileName() const;

private:
    QString m_indexName;
    bool m_damaged = false;
};
