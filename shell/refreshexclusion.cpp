#include "shell/refreshexclusion.h"

RefreshExclusion::RefreshExclusion(std::function<bool()> refreshRunning)
    : m_refreshRunning(std::move(refreshRunning))
{
}

bool RefreshExclusion::refresh(bool needsClient, bool clientBusy, const std::function<void()> &refresh)
{
    if (m_closed || (needsClient && clientBusy))
        return false;
    refresh();
    runDeferred();
    return true;
}

void RefreshExclusion::whenNoRefreshRuns(Work kind, const std::function<void()> &work)
{
    if (m_closed)
        return;
    if (!m_refreshRunning()) {
        work();
        return;
    }
    for (auto &waiting : m_deferred) {
        if (waiting.first == kind) {
            waiting.second = work;
            return;
        }
    }
    m_deferred.append({kind, work});
}

void RefreshExclusion::close()
{
    m_closed = true;
    m_deferred.clear();
}

void RefreshExclusion::runDeferred()
{
    // A refresh refused inside a running one returns here too: its deferred work waits for the outer end.
    while (!m_closed && !m_deferred.isEmpty() && !m_refreshRunning())
        m_deferred.takeFirst().second();
}
