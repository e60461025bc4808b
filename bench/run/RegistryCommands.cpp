// The registry as a script sets it: registry set ROOT\KEY NAME dword|binary|sz VALUE, and
// registry delete ROOT\KEY [NAME] (a value, or the key with everything below it).
#include <tapkernel/Kernel.h>
#include <tapkernel/Text.h>

#include "Session.h"

namespace tapbench {
namespace {

void Registry(ScenarioSession &session, const ScenarioLine &line)
{
    const Words &w = line.words;
    if ((w.size() == 3 || w.size() == 4) && SameWord(w[1], "delete")) {
        const std::u16string key = tapkernel::ToUtf16(w[2]);
        bool deleted = w.size() == 4 ? session.machine().DeleteValue(key, tapkernel::ToUtf16(w[3]))
                                     : session.machine().DeleteKey(key);
        if (!deleted) {
            throw ScenarioError("nothing to delete at " + w[2] + (w.size() == 4 ? " " + w[3] : ""));
        }
        return;
    }
    if (w.size() != 6 || !SameWord(w[1], "set")) {
        throw ScenarioError("usage: registry set ROOT\\KEY NAME dword|binary|sz VALUE | registry delete ROOT\\KEY [NAME]");
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
