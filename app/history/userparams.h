#pragma once

#include <QtGlobal>

class StreamReader;
class StreamWriter;

// The instrument's user settings, read and written as a whole. Spare fields are carried
// unchanged. Plain member-wise copy.
class CUserParams {
public:
    // Size of the stream form.
    static constexpr qint64 streamSize = 55;

    bool timeSync = false; // "Synchronize time with PC"; kept by the program, never sent
    bool spareFlagA = false;
    bool spareFlagB = false;
    bool sound = false;
    bool spareFlagC = false;
    quint8 units = 0; // 1 = roentgen, 0 = sievert
    bool searchBeep = false;
    qint32 historyInterval = 0; // seconds; the instrument holds 16 bits
    qint32 spareInt = 0;
    qint32 betaThreshold1 = 0; // 1/(min*cm²)
    qint32 betaThreshold2 = 0;
    double searchBetaThreshold = 0; // counts per second
    qint32 derThreshold1 = 0; // instrument DER units
    qint32 derThreshold2 = 0;
    double spareRealA = 0;
    double spareRealB = 0;

    bool operator==(const CUserParams&) const = default;

    void write(StreamWriter& out) const;
    // Reads all fields; unchanged on a stream error.
    void read(StreamReader& in);
};
