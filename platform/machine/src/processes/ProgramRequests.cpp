#include <machine/ProgramRequests.h>

namespace tapmachine {

void ProgramRequestLog::Record(ProgramRequest request)
{
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(request));
}

std::vector<ProgramRequest> ProgramRequestLog::Take()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ProgramRequest> taken;
    taken.swap(requests_);
    return taken;
}

}  // namespace tapmachine
