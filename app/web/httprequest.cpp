#include "web/httprequest.h"

#include <QStringDecoder>

namespace HttpRequest {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The token characters of RFC 9110, for methods and header names.
bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127 || QByteArrayView("\"(),/:;<=>?@[\\]{}").contains(c))
            return false;
    }
    return true;
}

// The line that starts at from, without its CRLF (or bare LF); nothing when no line end is in
// the buffer yet. *next receives the start of the line after it.
std::optional<QByteArrayView> lineAt(const QByteArray& buffer, qsizetype from, qsizetype* next)
{
    const qsizetype end = buffer.indexOf('\n', from);
    if (end < 0)
        return std::nullopt;
    *next = end + 1;
    qsizetype length = end - from;
    if (length > 0 && buffer[end - 1] == '\r')
        --length;
    return QByteArrayView(buffer.constData() + from, length);
}

} // namespace

std::optional<QString> Request::value(const QString& name) const
{
    for (const auto& [key, text] : query) {
        if (key == name)
            return text;
    }
    return std::nullopt;
}

std::optional<QString> percentDecode(QByteArrayView text, bool plusIsSpace)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = hexDigit(text[i + 1]);
            const int low = hexDigit(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            bytes.append(char(high * 16 + low));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            bytes.append(' ');
        } else {
            bytes.append(c);
        }
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError() || decoded.contains(QChar(0)))
        return std::nullopt;
    return decoded;
}

Outcome parse(const QByteArray& buffer, Request* request, qsizetype* used)
{
    qsizetype next = 0;
    const std::optional<QByteArrayView> first = lineAt(buffer, 0, &next);
    if (!first)
        return buffer.size() > MaxRequestLine ? Outcome::UriTooLong : Outcome::Incomplete;
    if (first->size() > MaxRequestLine)
        return Outcome::UriTooLong;

    // The header block: up to the empty line, within its bound.
    const qsizetype headersStart = next;
    int lines = 0;
    for (;;) {
        qsizetype after = 0;
        const std::optional<QByteArrayView> line = lineAt(buffer, next, &after);
        if (!line)
            return buffer.size() - headersStart > MaxHeaders ? Outcome::HeadersTooLarge : Outcome::Incomplete;
        if (after - headersStart > MaxHeaders)
            return Outcome::HeadersTooLarge;
        next = after;
        if (line->isEmpty())
            break;
        if (++lines > MaxHeaderLines)
            return Outcome::HeadersTooLarge;
        const qsizetype colon = line->indexOf(':');
        // No folded lines, no space before the colon (RFC 9112 5.1).
        if (colon <= 0 || !isToken(line->first(colon)))
            return Outcome::BadRequest;
    }

    // METHOD SP request-target SP HTTP-version
    const QList<QByteArray> parts = first->toByteArray().split(' ');
    if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty())
        return Outcome::BadRequest;
    const QByteArray& version = parts[2];
    if (!version.startsWith("HTTP/") || version.size() != 8 || version[6] != '.')
        return Outcome::BadRequest;
    if (version[5] != '1')
        return Outcome::VersionNotSupported;
    const QByteArray& target = parts[1];
    if (!target.startsWith('/'))
        return Outcome::BadRequest;
    for (const char c : target) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127)
            return Outcome::BadRequest;
    }
    Request r;
    r.method = parts[0];
    if (r.method != "GET" && r.method != "HEAD")
        return Outcome::MethodNotAllowed;
    r.head = r.method == "HEAD";
    const qsizetype mark = target.indexOf('?');
    const QByteArrayView pathPart = QByteArrayView(target).first(mark < 0 ? target.size() : mark);
    const std::optional<QString> path = percentDecode(pathPart, false);
    if (!path)
        return Outcome::BadRequest;
    r.path = *path;
    if (mark >= 0) {
        for (const QByteArray& pair : target.mid(mark + 1).split('&')) {
            if (pair.isEmpty())
                continue;
            const qsizetype equals = pair.indexOf('=');
            const std::optional<QString> name
                = percentDecode(QByteArrayView(pair).first(equals < 0 ? pair.size() : equals), true);
            const std::optional<QString> value = equals < 0
                ? std::optional<QString>(QString())
                : percentDecode(QByteArrayView(pair).sliced(equals + 1), true);
            if (!name || !value)
                return Outcome::BadRequest;
            r.query.append({ *name, *value });
        }
    }
    *request = std::move(r);
    if (used)
        *used = next;
    return Outcome::Ready;
}

int statusOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::BadRequest:
        return 400;
    case Outcome::UriTooLong:
        return 414;
    case Outcome::HeadersTooLarge:
        return 431;
    case Outcome::MethodNotAllowed:
        return 405;
    case Outcome::VersionNotSupported:
        return 505;
    case Outcome::Incomplete:
    case Outcome::Ready:
        break;
    }
    return 200;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

} // namespace HttpRequest
