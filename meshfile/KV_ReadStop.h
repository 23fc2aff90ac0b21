#pragma once
// The stop flag as the model readers look at it: a long loop calls KV_CheckStop every few
// thousand steps (one relaxed load), which throws KV_StopSeen once the caller has set the
// flag; the reader catches it at its boundary, empties what it made and says "stopped".

#include <atomic>

struct KV_StopSeen
{
};

// True when the flag is given and set.
inline bool KV_IsStopped(const std::atomic<bool>* stop)
{
    return stop != nullptr && stop->load(std::memory_order_relaxed);
}

inline void KV_CheckStop(const std::atomic<bool>* stop)
{
    if (KV_IsStopped(stop))
        throw KV_StopSeen();
}

// Every how many steps a loop looks at the flag: cheap enough to go unnoticed, often enough
// that even the slowest step (a polygon of many corners, a texture coordinate lookup) keeps
// the wait after a stop far below a tenth of a second.
const unsigned int kStopCheckEvery = 8192;
