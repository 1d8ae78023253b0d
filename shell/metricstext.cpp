#include "shell/metricstext.h"

#include <QLocale>
#include <cmath>

namespace {

// Label values escape backslash, double quote and line feed.
QByteArray labelValue(const QString &text)
{
    QByteArray escaped;
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        if (c == '\n') {
            escaped += "\\n";
            continue;
        }
        escaped += c;
    }
    return escaped;
}

QByteArray sampleValue(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    // Whole numbers (counts, whole seconds) without an exponent; others as the shortest text that reads
    // back as the same double.
    if (value == std::trunc(value) && std::abs(value) < 1e15)
        return QByteArray::number(qint64(value));
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

class Writer
{
public:
    explicit Writer(const QString &index) : m_label("index=\"" + labelValue(index) + '"') {}

    void family(const char *name, const char *type, const char *help)
    {
        m_text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char *name, double value, const QByteArray &moreLabels = {})
    {
        m_text += QByteArray(name) + '{' + m_label + moreLabels + "} " + sampleValue(value) + '\n';
    }
    QByteArray text() const { return m_text; }

private:
    QByteArray m_label;
    QByteArray m_text;
};

} // namespace

QByteArray metricsText(const RefreshHealth &health, std::optional<double> indexValue)
{
    Writer out(health.index());
    out.family("zalvento_index_value", "gauge", "Zuletzt berechneter Stand des Index.");
    out.sample("zalvento_index_value", indexValue.value_or(std::nan("")));
    out.family("zalvento_refreshes_total", "counter", "Kursaktualisierungen nach Ergebnis.");
    out.sample("zalvento_refreshes_total", health.successes(), ",result=\"ok\"");
    out.sample("zalvento_refreshes_total", health.failures(), ",result=\"failed\"");
    out.family("zalvento_refresh_consecutive_failures", "gauge",
               "Fehlgeschlagene Kursaktualisierungen seit der letzten erfolgreichen.");
    out.sample("zalvento_refresh_consecutive_failures", health.consecutiveFailures());
    out.family("zalvento_quotes_stale", "gauge", "Veraltete Kurse, fehlende eingeschlossen.");
    out.sample("zalvento_quotes_stale", health.staleCount());
    out.family("zalvento_quotes_missing", "gauge", "Werte ohne Kurs.");
    out.sample("zalvento_quotes_missing", health.missingCount());
    out.family("zalvento_last_success_timestamp_seconds", "gauge",
               "Zeit der letzten erfolgreichen Kursaktualisierung (Unix-Zeit).");
    const QDateTime lastSuccess = health.lastSuccess();
    out.sample("zalvento_last_success_timestamp_seconds",
               lastSuccess.isValid() ? double(lastSuccess.toMSecsSinceEpoch()) / 1000 : 0);
    out.family("zalvento_refresh_duration_seconds", "gauge", "Dauer der letzten Kursaktualisierung.");
    out.sample("zalvento_refresh_duration_seconds", double(health.lastDuration()) / 1000);
    return out.text();
}
