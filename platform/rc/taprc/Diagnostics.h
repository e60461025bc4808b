// Errors of the resource compiler: every one names the place in the script, so that the build
// shows it as "file:line: message" like a C compiler does.
#pragma once

#include <stdexcept>
#include <string>

namespace tap::rc {

struct SourceLocation {
    std::string file;
    int line = 0;
};

class CompileError : public std::runtime_error {
public:
    CompileError(const SourceLocation& where, const std::string& message)
        : std::runtime_error(where.file + ":" + std::to_string(where.line) + ": " + message)
    {
    }
};

} // namespace tap::rc
