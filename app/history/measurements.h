#pragma once

#include <QString>

class StreamReader;
class StreamWriter;

// One live reading as nine texts, in stream order.
class CMeasurements {
public:
    QString value;
    QString units;
    QString mode;
    QString status;
    QString error;
    QString dose;
    QString doseTime;
    QString radiation;
    QString spare;

    bool operator==(const CMeasurements&) const = default;

    void write(StreamWriter& out) const;
    // Reads the nine texts; unchanged on a stream error.
    void read(StreamReader& in);
};
