#include "history/measurements.h"

#include "history/archivestream.h"

void CMeasurements::write(StreamWriter& out) const
{
    for (const QString* t : { &value, &units, &mode, &status, &error, &dose, &doseTime, &radiation, &spare })
        out.writeText(*t);
}

void CMeasurements::read(StreamReader& in)
{
    CMeasurements m;
    for (QString* t :
        { &m.value, &m.units, &m.mode, &m.status, &m.error, &m.dose, &m.doseTime, &m.radiation, &m.spare })
        *t = in.readText();
    *this = std::move(m);
}
