#include "Session.h"

namespace tapbench {

// Every family's commands, expectations and transcript lines; a new family adds its line here.
const CommandTable &Commands()
{
    static const CommandTable table = [] {
        CommandTable all;
        AddDeviceCommands(all);
        AddRegistryCommands(all);
        AddProgramCommands(all);
        AddInputCommands(all);
        AddExpectations(all);
        AddStoryCommands(all);
        return all;
    }();
    return table;
}

} // namespace tapbench
