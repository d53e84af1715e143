#pragma once

// The kestractl commands: each checks its arguments first and returns the action that runs it
// on the open port, so that a usage error never touches the instrument.

#include "ctl_session.h"

namespace kestra::ctl {

/// The action of the command in `options` (a CommandError for a usage error).
Action prepare(const Options& options);
/// "crc" needs no instrument.
int runCrc(const Options& options);

/// get NAME | get all, set NAME VALUE (with a read-back).
Action prepareGet(const Options& options);
Action prepareSet(const Options& options);

} // namespace kestra::ctl
