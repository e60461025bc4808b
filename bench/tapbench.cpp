// tapbench: the command-line bench of the simulated PC.
#include <iostream>
#include <string>
#include <vector>

#include "DeviceReplay.h"
#include "Replay.h"
#include "ScenarioRun.h"

namespace {

void PrintUsage(std::ostream &out)
{
    out << "usage: tapbench replay [options] [FILE|-]   replay a controller byte stream through a driver\n"
           "       tapbench replay [options] --device PORT   the same on the bytes of a real serial port\n"
           "       tapbench record [options] --device PORT FILE   and keep them in FILE for later replays\n"
           "       tapbench run SCENARIO|-               run a scripted session on a fresh simulated PC\n"
           "       tapbench help                         this text\n";
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        PrintUsage(std::cerr);
        return 2;
    }
    std::string command = args.front();
    args.erase(args.begin());
    if (command == "replay") {
        return tapbench::RunReplay(args, std::cin, std::cout, std::cerr);
    }
    if (command == "record") {
        return tapbench::RunRecord(args, std::cout, std::cerr);
    }
    if (command == "run") {
        return tapbench::RunScenarioCommand(args, std::cout, std::cerr);
    }
    if (command == "help" || command == "--help") {
        PrintUsage(std::cout);
        return 0;
    }
    std::cerr << "tapbench: unknown command '" << command << "'\n";
    PrintUsage(std::cerr);
    return 2;
}
