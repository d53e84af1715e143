// libFuzzer entry for the request-head reader: any bytes end in an outcome within the bounds,
// and a head that is read whole is one the server can route.
#include "web/httprequest.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    HttpRequest::Request request;
    qsizetype used = -1;
    const HttpRequest::Outcome outcome = HttpRequest::parse(bytes, &request, &used);
    // Waiting for more is only allowed while the head can still be within its bounds.
    if (outcome == HttpRequest::Outcome::Incomplete
        && bytes.size() > HttpRequest::MaxRequestLine + 2 + HttpRequest::MaxHeaders)
        std::abort();
    if (outcome == HttpRequest::Outcome::Ready) {
        if (used <= 0 || used > bytes.size() || !request.path.startsWith(u'/')
            || (request.method != "GET" && request.method != "HEAD"))
            std::abort();
    }
    return 0;
}
