#include "foundation/KV_SmartPtr.h"

#include <gtest/gtest.h>

#include <sstream>

namespace
{
struct Counted
{
    explicit Counted(int* deletions) : mpnDeletions(deletions) {}
    virtual ~Counted() { ++*mpnDeletions; }
    void Dump(std::ostream& os) const
    {
        KV_DumpClass(os, "Counted");
        KV_DumpMember(os, "mrValue", 0.1f);
    }
    int* mpnDeletions;
};
}  // namespace

TEST(KV_SmartPtr, ThreeCopiesDeleteOnceAtTheLastDestructionInAnyOrder)
{
    const int orders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (const auto& order : orders)
    {
        int deletions = 0;
        auto* a = new KV_SmartPtr<Counted>(new Counted(&deletions));
        auto* b = new KV_SmartPtr<Counted>(*a);
        auto* c = new KV_SmartPtr<Counted>(*b);
        EXPECT_EQ(a->UseCount(), 3u);
        KV_SmartPtr<Counted>* copies[3] = {a, b, c};
        delete copies[order[0]];
        delete copies[order[1]];
        EXPECT_EQ(deletions, 0);
        delete copies[order[2]];
        EXPECT_EQ(deletions, 1);
    }
}

TEST(KV_SmartPtr, AssignmentReleasesTheOldObject)
{
    int first = 0;
    int second = 0;
    KV_SmartPtr<Counted> a(new Counted(&first));
    KV_SmartPtr<Counted> b(new Counted(&second));
    a = a;
    EXPECT_EQ(first, 0);
    a = b;
    EXPECT_EQ(first, 1);
    EXPECT_EQ(b.UseCount(), 2u);
    b = KV_SmartPtr<Counted>();
    EXPECT_TRUE(b.IsNull());
    EXPECT_EQ(a.UseCount(), 1u);
    EXPECT_EQ(second, 0);
}

TEST(KV_SmartPtr, DumpFollowsTheConvention)
{
    int deletions = 0;
    KV_SmartPtr<Counted> p(new Counted(&deletions));
    std::ostringstream os;
    p.Dump(os);
    EXPECT_EQ(os.str(), "KV_SmartPtr: \n mptData: Counted: \n mrValue: 0.1\n mpunCount: 1\n");

    KV_SmartPtr<Counted> null;
    std::ostringstream os2;
    null.Dump(os2);
    EXPECT_EQ(os2.str(), "KV_SmartPtr: \n mptData: null pointer\n mpunCount: null pointer\n");
}
