#pragma once

#include <QString>

class ChistoryRec;

// The one rule for the texts of an event wherever they enter: a stream (an import, a request
// of another station), the comment edit, the store. A NUL character cannot be stored on a
// server and a lone UTF-16 surrogate has no UTF-8 form, so neither is taken from outside: the
// record is refused with the reason. Comments are capped so that no batch of events comes
// near a statement limit. What a store already holds (a file of an earlier version may hold
// either) is mended the same way on both engines: each such character becomes U+FFFD.
namespace HistoryText {

// Longest comment, in UTF-16 units. The comment edit takes 80 characters.
constexpr qsizetype MaxComment = 4096;
// Longest instrument identifier or record key.
constexpr qsizetype MaxIdentifier = 1024;

// Why the text cannot be taken ("holds a NUL character", ...); empty when it can.
QString problem(const QString& text, qsizetype maxLength);
// Why the record cannot be taken, naming the field; empty when it can.
QString recordProblem(const ChistoryRec& record);
// Replaces every NUL and lone surrogate with U+FFFD; returns how many were replaced.
int mend(QString& text);
// mend over the record's texts; returns how many characters were replaced.
int mendRecord(ChistoryRec& record);
// A record for a person: "<instrument> at <local date and time>".
QString recordName(const ChistoryRec& record);

} // namespace HistoryText
