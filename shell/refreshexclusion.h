#pragma once

#include <QList>
#include <QPair>
#include <functional>

// One price refresh at a time, and nothing that changes the index table or uses the Norvata table while a
// refresh waits for its page (it handles window events meanwhile, so clicks, the index choice, ticks and
// the window's close arrive in the middle of it).
//
// - A refresh asked for while one runs is refused by the refresh itself; a tick then runs none and the
//   automatic cycle goes on from it.
// - A web refresh is refused while the HTTP client serves another request (the index file update).
// - A reload (the start-up sequence) or the Norvata id lookup asked for while a refresh runs is deferred
//   until that refresh has ended; a later request of the same kind replaces a waiting one.
// - After the shutdown nothing runs any more: no refresh, no deferred or later reload or lookup.
class RefreshExclusion
{
public:
    enum class Work { Reload, Lookup };

    // `refreshRunning` tells whether a price refresh is under way.
    explicit RefreshExclusion(std::function<bool()> refreshRunning);

    // Runs `refresh` unless it is refused: after the shutdown, or when it needs the HTTP client and the
    // client is busy. Deferred work runs once the refresh has ended. Returns whether `refresh` ran.
    bool refresh(bool needsClient, bool clientBusy, const std::function<void()> &refresh);

    // Runs `work` now, or once the running refresh has ended; never after the shutdown.
    void whenNoRefreshRuns(Work kind, const std::function<void()> &work);

    // The shutdown has run: what waits is dropped and nothing is accepted any more.
    void close();
    bool closed() const { return m_closed; }

private:
    void runDeferred();

    std::function<bool()> m_refreshRunning;
    QList<QPair<Work, std::function<void()>>> m_deferred;
    bool m_closed = false;
};
