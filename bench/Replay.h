// `tapbench replay`: runs a driver's touch path on a recorded controller byte stream and prints
// one line per event.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tapbench {

// Exit status: 0 done, 2 usage error (message on `err`).
int RunReplay(const std::vector<std::string> &args, std::istream &standardInput, std::ostream &out,
              std::ostream &err);

} // namespace tapbench
