#include "ScenarioRun.h"

#include <fstream>
#include <iostream>

#include "run/Session.h"

namespace tapbench {

int RunScenario(const std::vector<ScenarioLine> &lines, std::ostream &out, std::ostream &err,
                const std::vector<ExtraProgram> &extraPrograms)
{
    ScenarioSession session(out, extraPrograms);
    return session.Run(lines, err);
}

const char *RunUsage()
{
    return "usage: tapbench run SCENARIO|-\n";
}

int RunScenarioCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (args.size() != 1) {
        err << RunUsage();
        return kScenarioError;
    }
    std::ifstream file;
    std::istream *in = &std::cin;
    if (args[0] != "-") {
        file.open(args[0]);
        if (!file) {
            err << "tapbench run: cannot open '" << args[0] << "'\n";
            return kScenarioError;
        }
        in = &file;
    }
    std::string error;
    std::optional<std::vector<ScenarioLine>> lines = ParseScenario(*in, error);
    if (!lines) {
        err << "tapbench run: " << args[0] << ": " << error << '\n';
        return kScenarioError;
    }
    return RunScenario(*lines, out, err);
}

} // namespace tapbench
