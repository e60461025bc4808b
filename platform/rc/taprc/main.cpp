// taprc: the host resource compiler. Turns a Windows resource script into a C++ source file that
// defines the program's tap::res::ResourceModule; a fault in the script is reported as
// "file:line: message" with exit status 1.
//
//   taprc [-I dir]... --symbol NAME [--depfile FILE] -o OUTPUT.cpp SCRIPT.rc
#include <fstream>
#include <iostream>
#include <sstream>

#include "Script.h"
#include "Writer.h"

namespace {

struct Arguments {
    tap::rc::CompileOptions options;
    std::string script;
    std::string output;
    std::string symbol;
    std::string depfile;
};

bool Parse(int argc, char** argv, Arguments& args)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "-I" && hasValue) {
            args.options.includeDirs.push_back(argv[++i]);
        } else if (arg.rfind("-I", 0) == 0 && arg.size() > 2) {
            args.options.includeDirs.push_back(arg.substr(2));
        } else if (arg == "-o" && hasValue) {
            args.output = argv[++i];
        } else if (arg == "--symbol" && hasValue) {
            args.symbol = argv[++i];
        } else if (arg == "--depfile" && hasValue) {
            args.depfile = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && args.script.empty()) {
            args.script = arg;
        } else {
            return false;
        }
    }
    return !args.script.empty() && !args.output.empty() && !args.symbol.empty();
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes FILE only when its content changes, so that a rebuild does not recompile needlessly.
bool WriteIfChanged(const std::string& file, const std::string& content)
{
    std::ifstream existing(file, std::ios::binary);
    std::ostringstream old;
    old << existing.rdbuf();
    if (existing && old.str() == content) {
        return true;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

std::string EscapeForMake(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == ' ' || c == '#') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    Arguments args;
    if (!Parse(argc, argv, args)) {
        std::cerr << "usage: taprc [-I dir]... --symbol NAME [--depfile FILE] -o OUTPUT.cpp SCRIPT.rc\n";
        return 2;
    }
    try {
        tap::rc::Script script = tap::rc::CompileScript(args.script, args.options);
        std::ostringstream source;
        tap::rc::WriteResourceModule(source, script, args.symbol, BaseName(args.script));
        if (!WriteIfChanged(args.output, source.str())) {
            std::cerr << args.output << ": cannot write the output\n";
            return 1;
        }
        if (!args.depfile.empty()) {
            std::ofstream dep(args.depfile, std::ios::trunc);
            dep << EscapeForMake(args.output) << ":";
            for (const std::string& file : script.filesRead) {
                dep << " \\\n  " << EscapeForMake(file);
            }
            dep << "\n";
        }
    } catch (const tap::rc::CompileError& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    return 0;
}
