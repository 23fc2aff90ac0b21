#pragma once
// KV_SmartPtr<T>: a reference-counted shared pointer for one thread (the counter is not
// atomic). The object is deleted through T's virtual destructor when the last copy goes.

#include "foundation/KV_Dump.h"

#include <ostream>

// g++ 12 cannot see that two copies share one counter and warns of a use after free in
// code that reads the counter after another copy released its share.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif

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
        // Take the new share before releasing the old one, so that two pointers sharing one
        // object never drop its count to zero in between.
        T* data = other.mptData;
        unsigned int* count = other.mpunCount;
        if (data != nullptr)
            ++*count;
        Release();
        mptData = data;
        mpunCount = count;
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

#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic pop
#endif
