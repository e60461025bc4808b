// A desktop with the framework's host backend, and a way to run a piece of a program on its own
// UI thread with the test resources as the program's module.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "tap/ui/Framework.h"
#include "tap/ui/host/Session.h"

extern const tap::res::ResourceModule tapFrameworkTestResources;

namespace tap::ui {

class ProgramOf : public Application {
public:
    explicit ProgramOf(std::function<void()> body) : body_(std::move(body)) {}

protected:
    bool InitInstance() override
    {
        body_();
        return false;
    }

private:
    std::function<void()> body_;
};

class FrameworkTest : public testing::Test {
protected:
    host::ProgramId Run(std::function<void()> body)
    {
        host::ProgramId id = session.StartProgram("test", [body] {
            ProgramOf program(body);
            return RunProgram(program, host::Session::ModuleOf(tapFrameworkTestResources), show::Normal);
        });
        session.WaitUntilIdle();
        return id;
    }

    // The top-level window at the top of the Z order.
    WindowHandle TopWindow()
    {
        auto windows = session.TopLevelWindows();
        return windows.empty() ? nullptr : windows.front();
    }

    desktop::Point ScreenOf(WindowHandle window, Point client)
    {
        Point p = WindowRef(window).ClientToScreen(client);
        return {p.x, p.y};
    }

    void Click(WindowHandle window, Point client)
    {
        desktop.Click(ScreenOf(window, client));
        session.WaitUntilIdle();
    }

    void Key(uint32_t key)
    {
        desktop.KeyPress(key);
        session.WaitUntilIdle();
    }

    desktop::LocalScheduler clock;
    desktop::Desktop desktop{clock};
    host::Session session{desktop};
};

} // namespace tap::ui
