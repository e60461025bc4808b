// libFuzzer target: the host resource compiler on arbitrary script text, anchored beside the
// compiler's conformance data so that #include "conformance.h", ICON "Square.ico" and BITMAP
// "Strip.bmp" resolve. A script either compiles or is refused with a CompileError naming
// "file:line: message"; any other exception, a crash or a sanitizer report is a fault. What
// compiles must also be written out as a resource module.
#include "Script.h"
#include "Writer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <sstream>
#include <string>

namespace {

[[noreturn]] void Broken(const char *what, const char *detail)
{
    std::fprintf(stderr, "fuzz: %s: %s\n", what, detail);
    std::abort();
}

const std::string kAnchor = TAP_RC_DATA_DIR "/fuzz.rc";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    tap::rc::Script script;
    try {
        script = tap::rc::CompileScriptText(kAnchor, text, {});
    } catch (const tap::rc::CompileError &error) {
        // Refusals name the script (or a file it includes) and a line.
        if (std::strstr(error.what(), ":") == nullptr) {
            Broken("a refusal without its place", error.what());
        }
        return 0;
    } catch (const std::exception &error) {
        Broken("the compiler threw something other than a CompileError", error.what());
    }
    try {
        std::ostringstream out;
        tap::rc::WriteResourceModule(out, script, "fuzzResources", "fuzz.rc");
        if (out.str().empty()) {
            Broken("a compiled script was written as nothing", "");
        }
    } catch (const std::exception &error) {
        Broken("writing a compiled script threw", error.what());
    }
    return 0;
}
