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
        AddDialogCommands(all);
        AddControlPanelCommands(all);
        AddExpectations(all);
        AddRequestTranscript(all);
        AddUsbCommands(all);
        AddSetupCommands(all);
        AddStoryCommands(all);
        return all;
    }();
    return table;
}

} // namespace tapbench
