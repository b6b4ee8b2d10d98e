#include "serve/descriptorlimit.h"

#include <sys/resource.h>

#include <algorithm>

namespace vorna::service {

namespace {

constexpr long MaxDefaultConnections = 65536;

// Descriptors kept back from connections: a quarter of a small limit, 1024 of a large one.
long ownDescriptors(long limit)
{
    return std::clamp(limit / 4, 32L, 1024L);
}

} // namespace

long raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? MaxDefaultConnections * 2 : long(limit.rlim_cur);
}

int connectionsWithin(long descriptorLimit)
{
    return int(std::clamp(descriptorLimit - ownDescriptors(descriptorLimit), 1L, MaxDefaultConnections));
}

} // namespace vorna::service
