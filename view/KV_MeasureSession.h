#pragma once
// KV_MeasureSession: the view's Measure mode apart from its window. It tells a click from a
// drag, keeps the one or two points picked so far and words what the status bar shows of
// them: a picked point with its polygon, normal and texture, or the distance between two
// points with its x, y and z parts. Numbers are written as osftool writes them, so that both
// can be compared digit for digit.

#include "measure/KV_SurfaceMeasures.h"
#include "measure/KV_SurfacePicker.h"

#include <array>
#include <string>
#include <vector>

// "Point x y z, polygon N, normal x y z" and, on a textured surface, ", texture u v" and
// ", texel R G B".
std::string KV_PickText(const KV_PickHit& hit);
// "Distance d (x dx, y dy, z dz) in the file's units" from a to b.
std::string KV_DistanceText(const std::array<double, 3>& a, const std::array<double, 3>& b);

struct KV_PolygonSetMeasure;

// The selection after a rectangle: current with picked added, or taken away when remove.
// Both and the result in increasing order, each index once.
std::vector<unsigned int> KV_CombineSelection(const std::vector<unsigned int>& current,
                                              const std::vector<unsigned int>& picked,
                                              bool remove);
// Every polygon of count not in current (increasing order).
std::vector<unsigned int> KV_InvertSelection(const std::vector<unsigned int>& current,
                                             unsigned int count);
// "N polygons selected, area A, boundary length L (the file's units)"; "No polygons
// selected" for none.
std::string KV_SelectionText(const KV_PolygonSetMeasure& measure);

// A wheel step toward (step > 0) or away from (step < 0) the surface point at eyePoint
// (eye coordinates: the eye at the origin looking down -z): the eye moves along its line of
// sight through the point, so that the point stays where it shows in a perspective picture.
// The move is what it adds to every eye coordinate: (a, b, d). The eye moves |step| along its viewing axis, but never more than
// nine tenths of the way to the point. False for a point not in front of the eye.
struct KV_ZoomMove
{
    double a = 0.0, b = 0.0, d = 0.0;
};
bool KV_ZoomTowardPoint(const std::array<double, 3>& eyePoint, double step, KV_ZoomMove& move);

class KV_MeasureSession
{
public:
    // A button that comes up no further than this (in window pixels, either way) from where
    // it went down, and never strayed further, clicked; otherwise it dragged.
    static constexpr int kClickSlop = 2;

    // The left button went down at (x, y).
    void Press(int x, int y);
    // The pointer moved to (x, y) with the button held.
    void Move(int x, int y);
    // The button came up at (x, y): whether that was a click. A release without a press
    // is none.
    bool Release(int x, int y);

    // A point picked: the first and second make a measure; a third begins a new one from
    // itself.
    void AddPick(const KV_PickHit& hit);
    // Esc, a new surface or leaving Measure mode: no points.
    void Clear();
    const std::vector<KV_PickHit>& Picks() const { return mkPicks; }
    // The status bar's text for the picks so far; empty without one.
    std::string StatusText() const;

private:
    bool mbPressed = false;
    bool mbStrayed = false;
    int mnDownX = 0, mnDownY = 0;
    std::vector<KV_PickHit> mkPicks;
};
