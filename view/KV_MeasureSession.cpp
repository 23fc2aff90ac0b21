#include "view/KV_MeasureSession.h"

#include "measure/KV_SurfaceMeasures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <cstdlib>

std::string KV_PickText(const KV_PickHit& hit)
{
    std::string text = "Point " + KV_MeasureTriple(hit.mkPoint) + ", polygon " +
                       std::to_string(hit.munPolygon) + ", normal " +
                       KV_MeasureTriple(hit.mkNormal);
    if (hit.mbHasTextureCoordinate)
        text += ", texture " + KV_MeasureNumber(hit.mkTextureCoordinate[0]) + " " +
                KV_MeasureNumber(hit.mkTextureCoordinate[1]);
    if (hit.mbHasColour)
        text += ", texel " + std::to_string(hit.mkColour.red) + " " +
                std::to_string(hit.mkColour.green) + " " + std::to_string(hit.mkColour.blue);
    return text;
}

std::string KV_DistanceText(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    const KV_Distance distance = KV_MeasureDistance(a, b);
    // A surface file names no unit: the numbers are in whatever its coordinates mean.
    return "Distance " + KV_MeasureNumber(distance.mrLength) + " (x " +
           KV_MeasureNumber(distance.mkParts[0]) + ", y " + KV_MeasureNumber(distance.mkParts[1]) +
           ", z " + KV_MeasureNumber(distance.mkParts[2]) + ") in the file's units";
}

std::vector<unsigned int> KV_CombineSelection(const std::vector<unsigned int>& current,
                                              const std::vector<unsigned int>& picked,
                                              bool remove)
{
    std::vector<unsigned int> result;
    result.reserve(remove ? current.size() : current.size() + picked.size());
    if (remove)
        std::set_difference(current.begin(), current.end(), picked.begin(), picked.end(),
                            std::back_inserter(result));
    else
        std::set_union(current.begin(), current.end(), picked.begin(), picked.end(),
                       std::back_inserter(result));
    return result;
}

std::vector<unsigned int> KV_InvertSelection(const std::vector<unsigned int>& current,
                                             unsigned int count)
{
    std::vector<unsigned int> result;
    std::size_t next = 0;
    for (unsigned int i = 0; i < count; ++i)
    {
        while (next < current.size() && current[next] < i)
            ++next;
        if (next == current.size() || current[next] != i)
            result.push_back(i);
    }
    return result;
}

std::string KV_SelectionText(const KV_PolygonSetMeasure& measure)
{
    if (measure.munCount == 0)
        return "No polygons selected";
    return std::to_string(measure.munCount) +
           (measure.munCount == 1 ? " polygon selected, area " : " polygons selected, area ") +
           KV_MeasureNumber(measure.mrArea) + ", boundary length " +
           KV_MeasureNumber(measure.mrBoundaryLength) + " (the file's units)";
}

bool KV_ZoomTowardPoint(const std::array<double, 3>& eyePoint, double step, KV_ZoomMove& move)
{
    const double depth = -eyePoint[2];
    if (!(depth > 0.0) || !std::isfinite(step) || !std::isfinite(eyePoint[0]) ||
        !std::isfinite(eyePoint[1]))
        return false;
    // Every eye coordinate scales by (1 - f): x / z, and so the picture point, stays.
    const double f = std::min(step / depth, 0.9);
    move.a = -f * eyePoint[0];
    move.b = -f * eyePoint[1];
    move.d = -f * eyePoint[2];
    return true;
}

void KV_MeasureSession::Press(int x, int y)
{
    mbPressed = true;
    mbStrayed = false;
    mnDownX = x;
    mnDownY = y;
}

void KV_MeasureSession::Move(int x, int y)
{
    if (mbPressed && (std::abs(x - mnDownX) > kClickSlop || std::abs(y - mnDownY) > kClickSlop))
        mbStrayed = true;
}

bool KV_MeasureSession::Release(int x, int y)
{
    Move(x, y);
    const bool click = mbPressed && !mbStrayed;
    mbPressed = false;
    return click;
}

void KV_MeasureSession::AddPick(const KV_PickHit& hit)
{
    if (mkPicks.size() >= 2)
        mkPicks.clear();
    mkPicks.push_back(hit);
}

void KV_MeasureSession::Clear()
{
    mkPicks.clear();
    mbPressed = false;
}

std::string KV_MeasureSession::StatusText() const
{
    if (mkPicks.size() == 1)
        return KV_PickText(mkPicks[0]);
    if (mkPicks.size() == 2)
        return KV_DistanceText(mkPicks[0].mkPoint, mkPicks[1].mkPoint);
    return std::string();
}
