#include "tap/ui/Application.h"

#include "tap/ui/backend/System.h"
#include "tap/ui/backend/Text.h"

namespace tap::ui {
namespace {

thread_local Application* current = nullptr;

} // namespace

Application::Application() = default;
Application::~Application() = default;

Application* Application::Current()
{
    return current;
}

void Application::Attach(ModuleHandle module)
{
    module_ = module;
    name_ = sys::ModuleBaseName(module);
}

IconHandle Application::LoadIconResource(ResourceId id) const
{
    return sys::LoadIconImage(module_, id, sys::SystemMetric(metric::CxIcon));
}

IconHandle Application::LoadSmallIconResource(ResourceId id) const
{
    return sys::LoadIconImage(module_, id, sys::SystemMetric(metric::CxSmIcon));
}

std::string Application::LoadStringResource(ResourceId id) const
{
    std::u16string text;
    return sys::LoadStringText(module_, id, text) ? ToUtf8(text) : std::string();
}

int Application::ShowMessageBox(std::string_view text, uint32_t style) const
{
    return ui::ShowMessageBox(mainWindow_ && mainWindow_->Exists() ? mainWindow_->Handle() : nullptr, text, name_, style);
}

bool Application::InitInstance()
{
    return false;
}

int Application::ExitInstance()
{
    return exitCode_;
}

int RunProgram(Application& application, ModuleHandle module, int)
{
    ResourceScope scope(application, module);
    if (application.InitInstance()) {
        application.exitCode_ = sys::RunMessageLoop();
    }
    return application.ExitInstance();
}

ResourceScope::ResourceScope(Application& application, ModuleHandle module) : previous_(current)
{
    application.Attach(module);
    current = &application;
}

ResourceScope::~ResourceScope()
{
    current = previous_;
}

} // namespace tap::ui
