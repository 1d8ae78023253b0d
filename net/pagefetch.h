#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class THttpClient;

// Fetches the document at `url` into memory through `client`, with the status texts "Loading" and
// "Received <n> bytes". The client's properties belong to a running request: a busy client throws
// EHttpException "HTTP component is busy" (code 1) before any of them is touched. Throws what Get throws,
// and ZalventoError `incompleteText` when the response is not complete (isCompleteResponse) or empty.
QByteArray fetchPage(THttpClient &client, const QString &url, const QString &incompleteText,
                     const std::function<void(const QString &)> &setStatusText);
