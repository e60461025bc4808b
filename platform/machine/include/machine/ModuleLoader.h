// Loads the modules of the simulated PC: the drivers (and later the programs) whose files lie on
// its drive C:.
//
// A module file is either a host shared object (a driver built for this machine, copied or linked
// to its place under system32\drivers) or a small marker file that names a module built into the
// machine itself (the serial port, beep and mouse class drivers). A shared object is loaded from a
// private copy with RTLD_LOCAL, so every load starts with fresh, zeroed globals of its own, as a
// driver image loaded by Windows does, and two modules never share a global.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace tapmachine {

class ModuleLoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LoadedModule {
public:
    virtual ~LoadedModule() = default;
    // Address of an exported symbol, or null.
    virtual void *Symbol(const std::string &name) const = 0;
    virtual bool builtIn() const = 0;
};

class ModuleLoader {
public:
    ModuleLoader();
    ~ModuleLoader();
    ModuleLoader(const ModuleLoader &) = delete;
    ModuleLoader &operator=(const ModuleLoader &) = delete;

    // Makes a module part of the machine: a file whose contents are BuiltInMarker(name) loads it.
    void RegisterBuiltIn(const std::string &name, std::map<std::string, void *> symbols);
    static std::string BuiltInMarker(const std::string &name);
    // The name a marker file's contents give, or nothing for any other file. The user-mode
    // stand-in's system libraries (system32\newdev.dll) are such markers too.
    static std::optional<std::string> BuiltInName(const std::string &contents);

    // Throws ModuleLoadError when the file is missing or is not a loadable module.
    std::unique_ptr<LoadedModule> Load(const std::string &hostPath);

private:
    std::string scratch_;
    unsigned loads_ = 0;
    std::map<std::string, std::map<std::string, void *>> builtIns_;
};

}  // namespace tapmachine
