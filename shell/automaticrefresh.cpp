#include "shell/automaticrefresh.h"

#include <algorithm>
#include <climits>

AutomaticRefresh::AutomaticRefresh(RefreshTimer &timer, std::function<void()> refresh, int pause)
    : m_timer(timer), m_refresh(std::move(refresh)), m_pause(pause)
{
}

bool AutomaticRefresh::requestedBy(const QStringList &arguments)
{
    // Case matters, and further arguments are ignored.
    return !arguments.isEmpty() && arguments.first() == QLatin1String("/A");
}

AutomaticRefresh::State AutomaticRefresh::state() const
{
    if (m_ticksRunning > 0)
        return m_on ? State::RefreshingOn : State::RefreshingOff;
    return m_on ? State::Waiting : State::Off;
}

void AutomaticRefresh::switchOn()
{
    // A start-up rerun with "/A" switches on again: that must not restart a wait that already counts.
    if (m_on)
        return;
    m_on = true;
    m_timer.start(m_interval);
    if (modeChanged)
        modeChanged(true);
}

void AutomaticRefresh::switchOff()
{
    if (!m_on)
        return;
    m_on = false;
    m_timer.stop();
    if (modeChanged)
        modeChanged(false);
}

void AutomaticRefresh::timeout()
{
    m_timer.stop();
    RefreshOutcome ended;
    if (m_ticksRunning == 0) {
        ++m_ticksRunning;
        struct TickEnd
        {
            int &running;
            ~TickEnd() { --running; }
        } tickEnd{m_ticksRunning};
        m_refresh();
        if (outcome)
            ended = outcome();
    }
    endTick(ended);
}

void AutomaticRefresh::endTick(const RefreshOutcome &outcome)
{
    // A source that does not answer is asked less and less often: 2, 4, 8 ... pauses, at most
    // longestPause, and never before the time it asked for itself.
    m_failures = outcome.failed ? std::min(m_failures + 1, 30) : 0;
    qint64 pause = m_pause;
    for (int i = 0; i < m_failures && pause < longestPause; ++i)
        pause *= 2;
    pause = std::max<qint64>(std::min<qint64>(pause, std::max(longestPause, m_pause)),
                             std::min<qint64>(outcome.retryAfterMs, INT_MAX));
    // The next refresh starts a whole pause after this one ended; the interval is kept for a later
    // switch-on when the mode was switched off meanwhile.
    m_interval = m_on ? int(pause) : firstInterval;
    if (m_on)
        m_timer.start(m_interval);
}

PreciseRefreshTimer::PreciseRefreshTimer(std::function<void()> elapsed)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, std::move(elapsed));
}

void PreciseRefreshTimer::start(int milliseconds)
{
    m_timer.start(milliseconds);
}

void PreciseRefreshTimer::stop()
{
    m_timer.stop();
}
