#pragma once

#include "history/historyrec.h"

// The event the store benchmarks write: event i of an instrument at time t, of six types,
// every 97th a gamma alarm, values that repeat every thousand events.
inline ChistoryRec benchEvent(const QString& pager, qint64 t, int i)
{
    ChistoryRec r;
    r.hPagerID = pager;
    r.hDateTime = t;
    r.hType = 3 + i % 6;
    r.hAlarm = i % 97 == 0 ? 0x002 : 0;
    r.hValue = 10 + i % 1000;
    r.hValue2 = i;
    r.hPrecision = i % 30;
    r.hID = ChistoryRec::makeKey(pager, t);
    return r;
}
