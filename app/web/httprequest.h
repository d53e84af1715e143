#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// The head of an HTTP/1.x request, read from the bytes a peer sent so far. Plain functions over
// a buffer, so that the bounds are tested (and fuzzed) without a socket.
namespace HttpRequest {

// The bounds of a request head: a longer request line or header block is refused before
// anything more is read.
constexpr qsizetype MaxRequestLine = 8 * 1024;
constexpr qsizetype MaxHeaders = 16 * 1024;
constexpr int MaxHeaderLines = 100;

struct Request {
    QByteArray method; // GET or HEAD
    QString path; // percent-decoded, starts with '/'
    QList<std::pair<QString, QString>> query; // decoded names and values, in their order
    bool head = false; // HEAD: the reply without its body

    // The first value of a query parameter; nothing when absent.
    std::optional<QString> value(const QString& name) const;
};

enum class Outcome {
    Incomplete, // the head is not whole yet and within the bounds
    Ready,
    BadRequest, // 400
    UriTooLong, // 414
    HeadersTooLarge, // 431
    MethodNotAllowed, // 405
    VersionNotSupported, // 505
};

// Reads the head at the start of buffer. On Ready, *request is filled and *used is the length
// of the head (its empty line included).
Outcome parse(const QByteArray& buffer, Request* request, qsizetype* used = nullptr);

// The status code of a refusal, and its reason phrase.
int statusOf(Outcome outcome);
QByteArray reasonPhrase(int status);

// Decodes %XX and, in a query, '+'; nothing for a malformed escape or text that is not UTF-8.
std::optional<QString> percentDecode(QByteArrayView text, bool plusIsSpace);

} // namespace HttpRequest
