#include "ScenarioRun.h"

#include <fstream>
#include <iostream>
#include <optional>

#include "run/Session.h"

namespace tapbench {

int RunScenario(const std::vector<ScenarioLine> &lines, std::ostream &out, std::ostream &err,
                const std::vector<ExtraProgram> &extraPrograms, std::ostream *story)
{
    ScenarioSession session(out, extraPrograms, story);
    return session.Run(lines, err);
}

const char *RunUsage()
{
    return "usage: tapbench run [--transcript FILE] SCENARIO|-\n";
}

int RunScenarioCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    std::vector<std::string> rest = args;
    std::optional<std::string> transcriptPath;
    if (rest.size() == 3 && rest[0] == "--transcript") {
        transcriptPath = rest[1];
        rest.erase(rest.begin(), rest.begin() + 2);
    }
    if (rest.size() != 1) {
        err << RunUsage();
        return kScenarioError;
    }
    const std::string &script = rest[0];
    std::ifstream file;
    std::istream *in = &std::cin;
    if (script != "-") {
        file.open(script);
        if (!file) {
            err << "tapbench run: cannot open '" << script << "'\n";
            return kScenarioError;
        }
        in = &file;
    }
    std::string error;
    std::optional<std::vector<ScenarioLine>> lines = ParseScenario(*in, error);
    if (!lines) {
        err << "tapbench run: " << script << ": " << error << '\n';
        return kScenarioError;
    }
    if (!transcriptPath) {
        return RunScenario(*lines, out, err);
    }
    std::ofstream transcript(*transcriptPath);
    if (!transcript) {
        err << "tapbench run: cannot write '" << *transcriptPath << "'\n";
        return kScenarioError;
    }
    return RunScenario(*lines, transcript, err, {}, &out);
}

} // namespace tapbench
