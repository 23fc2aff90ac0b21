#pragma once
// KV_CoarseCopy: the coarse copy of a surface's triangles for drawing while the view moves,
// made on the program's executor. One copy is in the making at a time; a new one, Abandon
// and the destructor let go of the one before without waiting for it: the work stops at its
// next look at its stop flag, and what it shares with its maker stays alive with the work,
// so the maker may be gone by then.

#include "render/KV_TriangleCorners.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

class KV_Executor;

class KV_CoarseCopy
{
public:
    // Called on the worker with the finished copy (never empty), as long as the copy is
    // still wanted: under the lock that Abandon takes, so once Abandon has returned it is
    // not called any more. It must not block and must not call back into this object; the
    // view hands the copy to its own thread (CallAfter) and there asks IsCurrent.
    using Deliver = std::function<void(unsigned long serial, std::vector<unsigned int> coarse)>;

    KV_CoarseCopy() = default;
    ~KV_CoarseCopy();
    KV_CoarseCopy(const KV_CoarseCopy&) = delete;
    KV_CoarseCopy& operator=(const KV_CoarseCopy&) = delete;

    // Lets go of the copy in the making, then begins one of positions (x, y, z per element)
    // and triangles (three element indices each, as KV_SimplifyTriangles takes them) of
    // about target triangles on a thread of executor. The lists are shared, not copied: their
    // owner must not change them while the copy holds them (it makes new ones instead).
    // Returns its serial number, or 0 when no copy is begun: no executor, or one without
    // threads (the surface is then drawn in full while it moves), no lists, or a queue that
    // cannot take it.
    unsigned long Begin(KV_Executor* executor, std::shared_ptr<const std::vector<float>> positions,
                        std::shared_ptr<const KV_TriangleCorners> triangles, std::size_t target,
                        Deliver deliver);
    // Lets go of the copy in the making, if any, without waiting for it.
    void Abandon();
    // Whether a copy has begun and not yet finished (nor been let go of).
    bool IsMaking() const;
    // Whether serial names the copy last begun and not let go of.
    bool IsCurrent(unsigned long serial) const;

private:
    struct Job;
    std::shared_ptr<Job> mpkJob;
    unsigned long munSerial = 0;
};
