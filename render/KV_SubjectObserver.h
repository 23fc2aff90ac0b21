#pragma once
// The change-notification pair. A subject (a geometry) keeps an ordered list of observers
// (its actors, not owned) and tells each of them, in attach order, that something changed:
// a small hint index says what (0 surface data, 1 texture image, 7 nothing but the hint
// object) and an optional hint object carries details.

#include "foundation/KV_List.h"

#include <ostream>

// Base of the objects a notification may carry. An observer that keeps one makes its own
// copy with Clone().
class KV_SubjectObserverObjectHint
{
public:
    virtual ~KV_SubjectObserverObjectHint() = default;
    virtual KV_SubjectObserverObjectHint* Clone() const = 0;
    virtual void Dump(std::ostream& os) const = 0;
};

// A rectangle of the texture image changed: the first and the last corner, inclusive, each
// a (column, row) texel position.
class KV_UpdateTextureSubImageHint : public KV_SubjectObserverObjectHint
{
public:
    KV_UpdateTextureSubImageHint(int firstColumn, int firstRow, int lastColumn, int lastRow)
        : mnFirstColumn(firstColumn),
          mnFirstRow(firstRow),
          mnLastColumn(lastColumn),
          mnLastRow(lastRow)
    {
    }
    KV_SubjectObserverObjectHint* Clone() const override
    {
        return new KV_UpdateTextureSubImageHint(*this);
    }
    void Dump(std::ostream& os) const override;

    int mnFirstColumn;
    int mnFirstRow;
    int mnLastColumn;
    int mnLastRow;
};

class KV_Subject;

class KV_Observer
{
public:
    virtual ~KV_Observer() = default;
    // hintObject may be null; it belongs to the caller and lives only for the call.
    virtual void Update(KV_Subject* subject, int hintIndex,
                        const KV_SubjectObserverObjectHint* hintObject) = 0;
    // The subject is being destroyed while this observer is still attached: forget it.
    // The base does nothing.
    virtual void SubjectDestroyed(KV_Subject* subject);
};

class KV_Subject
{
public:
    // Hint indices.
    enum
    {
        HINT_SURFACE_CHANGED = 0,
        HINT_TEXTURE_CHANGED = 1,
        HINT_OBJECT_ONLY = 7
    };

    KV_Subject();
    // Tells every observer still attached that the subject goes (SubjectDestroyed), so that
    // none keeps a dangling pointer.
    virtual ~KV_Subject();
    // A copy starts with no observers: observers attach to one particular subject.
    KV_Subject(const KV_Subject& other);
    KV_Subject& operator=(const KV_Subject& other);

    // Appends the observer (no duplicate check); returns the new count.
    virtual unsigned int Attach(KV_Observer* observer);
    // Removes the first entry for observer; returns the new count. An observer that is not
    // attached leaves the list unchanged.
    virtual unsigned int Detach(KV_Observer* observer);
    // Calls Update(this, hintIndex, hintObject) on every observer in attach order.
    virtual void Notify(int hintIndex, const KV_SubjectObserverObjectHint* hintObject);

    unsigned int ObserverCount() const { return munObserverCount; }

private:
    KV_List<KV_Observer*> mkObservers;
    unsigned int munObserverCount = 0;
};
