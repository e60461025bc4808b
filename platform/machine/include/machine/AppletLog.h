// What the Control Panel of the simulated PC learned from the applets it loaded: for each, the
// answer to CPL_INQUIRE with the strings it names. The Control Panel records; the bench reads.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace tapmachine {

struct AppletRecord {
    std::string file;         // the library as the Control Panel was given it: MonoPanel.cpl
    unsigned index = 0;       // the applet's number in its library
    int icon = 0;             // CPLINFO.idIcon
    std::string name;         // the string CPLINFO.idName names
    std::string description;  // the string CPLINFO.idInfo names
};

// Thread-safe: the Control Panel's thread records while the bench reads.
class AppletLog {
public:
    void Record(AppletRecord record)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back(std::move(record));
    }
    std::vector<AppletRecord> Records() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<AppletRecord> records_;
};

}  // namespace tapmachine
