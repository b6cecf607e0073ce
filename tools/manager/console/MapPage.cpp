// The map as inline SVG (the console runs offline: no map tiles), and the
// table of positions, distances and bearings.
#include "MapPage.h"

#include "FleetModel.h"
#include "Html.h"
#include "LocationGeometry.h"
#include "LocationText.h"
#include "MapProjection.h"
#include "TimeText.h"

#include <cmath>

namespace Manager {

namespace {

constexpr double kMapWidth = 800.0;

struct Placed
{
    UnitRecord unit;
    LatLon position;
    MapPoint point;
};

location_t locationOf(const Position& position)
{
    location_t location;
    location.latitude = position.latitude;
    location.longitude = position.longitude;
    location.valid = true;
    return location;
}

std::string number(double value)
{
    return decimalText(value, 1);
}

// "45.50000° N, 122.25000° W": five decimals are about a metre.
std::string positionText(const Position& position)
{
    return decimalText(std::fabs(position.latitude), 5) + "\u00B0 " + (position.latitude < 0 ? "S" : "N") + ", " +
           decimalText(std::fabs(position.longitude), 5) + "\u00B0 " + (position.longitude < 0 ? "W" : "E");
}

std::string unitLabel(const UnitRecord& unit)
{
    return unit.name.empty() ? unit.code : unit.name;
}

std::string metresText(double metres)
{
    if (metres < 1000.0)
        return decimalText(metres, 0) + " m";
    if (metres < 1000000.0)
        return decimalText(metres / 1000.0, 1) + " km";
    return decimalText(metres / 1000.0, 0) + " km";
}

std::string bearingText(const relative_position_t& relative)
{
    const double degrees = bearingDegrees(relative);
    const long rounded = std::lround(degrees) % 360;
    return std::to_string(rounded) + "\u00B0 " + compassPoint(degrees);
}

std::string chooser(const std::vector<Placed>& placed, const std::string& chosen)
{
    std::string options = "<option value=\"\">(none)</option>";
    for (const Placed& entry : placed)
        options += Html::fill(R"(<option value="{code}"{!selected}>{label} ({code})</option>)",
                              {{"code", entry.unit.code},
                               {"selected", entry.unit.code == chosen ? " selected" : ""},
                               {"label", unitLabel(entry.unit)}});
    return Html::fill(R"(<form method="get" action="/map" class="fields" id="choose">
<label>Distances from <select name="from">{!options}</select></label>
<button type="submit">Show</button>
</form>
)",
                      {{"options", options}});
}

ScaleBar scaleBarOf(const MapProjection& projection)
{
    return scaleBarFor(projection.metresPerUnit(), projection.width() / 4.0);
}

// Faint lines one scale-bar length apart, so that distances can be judged
// anywhere on the map.
std::string gridSvg(const MapProjection& projection)
{
    const double step = scaleBarOf(projection).length;
    if (step < 10.0)
        return {};
    std::string path;
    for (double x = step; x < projection.width(); x += step)
        path += "M" + number(x) + " 0V" + number(projection.height());
    for (double y = projection.height() - step; y > 0.0; y -= step)
        path += "M0 " + number(y) + "H" + number(projection.width());
    return Html::fill(R"(<path class="grid" d="{path}"/>
)",
                      {{"path", path}});
}

std::string scaleBarSvg(const MapProjection& projection)
{
    const ScaleBar bar = scaleBarOf(projection);
    const double left = 20.0, base = projection.height() - 20.0;
    return Html::fill(R"(<g class="scale" id="scale-bar"><path d="M{left} {top} V{base} H{right} V{top}"/><text x="{left}" y="{labelY}">{label}</text></g>
)",
                      {{"left", number(left)},
                       {"right", number(left + bar.length)},
                       {"top", number(base - 6.0)},
                       {"base", number(base)},
                       {"labelY", number(base - 10.0)},
                       {"label", bar.label}});
}

std::string northArrowSvg(const MapProjection& projection)
{
    const double x = projection.width() - 30.0;
    return Html::fill(R"(<g class="north"><path d="M{x} 16 l8 22 h-16 z"/><text x="{x}" y="54">N</text></g>
)",
                      {{"x", number(x)}});
}

std::string raysSvg(const std::vector<Placed>& placed, const Placed& from)
{
    std::string rays;
    for (const Placed& to : placed) {
        if (&to == &from)
            continue;
        const relative_position_t relative = relativePosition(locationOf(*from.unit.lastPosition),
                                                              locationOf(*to.unit.lastPosition));
        rays += Html::fill(R"(<g class="ray"><line x1="{x1}" y1="{y1}" x2="{x2}" y2="{y2}"/><text x="{mx}" y="{my}">{distance}</text></g>
)",
                           {{"x1", number(from.point.x)},
                            {"y1", number(from.point.y)},
                            {"x2", number(to.point.x)},
                            {"y2", number(to.point.y)},
                            {"mx", number((from.point.x + to.point.x) / 2.0)},
                            {"my", number((from.point.y + to.point.y) / 2.0 - 6.0)},
                            {"distance", metresText(relative.distance)}});
    }
    return rays;
}

std::string unitsSvg(const std::vector<Placed>& placed, const std::string& chosen)
{
    std::string marks;
    for (const Placed& entry : placed)
        marks += Html::fill(R"(<a href="/map?from={code}" class="{kind}" id="mark-{code}"><title>{label} ({code})</title><circle cx="{x}" cy="{y}" r="8"/><text x="{tx}" y="{ty}">{label}</text></a>
)",
                            {{"code", entry.unit.code},
                             {"kind", entry.unit.code == chosen ? "unit chosen" : "unit"},
                             {"label", unitLabel(entry.unit)},
                             {"x", number(entry.point.x)},
                             {"y", number(entry.point.y)},
                             {"tx", number(entry.point.x + 12.0)},
                             {"ty", number(entry.point.y + 5.0)}});
    return marks;
}

std::string mapSvg(const std::vector<Placed>& placed, const Placed* from, const MapProjection& projection)
{
    return Html::fill(R"(<svg class="map" id="map" viewBox="0 0 {w} {h}" role="img" aria-label="Last reported positions of the units">
<rect class="ground" width="{w}" height="{h}"/>
{!grid}{!rays}{!units}{!scale}{!north}</svg>
)",
                      {{"w", number(projection.width())},
                       {"h", number(projection.height())},
                       {"grid", gridSvg(projection)},
                       {"rays", from ? raysSvg(placed, *from) : std::string()},
                       {"units", unitsSvg(placed, from ? from->unit.code : std::string())},
                       {"scale", scaleBarSvg(projection)},
                       {"north", northArrowSvg(projection)}});
}

std::string positionsTable(const std::vector<Placed>& placed, const Placed* from, std::int64_t now)
{
    std::string rows;
    for (const Placed& entry : placed) {
        std::string distance = "&mdash;", bearing = "&mdash;", onRadio = "&mdash;";
        if (from && &entry != from) {
            const relative_position_t relative =
                relativePosition(locationOf(*from->unit.lastPosition), locationOf(*entry.unit.lastPosition));
            distance = Html::escape(metresText(relative.distance));
            bearing = Html::escape(bearingText(relative));
            onRadio = Html::escape(distanceText(relative, "English"));
        }
        const Position& position = *entry.unit.lastPosition;
        rows += Html::fill(R"(<tr id="position-{code}"{!chosen}>
<td data-label="Unit"><a href="/map?from={code}">{label}</a> <small>{code}</small></td>
<td data-label="Position">{position}</td>
<td data-label="Reported">{!reported}</td>
<td data-label="Distance" class="distance">{!distance}</td>
<td data-label="Bearing" class="bearing">{!bearing}</td>
<td data-label="On the radio" class="radio-text">{!onRadio}</td>
</tr>
)",
                           {{"code", entry.unit.code},
                            {"chosen", &entry == from ? " class=\"chosen\"" : ""},
                            {"label", unitLabel(entry.unit)},
                            {"position", positionText(position)},
                            {"reported", position.time == 0 ? std::string("<span class=\"muted\">unknown</span>")
                                                            : Html::fill(R"(<time datetime="{iso}" title="{utc}">{ago}</time>)",
                                                                         {{"iso", isoTimeText(position.time)},
                                                                          {"utc", utcTimeText(position.time)},
                                                                          {"ago", timeAgoText(position.time, now)}})},
                            {"distance", distance},
                            {"bearing", bearing},
                            {"onRadio", onRadio}});
    }
    return Html::fill(R"(<table class="cards" id="positions">
<thead><tr><th>Unit</th><th>Position</th><th>Reported</th><th>Distance</th><th>Bearing</th><th>On the radio</th></tr></thead>
<tbody>
{!rows}</tbody>
</table>
)",
                      {{"rows", rows}});
}

} // namespace

std::string MapPage::body(FleetModel& model, const PageRequest& request)
{
    std::vector<Placed> placed;
    std::vector<LatLon> positions;
    for (UnitRecord& unit : model.units()) {
        if (!unit.lastPosition)
            continue;
        const LatLon position{unit.lastPosition->latitude, unit.lastPosition->longitude};
        positions.push_back(position);
        placed.push_back({std::move(unit), position, {}});
    }
    if (placed.empty())
        return "<section class=\"panel wide\"><p class=\"empty\">No unit has reported its position yet.</p></section>\n";

    const MapProjection projection(positions, kMapWidth);
    for (Placed& entry : placed)
        entry.point = projection.place(entry.position);

    const auto chosenField = request.query.find("from");
    const std::string chosen = chosenField == request.query.end() ? std::string() : chosenField->second;
    const Placed* from = nullptr;
    for (const Placed& entry : placed)
        if (entry.unit.code == chosen)
            from = &entry;

    const std::string hint = from ? std::string()
                                  : std::string("<p class=\"hint\">Choose a unit, here or on the map, to see how far "
                                                "away the others are and in which direction.</p>\n");
    return Html::fill(R"(<section class="panel wide">
{!chooser}{!hint}{!map}</section>
<section class="panel wide">
<h2>Positions</h2>
{!table}<p class="hint">Distances along the great circle, bearings clockwise from true north, as the radios compute them; &ldquo;On the radio&rdquo; is what a radio's display shows.</p>
</section>
)",
                      {{"chooser", chooser(placed, chosen)},
                       {"hint", hint},
                       {"map", mapSvg(placed, from, projection)},
                       {"table", positionsTable(placed, from, request.now)}});
}

} // namespace Manager
