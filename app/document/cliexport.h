#pragma once

#include <QString>

class CKESTRADoc;
struct CliArgs;

// kestra-cli's "export --format csv|json": one day, a span of days or everything, of one
// instrument or of all, from this computer's database (streamed) or through a server (day by
// day). The words are those CliArgs accepted.
namespace CliExport {

struct Outcome {
    enum Kind { Done, Failed, Usage } kind = Done;
    QString text; // what was written (Done) or what went wrong
};

Outcome run(CKESTRADoc& doc, const CliArgs& args, bool remote, bool unitsRoentgen);

} // namespace CliExport
