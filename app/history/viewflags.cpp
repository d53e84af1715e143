#include "history/viewflags.h"

ViewFlags& ViewFlags::instance()
{
    static ViewFlags flags;
    return flags;
}
