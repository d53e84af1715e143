#include "document/cliexport.h"

#include "document/cliargs.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/historyexport.h"
#include "history/querymode.h"

#include <algorithm>
#include <limits>

namespace CliExport {

namespace {

// The span of the words: DATE, or --from and --to (each defaulting to the open end).
std::optional<std::pair<qint64, qint64>> spanOf(const CliArgs& args, QString* problem)
{
    if (args.positional.size() == 3) {
        const auto day = HistoryExport::daySpan(args.positional[1], args.positional[1]);
        if (!day)
            *problem = QStringLiteral("not a date: ") + args.positional[1];
        return day;
    }
    qint64 from = std::numeric_limits<qint64>::min();
    qint64 to = std::numeric_limits<qint64>::max();
    for (const auto& [text, isFrom] : { std::pair { args.from, true }, std::pair { args.to, false } }) {
        if (text.isEmpty())
            continue;
        const auto day = HistoryExport::daySpan(text, text);
        if (!day) {
            *problem = QStringLiteral("not a date: ") + text;
            return std::nullopt;
        }
        (isFrom ? from : to) = isFrom ? day->first : day->second;
    }
    if (to <= from) {
        *problem = QStringLiteral("--to is before --from");
        return std::nullopt;
    }
    return std::make_pair(from, to);
}

// Through a server the events come a day at a time; each day is written and may be let go.
HistoryExport::Producer daysOfServer(CKESTRADoc& doc, const QStringList& ids, qint64 from, qint64 to, bool alarmsOnly)
{
    return [&doc, ids, from, to, alarmsOnly](HistoryExport::Writer& writer, QString* failure) {
        for (const QString& id : ids) {
            const CPager* pager = doc.pagers().find(id);
            if (!pager)
                continue;
            std::vector<qint64> keys;
            for (const auto& [day, list] : pager->days()) {
                if (day >= from && day < to)
                    keys.push_back(day);
            }
            for (const qint64 day : keys) {
                const CHistoryList* list = doc.dayEvents(id, day, QueryMode::AllEvents);
                if (!list) {
                    *failure = QStringLiteral("the events of %1 cannot be read from the server").arg(id);
                    return false;
                }
                std::vector<ChistoryRec> records(list->records().begin(), list->records().end());
                std::stable_sort(records.begin(), records.end(),
                    [](const ChistoryRec& a, const ChistoryRec& b) { return a.hDateTime < b.hDateTime; });
                for (const ChistoryRec& r : records) {
                    if ((!alarmsOnly || r.isAlarm()) && !writer.write(r))
                        return false;
                }
            }
        }
        return true;
    };
}

} // namespace

Outcome run(CKESTRADoc& doc, const CliArgs& args, bool remote, bool unitsRoentgen)
{
    const auto format = HistoryExport::formatNamed(args.format);
    if (!format)
        return { Outcome::Usage, QStringLiteral("--format needs csv or json") };
    const QString file = args.positional.last();
    const QString id = args.positional.size() >= 2 ? args.positional.first() : QString();
    if (!id.isEmpty() && !doc.pagers().find(id))
        return { Outcome::Failed, QStringLiteral("no instrument %1 in the database").arg(id) };
    QString problem;
    const auto span = spanOf(args, &problem);
    if (!span)
        return { Outcome::Usage, problem };

    qint64 count = 0;
    QString error;
    bool ok = false;
    if (!remote) {
        HistoryDb* db = doc.context().store().current();
        if (!db)
            return { Outcome::Failed, QStringLiteral("no event database is open") };
        ok = HistoryExport::exportSpan(
            *db, { id, span->first, span->second, args.alarms }, *format, unitsRoentgen, file, &count, &error);
    } else {
        QStringList ids;
        if (!id.isEmpty()) {
            ids << id;
        } else {
            for (int i = 0; i < doc.pagers().count(); ++i)
                ids << doc.pagers().instrumentAt(i)->identifier();
            ids.sort();
        }
        ok = HistoryExport::exportWith(file, *format, unitsRoentgen,
            daysOfServer(doc, ids, span->first, span->second, args.alarms), &count, &error);
    }
    if (!ok)
        return { Outcome::Failed, error };
    return { Outcome::Done, QStringLiteral("%1 events written to %2").arg(QString::number(count), file) };
}

} // namespace CliExport
