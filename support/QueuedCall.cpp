#include "support/QueuedCall.h"

std::mutex &QueuedCall::HandOver()
{
    static std::mutex handOver;
    return handOver;
}
