#include "net/completeresponse.h"

bool isCompleteResponse(const ResponseEnd &end)
{
    if (!end.headerEnded || !end.bodyStored || end.statusCode >= 400)
        return false;
    if (end.contentLength >= 0)
        return end.bodyBytes == end.contentLength;
    return end.orderlyClose;
}
