// libFuzzer target: the registry text of the simulated PC (platform/machine RegistryText.h) and
// the kernel registry store's own text form, on arbitrary text. Either parser refuses with its
// error (RegistryTextError naming a line within the text; LoadText false with a message) or
// accepts; what the machine's parser accepts must survive formatting and parsing again
// unchanged, and the store's saved text must load back to the same text.
#include <machine/RegistryText.h>
#include <tapkernel/Registry.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

[[noreturn]] void Broken(const char *what, const std::string &detail)
{
    std::fprintf(stderr, "fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

void MachineText(const std::string &text)
{
    std::vector<tapmachine::RegistryKeyRecord> keys;
    try {
        keys = tapmachine::ParseRegistryText(text);
    } catch (const tapmachine::RegistryTextError &error) {
        unsigned lines = static_cast<unsigned>(std::count(text.begin(), text.end(), '\n')) + 1;
        if (error.line() == 0 || error.line() > lines) {
            Broken("a refusal names a line the text does not have", error.what());
        }
        return;
    } catch (const std::exception &error) {
        Broken("the parser threw something other than a RegistryTextError", error.what());
    }
    std::string formatted;
    try {
        formatted = tapmachine::FormatRegistryText(keys);
        if (tapmachine::ParseRegistryText(formatted) != keys) {
            Broken("formatting and parsing again changed the registry", formatted);
        }
    } catch (const std::exception &error) {
        Broken("what the parser accepted does not survive formatting", std::string(error.what()) + "\n" + formatted);
    }
}

void StoreText(const std::string &text)
{
    tapkernel::RegistryStore store;
    std::string error;
    if (!store.LoadText(text, &error)) {
        if (error.empty()) {
            Broken("the store refused its text without a message", text);
        }
        return;
    }
    std::string saved = store.SaveText();
    tapkernel::RegistryStore again;
    if (!again.LoadText(saved, &error) || again.SaveText() != saved) {
        Broken("the store's saved text does not load back to itself", saved);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    // The first byte picks the parser, so one corpus serves both.
    std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (data[0] & 1) {
        StoreText(text);
    } else {
        MachineText(text);
    }
    return 0;
}
