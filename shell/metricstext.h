#pragma once

#include "shell/refreshhealth.h"

#include <QByteArray>
#include <optional>

// The body of GET /metrics: the Prometheus text exposition format, version 0.0.4, every sample labelled
// with the index (the window caption, escaped as the format wants it):
//   zalvento_index_value                      the live item as a number (NaN when it is none)
//   zalvento_refreshes_total{result=ok|failed} refreshes since the index was chosen
//   zalvento_refresh_consecutive_failures     failed refreshes since the last success
//   zalvento_quotes_stale, zalvento_quotes_missing
//   zalvento_last_success_timestamp_seconds   Unix time of the last success, 0 before the first
//   zalvento_refresh_duration_seconds         how long the last refresh took
QByteArray metricsText(const RefreshHealth &health, std::optional<double> indexValue);
