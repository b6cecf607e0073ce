// Placing the units' positions on the console's map: a simple
// equirectangular projection fitted to the fleet's bounding box, and a
// scale bar of a round length.
#pragma once

#include <string>
#include <vector>

namespace Manager {

struct MapPoint
{
    double x = 0.0;  // from the left edge
    double y = 0.0;  // from the top edge
};

struct LatLon
{
    double latitude = 0.0;
    double longitude = 0.0;
};

class MapProjection
{
public:
    // Fits the positions, with a margin, into a drawing `width` wide; its
    // height follows the shape of the area within limits. A single position
    // or positions close together get an area of about a kilometre.
    MapProjection(const std::vector<LatLon>& positions, double width);

    double width() const { return width_; }
    double height() const { return height_; }
    MapPoint place(const LatLon& position) const;
    // Metres on the ground per unit of drawing, north to south.
    double metresPerUnit() const { return metresPerUnit_; }

private:
    double width_;
    double height_ = 0.0;
    double centreLatitude_ = 0.0;
    double centreLongitude_ = 0.0;
    double longitudeFactor_ = 1.0;  // east-west shrinking at the centre's latitude
    double unitsPerDegree_ = 1.0;
    double metresPerUnit_ = 1.0;
};

struct ScaleBar
{
    double metres = 0.0;
    double length = 0.0;  // in drawing units
    std::string label;    // "500 m", "2 km"
};

// The longest bar of 1, 2 or 5 times a power of ten metres that is not
// longer than `longest` drawing units.
ScaleBar scaleBarFor(double metresPerUnit, double longest);

} // namespace Manager
