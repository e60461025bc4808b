// The replay on a real serial port: `tapbench replay --device PATH` runs the driver's touch path
// on the bytes a physical controller sends, and `tapbench record --device PATH FILE` also keeps
// them, as hex text that `tapbench replay FILE` replays later.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "ReplayOptions.h"

namespace tapbench {

// Loads the driver as a replay does, sets the port to the line settings the driver gave its COM
// port, then feeds what arrives until the far end hangs up or the run is interrupted (Ctrl-C),
// printing the replay's lines as they happen; with `record`, every byte also goes there. A note
// naming the port and its settings goes to `err`. Exit status: 0 done, 1 the port could not be
// used.
int RunDeviceReplay(const ReplayOptions &options, std::ostream &out, std::ostream &err, std::ostream *record);

// `tapbench record [replay options] --device PATH FILE`. Exit status: 0, 1 as above, 2 usage.
int RunRecord(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace tapbench
