#pragma once
// KV_SmartPtr<T>: a reference-counted shared pointer for one thread (the counter is not
// atomic). The object is deleted through T's virtual destructor when the last copy goes.

#include "foundation/KV_Dump.h"

#include <ostream>

template <typename T>
class KV_SmartPtr
{
public:
    // Ownership of p passes to the smart pointer. A null pointer gets no counter.
    explicit KV_SmartPtr(T* p = nullptr) : mptData(p), mpunCount(p ? new unsigned int(1) : nullptr)
    {
    }

    KV_SmartPtr(const KV_SmartPtr& other) : mptData(other.mptData), mpunCount(other.mpunCount)
    {
        if (mptData != nullptr)
            ++*mpunCount;
    }

    KV_SmartPtr& operator=(const KV_SmartPtr& other)
    {
        if (&other == this)
            return *this;
        Release();
        mptData = other.mptData;
        mpunCount = other.mpunCount;
        if (mptData != nullptr)
            ++*mpunCount;
        return *this;
    }

    virtual ~KV_SmartPtr() { Release(); }

    T* operator->() const { return mptData; }
    T& operator*() const { return *mptData; }
    T* Get() const { return mptData; }
    bool IsNull() const { return mptData == nullptr; }
    explicit operator bool() const { return mptData != nullptr; }
    unsigned int UseCount() const { return mpunCount ? *mpunCount : 0; }

    virtual void Dump(std::ostream& os) const
    {
        KV_DumpClass(os, "KV_SmartPtr");
        if (mptData != nullptr)
        {
            KV_DumpMemberName(os, "mptData");
            mptData->Dump(os);
        }
        else
        {
            KV_DumpNull(os, "mptData");
        }
        if (mpunCount != nullptr)
            KV_DumpMember(os, "mpunCount", *mpunCount);
        else
            KV_DumpNull(os, "mpunCount");
    }

private:
    void Release()
    {
        if (mptData != nullptr && --*mpunCount == 0)
        {
            delete mptData;
            delete mpunCount;
        }
        mptData = nullptr;
        mpunCount = nullptr;
    }

    T* mptData;
    unsigned int* mpunCount;
};
