#include <machine/ModuleLoader.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace tapmachine {

namespace {

const std::string kMarkerPrefix = "simulated-pc built-in module: ";

class BuiltInModule : public LoadedModule {
public:
    explicit BuiltInModule(const std::map<std::string, void *> &symbols) : symbols_(symbols) {}
    void *Symbol(const std::string &name) const override
    {
        auto found = symbols_.find(name);
        return found == symbols_.end() ? nullptr : found->second;
    }
    bool builtIn() const override { return true; }

private:
    std::map<std::string, void *> symbols_;
};

class SharedObjectModule : public LoadedModule {
public:
    SharedObjectModule(void *handle, std::string copy) : handle_(handle), copy_(std::move(copy)) {}
    ~SharedObjectModule() override
    {
        dlclose(handle_);
        std::error_code ignored;
        fs::remove(copy_, ignored);
    }
    void *Symbol(const std::string &name) const override { return dlsym(handle_, name.c_str()); }
    bool builtIn() const override { return false; }

private:
    void *handle_;
    std::string copy_;
};

std::string ReadStart(const std::string &path, size_t count)
{
    std::ifstream in(path, std::ios::binary);
    std::string start(count, '\0');
    in.read(start.data(), static_cast<std::streamsize>(count));
    start.resize(static_cast<size_t>(in.gcount()));
    return start;
}

}  // namespace

ModuleLoader::ModuleLoader()
{
    std::string pattern = (fs::temp_directory_path() / "tapmachine-modules-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw ModuleLoadError("cannot make a folder for module images");
    }
    scratch_ = pattern;
}

ModuleLoader::~ModuleLoader()
{
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
}

void ModuleLoader::RegisterBuiltIn(const std::string &name, std::map<std::string, void *> symbols)
{
    builtIns_[name] = std::move(symbols);
}

std::string ModuleLoader::BuiltInMarker(const std::string &name)
{
    return kMarkerPrefix + name + "\n";
}

std::optional<std::string> ModuleLoader::BuiltInName(const std::string &contents)
{
    const std::string prefix = kMarkerPrefix;
    if (contents.size() <= prefix.size() + 1 || contents.compare(0, prefix.size(), prefix) != 0 ||
        contents.back() != '\n') {
        return std::nullopt;
    }
    return contents.substr(prefix.size(), contents.size() - prefix.size() - 1);
}

std::unique_ptr<LoadedModule> ModuleLoader::Load(const std::string &hostPath)
{
    std::error_code error;
    if (!fs::is_regular_file(hostPath, error)) {
        throw ModuleLoadError("no module file at " + hostPath);
    }
    std::string start = ReadStart(hostPath, 256);
    if (start.compare(0, kMarkerPrefix.size(), kMarkerPrefix) == 0) {
        std::string name = start.substr(kMarkerPrefix.size());
        name = name.substr(0, name.find('\n'));
        auto found = builtIns_.find(name);
        if (found == builtIns_.end()) {
            throw ModuleLoadError("no built-in module named " + name);
        }
        return std::make_unique<BuiltInModule>(found->second);
    }
    // A private copy per load: the dynamic loader would otherwise hand back the image already
    // mapped, with the globals the previous load left behind.
    std::string copy = (fs::path(scratch_) / (std::to_string(++loads_) + "-" +
                                              fs::path(hostPath).filename().string())).string();
    fs::copy_file(hostPath, copy, fs::copy_options::overwrite_existing, error);
    if (error) {
        throw ModuleLoadError("cannot copy module " + hostPath + ": " + error.message());
    }
    void *handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::string why = dlerror();
        fs::remove(copy, error);
        throw ModuleLoadError("cannot load module " + hostPath + ": " + why);
    }
    return std::make_unique<SharedObjectModule>(handle, copy);
}

}  // namespace tapmachine
