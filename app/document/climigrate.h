#pragma once

#include <QString>

// kestra-cli migrate FROM TO: copies every event and instrument name of the store FROM into
// the store TO (each a SQLite file or a postgresql:// address), then checks every instrument-day
// on both sides. Progress goes to the standard error a line per step, or with json to the
// standard output as one JSON object per line. Returns kestra-cli's exit status: 0 when TO
// holds everything of FROM, 1 on a failure or a disagreement, 2 on a usage error, 3 when FROM
// or TO cannot be opened as an event database.
int runMigrate(const QString& from, const QString& to, bool json);
