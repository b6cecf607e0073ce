// Equirectangular projection of the fleet's bounding box and the scale bar.
#include "MapProjection.h"

#include "LocationText.h"

#include <algorithm>
#include <cmath>

namespace Manager {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The sphere the radios measure distances on.
constexpr double kEarthRadiusMetres = 6378000.0;
constexpr double kMetresPerDegree = kEarthRadiusMetres * kPi / 180.0;
// About a kilometre: the smallest area shown.
constexpr double kSmallestSpanDegrees = 0.01;
constexpr double kMargin = 0.15;  // of the span, on each side
constexpr double kLowestShape = 0.5;  // height / width
constexpr double kHighestShape = 0.75;

} // namespace

MapProjection::MapProjection(const std::vector<LatLon>& positions, double width) : width_(width)
{
    if (positions.empty()) {
        height_ = width * kLowestShape;
        return;
    }
    double south = positions.front().latitude, north = south;
    double west = positions.front().longitude, east = west;
    for (const LatLon& position : positions) {
        south = std::min(south, position.latitude);
        north = std::max(north, position.latitude);
        west = std::min(west, position.longitude);
        east = std::max(east, position.longitude);
    }
    centreLatitude_ = (south + north) / 2.0;
    centreLongitude_ = (west + east) / 2.0;
    longitudeFactor_ = std::max(std::cos(centreLatitude_ * kPi / 180.0), 0.01);

    const double spanX = std::max((east - west) * longitudeFactor_, kSmallestSpanDegrees) * (1.0 + 2.0 * kMargin);
    const double spanY = std::max(north - south, kSmallestSpanDegrees) * (1.0 + 2.0 * kMargin);
    height_ = width_ * std::clamp(spanY / spanX, kLowestShape, kHighestShape);
    unitsPerDegree_ = std::min(width_ / spanX, height_ / spanY);
    metresPerUnit_ = kMetresPerDegree / unitsPerDegree_;
}

MapPoint MapProjection::place(const LatLon& position) const
{
    return {width_ / 2.0 + (position.longitude - centreLongitude_) * longitudeFactor_ * unitsPerDegree_,
            height_ / 2.0 - (position.latitude - centreLatitude_) * unitsPerDegree_};
}

ScaleBar scaleBarFor(double metresPerUnit, double longest)
{
    const double longestMetres = longest * metresPerUnit;
    double power = std::pow(10.0, std::floor(std::log10(longestMetres)));
    double metres = power;
    for (double step : {2.0, 5.0, 10.0})
        if (power * step <= longestMetres)
            metres = power * step;
    ScaleBar bar;
    bar.metres = metres;
    bar.length = metres / metresPerUnit;
    bar.label = metres >= 1000.0 ? decimalText(metres / 1000.0, 0) + " km" : decimalText(metres, 0) + " m";
    return bar;
}

} // namespace Manager
