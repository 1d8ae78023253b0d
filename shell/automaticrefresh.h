#pragma once

#include <QStringList>
#include <QTimer>
#include <functional>

// The single-shot timer of the automatic mode. start() begins counting `milliseconds` afresh (also while
// it already counts); stop() discards what was counted. When the time has elapsed the binding calls
// AutomaticRefresh::timeout() once.
class RefreshTimer
{
public:
    virtual ~RefreshTimer() = default;
    virtual void start(int milliseconds) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// How a tick's refresh ended: failed (in whole or in part), and the least wait its source asked for
// before it is asked again (Retry-After), in milliseconds.
struct RefreshOutcome
{
    bool failed = false;
    qint64 retryAfterMs = 0;
};

// The automatic mode: refreshes the prices again and again, `pause` milliseconds from the end of one
// refresh to the start of the next, while it is switched on. Consecutive failed refreshes double the
// pause each time, up to longestPause; a successful one ends that. A wait a source asked for is kept.
//
// States: Off; Waiting (on, the timer counts); Refreshing with the mode on or off (a tick's refresh runs;
// the mode may be switched meanwhile, because the refresh handles window events while it waits).
// The timer's interval carries over: 100 ms until the first tick and after a tick that ended with the
// mode off, `pause` after a tick that ended with it on. Switching on starts the timer with the interval
// it holds; switching on while on changes nothing. Switching off stops the timer and keeps the interval.
class AutomaticRefresh
{
public:
    enum class State { Off, Waiting, RefreshingOn, RefreshingOff };
    static constexpr int firstInterval = 100;
    static constexpr int longestPause = 5 * 60 * 1000;

    // Whether the command line asks for the automatic mode: its first argument is exactly "/A".
    static bool requestedBy(const QStringList &arguments);

    // `refresh` runs one price refresh to its end (or returns at once when it is refused).
    AutomaticRefresh(RefreshTimer &timer, std::function<void()> refresh, int pause = 5000);

    void switchOn();
    void switchOff();
    // The timer's time elapsed: one refresh, then the next wait while the mode is on. A tick that arrives
    // while a tick's refresh still runs (the mode was switched off and on meanwhile) runs no refresh of
    // its own; the cycle goes on from it.
    void timeout();

    bool isOn() const { return m_on; }
    State state() const;
    int interval() const { return m_interval; }

    // Called after every change of the mode, with the new mode (the window swaps its light bulbs).
    std::function<void(bool on)> modeChanged;
    // Asked after each tick's refresh how it ended; without it every refresh counts as successful.
    std::function<RefreshOutcome()> outcome;

private:
    void endTick(const RefreshOutcome &outcome);

    RefreshTimer &m_timer;
    std::function<void()> m_refresh;
    int m_pause;
    int m_failures = 0; // consecutive failed refreshes
    int m_interval = firstInterval;
    bool m_on = false;
    int m_ticksRunning = 0;
};

// The real timer: a precise Qt timer, so that the intervals hold to the millisecond rather than within
// a coarse timer's 5 % slack.
class PreciseRefreshTimer : public RefreshTimer
{
public:
    explicit PreciseRefreshTimer(std::function<void()> elapsed);
    void start(int milliseconds) override;
    void stop() override;
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};
