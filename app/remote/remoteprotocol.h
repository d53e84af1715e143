#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>
#include <utility>

class StreamReader;
class StreamWriter;

// The requests one copy of the program sends another: a code word, then the request's values,
// all in the stream form; one request per connection.
namespace Remote {

enum Request : qint32 {
    LoadInstruments = 0,
    DayEvents = 1,
    ReadHistory = 2,
    ReadMeasurements = 3,
    WriteUserParams = 4,
    ReadUserParams = 5,
    InstrumentName = 6,
    Units = 7,
    EventsSince = 8,
    Subscribe = 9,
    UpdateComment = 10,
    CheckPassword = 11,
};

// Requests 4, 5 and 11 start with the password check.
inline bool needsPassword(qint32 code)
{
    return code == WriteUserParams || code == ReadUserParams || code == CheckPassword;
}

// A peer must deliver its whole request within this time, and must keep taking its reply (each
// part of it within this time), or its connection is closed.
inline constexpr int inputDeadlineMs = 5000;
// No request is larger than this (the largest carries one event record or the user parameters).
inline constexpr qsizetype maxRequestBytes = 64 * 1024;
// Connections kept open by request 9.
inline constexpr int maxSubscribers = 16;
// Connections open at one time, subscribed ones included; more are closed at once.
inline constexpr int maxConnections = 64;
// Connections open at one time from one peer address (an IPv6 peer counts by its /64 network,
// which one host commonly holds whole), subscribed ones included, so that one host cannot take
// every slot.
inline constexpr int maxConnectionsPerPeer = 8;
// However steadily a peer takes its reply, the whole reply must be out within this time.
inline constexpr int replyTotalDeadlineMs = 120 * 1000;
// A subscribed connection (request 9) is closed after this time; the peer subscribes anew.
inline constexpr int subscriptionMs = 15 * 60 * 1000;
// Failed password checks of one peer (IPv6: its /64): the first few are answered at once, each
// later one waits, twice as long as the one before, up to the cap. A peer that fails no check
// for an hour starts again.
inline constexpr int freePasswordFailures = 3;
inline constexpr int passwordDelayMs = 1000;
inline constexpr int passwordDelayCapMs = 60 * 1000;
inline constexpr int passwordFailuresForgottenMs = 60 * 60 * 1000;
// A peer on another computer that passed request 11 may send a comment (request 10) for this
// long afterwards.
inline constexpr int commentGrantMs = 2 * 60 * 1000;
// Days that request 1 loads into the program's memory and keeps, the least recently asked
// going first, so that a peer walking every day cannot load the whole store.
inline constexpr int maxRequestedDays = 64;
// How long a client waits for a reply: reading the instrument's history may take minutes.
inline constexpr int replyTimeoutMs = 30000;
inline constexpr int historyReplyTimeoutMs = 10 * 60 * 1000;

// A server entry "<host>:<port>": host before the first ":", the leading number after it.
// Accepted when the host is not empty and the port is not 0.
bool parseServer(const QString& text, QString* host, quint16* port);

// The rule of the "Add Server" entry: a ":" present, the lower-cased host starting with one of
// the allowed characters, a port other than 0. Gives the listed form "%s:%d".
bool acceptServerEntry(const QString& text, QString* listed);

// Where a server listens: "PORT", "ADDRESS:PORT" or "[IPv6 ADDRESS]:PORT", the address empty
// when not given; nothing for another text (a port outside 0-65535, an address that is not one).
std::optional<std::pair<QString, quint16>> parseListen(const QString& text);

} // namespace Remote
