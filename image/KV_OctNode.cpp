#include "image/KV_OctNode.h"

#include "foundation/KV_Report.h"

#include <new>

KV_OctNode::KV_OctNode(int level, bool isLeaf) : mnLevel(level), mbIsLeaf(isLeaf) {}

KV_OctNode::~KV_OctNode()
{
    if (mpkChildren == nullptr)
        return;
    for (int slot = 0; slot < 8; ++slot)
    {
        if (mpkChildren[slot] != nullptr)
        {
            ReportMessage("Memory Leak Detected", "OctNode Destructor");
            break;
        }
    }
    delete[] mpkChildren;
}

int KV_OctNode::ChildSlot(unsigned char red, unsigned char green, unsigned char blue) const
{
    const int bit = 7 - mnLevel;
    return 4 * ((red >> bit) & 1) + 2 * ((green >> bit) & 1) + ((blue >> bit) & 1);
}

KV_OctNode** KV_OctNode::Children()
{
    if (mpkChildren == nullptr)
    {
        mpkChildren = new (std::nothrow) KV_OctNode*[8]();
        if (mpkChildren == nullptr)
            ReportOutOfMemory("OctNode Error");
    }
    return mpkChildren;
}
