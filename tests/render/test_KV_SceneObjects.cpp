// Scene objects that need no OpenGL context: notification, boxes, colours, dumps.

#include "render/KV_BoundingBox3D.h"
#include "render/KV_Material.h"
#include "render/KV_SubjectObserver.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace
{
struct Call
{
    KV_Subject* subject;
    int hint;
    const KV_SubjectObserverObjectHint* object;
    int who;
};

class RecordingObserver : public KV_Observer
{
public:
    RecordingObserver(std::vector<Call>& calls, int who) : mkCalls(calls), mnWho(who) {}
    void Update(KV_Subject* subject, int hint, const KV_SubjectObserverObjectHint* object) override
    {
        mkCalls.push_back({subject, hint, object, mnWho});
    }
    void SubjectDestroyed(KV_Subject* subject) override { mpGone = subject; }

    std::vector<Call>& mkCalls;
    int mnWho;
    KV_Subject* mpGone = nullptr;
};
}  // namespace

TEST(SubjectObserver, NotifiesInAttachOrderWithTheHint)
{
    std::vector<Call> calls;
    RecordingObserver a(calls, 1), b(calls, 2);
    KV_Subject subject;
    subject.Notify(0, nullptr);  // no observers: nothing happens
    EXPECT_TRUE(calls.empty());

    EXPECT_EQ(1u, subject.Attach(&a));
    EXPECT_EQ(2u, subject.Attach(&b));
    EXPECT_EQ(3u, subject.Attach(&a));  // no duplicate check
    KV_UpdateTextureSubImageHint hint(1, 2, 3, 4);
    subject.Notify(7, &hint);
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ(1, calls[0].who);
    EXPECT_EQ(2, calls[1].who);
    EXPECT_EQ(1, calls[2].who);
    EXPECT_EQ(&subject, calls[0].subject);
    EXPECT_EQ(7, calls[0].hint);
    EXPECT_EQ(&hint, calls[0].object);

    // Detach removes the first entry only; an unknown observer changes nothing.
    EXPECT_EQ(2u, subject.Detach(&a));
    RecordingObserver stranger(calls, 3);
    EXPECT_EQ(2u, subject.Detach(&stranger));
    calls.clear();
    subject.Notify(1, nullptr);
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(2, calls[0].who);
    EXPECT_EQ(1, calls[1].who);
}

TEST(SubjectObserver, DestroyedSubjectTellsItsObservers)
{
    std::vector<Call> calls;
    RecordingObserver a(calls, 1);
    KV_Subject* address = nullptr;
    {
        KV_Subject subject;
        address = &subject;
        subject.Attach(&a);
        // A copy of a subject starts without observers.
        KV_Subject copy(subject);
        EXPECT_EQ(0u, copy.ObserverCount());
    }
    EXPECT_EQ(address, a.mpGone);
}

TEST(SubjectObserver, HintCopiesAreIndependent)
{
    KV_UpdateTextureSubImageHint hint(0, 1, 10, 11);
    std::unique_ptr<KV_SubjectObserverObjectHint> copy(hint.Clone());
    hint.mnLastRow = 99;
    auto* kept = dynamic_cast<KV_UpdateTextureSubImageHint*>(copy.get());
    ASSERT_NE(nullptr, kept);
    EXPECT_EQ(0, kept->mnFirstColumn);
    EXPECT_EQ(1, kept->mnFirstRow);
    EXPECT_EQ(10, kept->mnLastColumn);
    EXPECT_EQ(11, kept->mnLastRow);
}

TEST(BoundingBox3D, CentreUnionAndDiagonal)
{
    KV_BoundingBox3D box(0, 2, -1, 1, 4, 8);
    const KV_Vector3D centre = box.GetCentre();
    EXPECT_FLOAT_EQ(1.0f, centre.x);
    EXPECT_FLOAT_EQ(0.0f, centre.y);
    EXPECT_FLOAT_EQ(6.0f, centre.z);

    box.Union(KV_BoundingBox3D(1, 5, -3, 0, 5, 6));
    EXPECT_EQ(0.0f, box.mrXLo);
    EXPECT_EQ(5.0f, box.mrXHi);
    EXPECT_EQ(-3.0f, box.mrYLo);
    EXPECT_EQ(1.0f, box.mrYHi);
    EXPECT_EQ(4.0f, box.mrZLo);
    EXPECT_EQ(8.0f, box.mrZHi);

    KV_BoundingBox3D unit(0, 1, 0, 1, 0, 1);
    EXPECT_FLOAT_EQ(std::sqrt(3.0f), unit.DiagonalLength());
    EXPECT_EQ(KV_Vector3D(1, 0, 1), unit.Corner(5));
}

TEST(SceneObjectDumps, ColourBoxAndMaterial)
{
    std::ostringstream colour;
    KV_OGLColour::Red().Dump(colour);
    EXPECT_EQ("KV_OGLColour: \n mrRed: 1\n mrGreen: 0\n mrBlue: 0\n mrAlpha: 1\n", colour.str());

    std::ostringstream box;
    KV_BoundingBox3D(0, 1.5f, 2, 3, 4, 5).Dump(box);
    EXPECT_EQ(
        "KV_BoundingBox3D: \n mrXLo: 0\n mrXHi: 1.5\n mrYLo: 2\n mrYHi: 3\n mrZLo: 4\n"
        " mrZHi: 5\n",
        box.str());

    std::ostringstream material;
    KV_Material().Dump(material);
    EXPECT_EQ(
        "KV_Material: \n meMaterialFaces: 3\n"
        " mkAmbient: KV_OGLColour: \n mrRed: 0.2\n mrGreen: 0.2\n mrBlue: 0.2\n mrAlpha: 1\n"
        " mkDiffuse: KV_OGLColour: \n mrRed: 0.8\n mrGreen: 0.8\n mrBlue: 0.8\n mrAlpha: 1\n"
        " mkSpecular: KV_OGLColour: \n mrRed: 1\n mrGreen: 1\n mrBlue: 1\n mrAlpha: 1\n"
        " mrShininess: 25\n",
        material.str());
}
