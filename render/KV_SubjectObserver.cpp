#include "render/KV_SubjectObserver.h"

#include "foundation/KV_Dump.h"

void KV_UpdateTextureSubImageHint::Dump(std::ostream& os) const
{
    KV_DumpClass(os, "KV_UpdateTextureSubImageHint");
    KV_DumpMember(os, "mnFirstColumn", mnFirstColumn);
    KV_DumpMember(os, "mnFirstRow", mnFirstRow);
    KV_DumpMember(os, "mnLastColumn", mnLastColumn);
    KV_DumpMember(os, "mnLastRow", mnLastRow);
}

void KV_Observer::SubjectDestroyed(KV_Subject*) {}

KV_Subject::KV_Subject() : mkObservers(8) {}

KV_Subject::KV_Subject(const KV_Subject&) : mkObservers(8) {}

KV_Subject& KV_Subject::operator=(const KV_Subject&)
{
    return *this;
}

KV_Subject::~KV_Subject()
{
    // Each observer is told once and taken off the list first, so that it may detach itself
    // (or not) without disturbing the walk.
    while (munObserverCount > 0)
    {
        KV_Observer* observer = mkObservers[0];
        for (unsigned int i = 1; i < munObserverCount; ++i) mkObservers[i - 1] = mkObservers[i];
        munObserverCount -= 1;
        mkObservers.SetCount(munObserverCount);
        observer->SubjectDestroyed(this);
    }
}

unsigned int KV_Subject::Attach(KV_Observer* observer)
{
    mkObservers.Append(observer);
    munObserverCount = mkObservers.Count();
    return munObserverCount;
}

unsigned int KV_Subject::Detach(KV_Observer* observer)
{
    for (unsigned int i = 0; i < munObserverCount; ++i)
    {
        if (mkObservers[i] != observer)
            continue;
        for (unsigned int j = i + 1; j < munObserverCount; ++j) mkObservers[j - 1] = mkObservers[j];
        munObserverCount -= 1;
        mkObservers.SetCount(munObserverCount);
        break;
    }
    return munObserverCount;
}

void KV_Subject::Notify(int hintIndex, const KV_SubjectObserverObjectHint* hintObject)
{
    // The count is read on every step: an observer may detach itself while being updated.
    for (unsigned int i = 0; i < munObserverCount; ++i)
        mkObservers[i]->Update(this, hintIndex, hintObject);
}
