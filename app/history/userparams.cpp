#include "history/userparams.h"

#include "history/archivestream.h"

void CUserParams::write(StreamWriter& out) const
{
    out.writeBool(timeSync);
    out.writeBool(spareFlagA);
    out.writeBool(spareFlagB);
    out.writeBool(sound);
    out.writeBool(spareFlagC);
    out.writeBool(units != 0);
    out.writeBool(searchBeep);
    out.writeInt32(historyInterval);
    out.writeInt32(spareInt);
    out.writeInt32(betaThreshold1);
    out.writeInt32(betaThreshold2);
    out.writeDouble(searchBetaThreshold);
    out.writeInt32(derThreshold1);
    out.writeInt32(derThreshold2);
    out.writeDouble(spareRealA);
    out.writeDouble(spareRealB);
}

void CUserParams::read(StreamReader& in)
{
    CUserParams p;
    p.timeSync = in.readBool();
    p.spareFlagA = in.readBool();
    p.spareFlagB = in.readBool();
    p.sound = in.readBool();
    p.spareFlagC = in.readBool();
    p.units = in.readBool() ? 1 : 0;
    p.searchBeep = in.readBool();
    p.historyInterval = in.readInt32();
    p.spareInt = in.readInt32();
    p.betaThreshold1 = in.readInt32();
    p.betaThreshold2 = in.readInt32();
    p.searchBetaThreshold = in.readDouble();
    p.derThreshold1 = in.readInt32();
    p.derThreshold2 = in.readInt32();
    p.spareRealA = in.readDouble();
    p.spareRealB = in.readDouble();
    *this = p;
}
