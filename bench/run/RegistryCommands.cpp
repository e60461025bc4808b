// The registry as a script sets it: registry set ROOT\KEY NAME dword|binary|sz VALUE.
#include <tapkernel/Kernel.h>
#include <tapkernel/Text.h>

#include "Session.h"

namespace tapbench {
namespace {

void Registry(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    if (w.size() != 6 || !SameWord(w[1], "set")) {
        throw ScenarioError("usage: registry set ROOT\\KEY NAME dword|binary|sz VALUE");
    }
    tapmachine::Machine &machine = session.machine();
    const std::u16string key = tapkernel::ToUtf16(w[2]);
    const std::u16string name = tapkernel::ToUtf16(w[3]);
    const std::string type = Lower(w[4]);
    try {
        if (type == "dword") {
            machine.SetDword(key, name, static_cast<uint32_t>(Number(w[5], "dword")));
        } else if (type == "sz") {
            machine.SetString(key, name, tapkernel::ToUtf16(w[5]));
        } else if (type == "binary") {
            machine.SetValue(key, name, REG_BINARY, HexBytes(w[5]));
        } else {
            throw ScenarioError("a value is dword, binary or sz, not '" + w[4] + "'");
        }
    } catch (const std::invalid_argument &error) {
        throw ScenarioError(error.what());
    }
}

} // namespace

void AddRegistryCommands(CommandTable &table)
{
    table.commands.push_back({"registry", Registry});
}

} // namespace tapbench
