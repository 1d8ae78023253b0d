#include "shell/definitionwriteback.h"

void DefinitionWriteBack::startUpRan(const QString &indexName)
{
    m_indexName = indexName;
    m_damaged = false;
}

void DefinitionWriteBack::loadFailed()
{
    m_damaged = true;
}

std::optional<QString> DefinitionWriteBack::fileName() const
{
    if (m_damaged || m_indexName.isEmpty())
        return std::nullopt;
    return m_indexName + QStringLiteral(".txt");
}
