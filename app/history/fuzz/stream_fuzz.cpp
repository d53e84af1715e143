// libFuzzer entry for the stream reader: any bytes must end in a whole object or a StreamError.
#include "history/archivestream.h"
#include "history/measurements.h"
#include "history/pagerlist.h"
#include "history/userparams.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    StreamReader in(bytes);
    try {
        switch (data[0] % 4) {
        case 0: {
            CPagerList list;
            list.read(in);
            // What was read must write again without trouble.
            QByteArray out;
            StreamWriter w(&out, 0);
            list.write(w);
            break;
        }
        case 1: {
            CHistoryList day;
            day.read(in);
            break;
        }
        case 2: {
            CUserParams params;
            params.read(in);
            break;
        }
        default: {
            CMeasurements m;
            m.read(in);
            break;
        }
        }
    } catch (const StreamError&) {
    }
    return 0;
}
