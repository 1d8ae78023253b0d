#include "core/clock.h"

namespace {

class SystemClock : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace

const Clock &Clock::system()
{
    static const SystemClock clock;
    return clock;
}

QString isoTimeWithOffset(const QDateTime &time)
{
    if (!time.isValid())
        return {};
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}
