#include "history/historytext.h"

#include "history/historyrec.h"

#include <QCoreApplication>

namespace HistoryText {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("HistoryText", text);
}

// Position of the first NUL or lone surrogate from `from`, or -1.
qsizetype firstBad(const QString& text, qsizetype from, bool* nul)
{
    const qsizetype n = text.size();
    for (qsizetype i = from; i < n; ++i) {
        const QChar c = text[i];
        if (c.unicode() == 0) {
            *nul = true;
            return i;
        }
        if (c.isHighSurrogate()) {
            if (i + 1 < n && text[i + 1].isLowSurrogate()) {
                ++i;
                continue;
            }
            *nul = false;
            return i;
        }
        if (c.isLowSurrogate()) {
            *nul = false;
            return i;
        }
    }
    return -1;
}

} // namespace

QString problem(const QString& text, qsizetype maxLength)
{
    if (text.size() > maxLength)
        return tr("is longer than %1 characters").arg(maxLength);
    bool nul = false;
    const qsizetype at = firstBad(text, 0, &nul);
    if (at < 0)
        return {};
    return nul ? tr("holds a NUL character at position %1").arg(at + 1)
               : tr("holds a broken UTF-16 character (a lone surrogate) at position %1").arg(at + 1);
}

QString recordProblem(const ChistoryRec& record)
{
    const struct {
        const QString& text;
        qsizetype max;
        const char* field;
    } fields[] = {
        { record.hComment, MaxComment, QT_TRANSLATE_NOOP("HistoryText", "comment") },
        { record.hPagerID, MaxIdentifier, QT_TRANSLATE_NOOP("HistoryText", "instrument identifier") },
        { record.hID, MaxIdentifier, QT_TRANSLATE_NOOP("HistoryText", "key") },
    };
    for (const auto& f : fields) {
        const QString why = problem(f.text, f.max);
        if (!why.isEmpty())
            return tr("its %1 %2").arg(tr(f.field), why);
    }
    return {};
}

int mend(QString& text)
{
    int count = 0;
    bool nul = false;
    for (qsizetype at = firstBad(text, 0, &nul); at >= 0; at = firstBad(text, at + 1, &nul)) {
        text[at] = QChar::ReplacementCharacter;
        ++count;
    }
    return count;
}

int mendRecord(ChistoryRec& record)
{
    return mend(record.hComment) + mend(record.hPagerID) + mend(record.hID);
}

QString recordName(const ChistoryRec& record)
{
    return tr("the event of %1 at %2 %3").arg(record.hPagerID.left(64), record.dateText(), record.timeText());
}

} // namespace HistoryText
