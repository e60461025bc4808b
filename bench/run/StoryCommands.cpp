// The story a script tells: `step "TEXT"` opens a step (its line goes to the story), `storyboard
// FILE.png [COLUMNS]` collects the screen as each step leaves it into one labelled sheet, written
// when the run ends, with a summary of what each step checked.
#include "Session.h"
#include "tap/desktop/Desktop.h"
#include "tap/desktop/Png.h"

namespace tapbench {
namespace {

// The screen as the current step leaves it, into the storyboard.
void CloseStep(ScenarioSession &session)
{
    std::optional<StoryboardFile> &storyboard = session.storyboard();
    if (!storyboard || session.steps().size() < 2) {
        return;
    }
    tap::desktop::Desktop &desktop = session.machine().desktop();
    auto lock = desktop.LockScreen();
    storyboard->board.Add(desktop.Screen(), session.steps().back().label);
}

// step "TEXT"
void Step(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 2, 2, "step \"TEXT\"");
    CloseStep(session);
    session.steps().push_back({line.words[1]});
    session.Tell("step " + std::to_string(session.steps().size() - 1) + ": " + line.words[1]);
}

// storyboard FILE.png [COLUMNS]
void StartStoryboard(ScenarioSession &session, const ScenarioLine &line)
{
    ExpectWords(line.words, 2, 3, "storyboard FILE.png [COLUMNS]");
    if (session.storyboard()) {
        throw ScenarioError("a storyboard is started already");
    }
    const int columns = line.words.size() == 3 ? static_cast<int>(Number(line.words[2], "columns")) : 3;
    if (columns < 1 || columns > 16) {
        throw ScenarioError("a storyboard has 1 to 16 columns");
    }
    session.storyboard() = StoryboardFile{line.words[1], Storyboard(columns)};
}

void FinishStory(ScenarioSession &session)
{
    const std::vector<StoryStep> &steps = session.steps();
    if (steps.size() > 1) {
        CloseStep(session);
        int met = 0, failed = 0;
        session.Tell("summary:");
        for (size_t i = 0; i < steps.size(); ++i) {
            met += steps[i].met;
            failed += steps[i].failed;
            if (i == 0 && steps[i].met == 0 && steps[i].failed == 0) {
                continue;
            }
            session.Tell("  " + (i == 0 ? std::string("before the first step") : std::to_string(i) + ". " + steps[i].label) +
                         ": " + std::to_string(steps[i].met) + " checked" +
                         (steps[i].failed ? ", " + std::to_string(steps[i].failed) + " FAILED" : std::string()));
        }
        session.Tell("  " + std::to_string(steps.size() - 1) + " steps, " + std::to_string(met) + " checks met, " +
                     std::to_string(failed) + " failed");
    }
    const std::optional<StoryboardFile> &storyboard = session.storyboard();
    if (!storyboard) {
        return;
    }
    if (!tap::desktop::WritePng(storyboard->board.Sheet(), storyboard->path)) {
        throw ScenarioError("cannot write " + storyboard->path);
    }
    session.Tell("storyboard " + storyboard->path + " (" + std::to_string(storyboard->board.size()) + " pictures)");
}

} // namespace

void AddStoryCommands(CommandTable &table)
{
    table.commands.push_back({"step", Step});
    table.commands.push_back({"storyboard", StartStoryboard});
    table.finish.push_back(FinishStory);
}

} // namespace tapbench
