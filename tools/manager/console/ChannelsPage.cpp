// Zones and talk groups, and the voice privacy of each talk group and of
// individual calls. Radios keep zone and channel names of at most 31 bytes
// and drop a zone or channel whose name an earlier one already has, so such
// names are refused here rather than lost on the radios.
#include "ChannelsPage.h"

#include "FleetModel.h"
#include "Html.h"
#include "TimeText.h"

#include <algorithm>

namespace Manager {

namespace {

constexpr std::size_t kLongestName = 31;
// Talk group n travels on 225.64.0.0 + n; up to this number it stays in
// 225.64.0.0/16.
constexpr int kHighestChannel = 65535;
constexpr int kHighestZone = 9999;

std::string checkedName(const FormFields& form, const char* what)
{
    const std::string name = form.requiredText("name", std::string("The ") + what + " name");
    if (name.size() > kLongestName)
        throw FormError(std::string("A ") + what + " name has at most 31 bytes; radios cut longer names.");
    return name;
}

// The voice privacy of a talk group (or of individual calls, number 0):
// what it is, and the buttons that change it. Keys are never shown.
std::string voiceCell(const VoicePrivacyState& state, int number, const std::string& what, const std::string& csrf)
{
    auto button = [&](const char* change, const char* label, const char* confirm) {
        return Html::fill(R"(<form method="post" action="/channels/voice"{!confirm}>{!csrf}<input type="hidden" name="number" value="{number}"><input type="hidden" name="change" value="{change}"><button type="submit">{label}</button></form>)",
                          {{"confirm", confirm ? Html::fill(R"( data-confirm="{question}")",
                                                            {{"question", std::string(confirm) + " " + what + "?"}})
                                               : std::string()},
                           {"csrf", Html::csrfField(csrf)},
                           {"number", std::to_string(number)},
                           {"change", change},
                           {"label", label}});
    };
    std::string cell = state.encrypted ? Html::fill("<span class=\"encrypted\">Encrypted</span> (key of {since})",
                                                    {{"since", utcTimeText(state.keySince)}})
                                       : std::string("Clear");
    if (state.previousHeard)
        cell += Html::fill("<br>Replaced key heard until {until}", {{"until", utcTimeText(state.previousUntil)}});
    cell += "<br>";
    if (state.encrypted) {
        cell += button("rotate", "New key", "Give a new key to");
        cell += button("clear", "Turn encryption off", "Turn encryption off for");
    } else {
        cell += button("encrypt", "Encrypt", nullptr);
    }
    if (state.previousHeard)
        cell += button("end-grace", "Stop hearing the replaced key", "Stop hearing the replaced key of");
    return cell;
}

VoicePrivacyChange voiceChange(const std::string& text)
{
    if (text == "encrypt")
        return VoicePrivacyChange::Encrypt;
    if (text == "clear")
        return VoicePrivacyChange::Clear;
    if (text == "rotate")
        return VoicePrivacyChange::RotateKey;
    if (text == "end-grace")
        return VoicePrivacyChange::EndGrace;
    throw FormError("Unknown change of voice privacy.");
}

std::string voiceChangeNotice(VoicePrivacyChange change, const std::string& what)
{
    const std::string grace = std::to_string(kVoiceKeyGraceSeconds / 3600) + " hours";
    switch (change) {
    case VoicePrivacyChange::Encrypt: return "Voice of " + what + " is encrypted with a new key.";
    case VoicePrivacyChange::Clear:
        return "Voice of " + what + " is clear; radios still hear the old key for " + grace + ".";
    case VoicePrivacyChange::RotateKey:
        return "The voice of " + what + " has a new key; radios still hear the old one for " + grace + ".";
    case VoicePrivacyChange::EndGrace: return "Radios no longer hear the replaced key of " + what + ".";
    }
    return std::string();
}

std::string individualCallsSection(FleetModel& model, const std::string& csrf)
{
    return Html::fill(R"(<section class="panel">
<h2>Individual calls</h2>
<p class="hint">One key for the individual calls between all radios. Radios take a new key when they restart with their new settings.</p>
<p id="individual-call-voice">{!voice}</p>
</section>
)",
                      {{"voice", voiceCell(model.voicePrivacy(kIndividualCallsVoiceScope), kIndividualCallsVoiceScope,
                                           "individual calls", csrf)}});
}

std::string zoneOptions(const std::vector<ZoneRecord>& zones, int selected)
{
    std::string options;
    for (const ZoneRecord& zone : zones)
        options += Html::fill(R"(<option value="{number}"{!selected}>{number} &middot; {name}</option>)",
                              {{"number", std::to_string(zone.number)},
                               {"selected", zone.number == selected ? " selected" : ""},
                               {"name", zone.name}});
    return options;
}

std::string zonesSection(const std::vector<ZoneRecord>& zones, const std::vector<ChannelRecord>& channels,
                         const std::string& csrf)
{
    std::string rows;
    for (const ZoneRecord& zone : zones) {
        const auto count = std::count_if(channels.begin(), channels.end(),
                                         [&](const ChannelRecord& channel) { return channel.zoneNumber == zone.number; });
        rows += Html::fill(R"(<tr id="zone-{number}">
<td data-label="Zone">{number}</td>
<td data-label="Name"><form method="post" action="/channels/save-zone" class="row-form">{!csrf}<input type="hidden" name="number" value="{number}"><input name="name" value="{name}" required maxlength="31" aria-label="Name of zone {number}"><button type="submit">Save</button></form></td>
<td data-label="Talk groups">{count}</td>
<td data-label="Actions" class="actions"><form method="post" action="/channels/remove-zone" data-confirm="Remove zone {number} ({name})?">{!csrf}<input type="hidden" name="number" value="{number}"><button type="submit" class="danger">Remove</button></form></td>
</tr>
)",
                           {{"number", std::to_string(zone.number)},
                            {"csrf", Html::csrfField(csrf)},
                            {"name", zone.name},
                            {"count", std::to_string(count)}});
    }
    const std::string table =
        zones.empty() ? std::string("<p class=\"empty\">No zones yet. Radios then show only their local talk groups.</p>\n")
                      : Html::fill(R"(<table class="cards" id="zones">
<thead><tr><th>Zone</th><th>Name</th><th>Talk groups</th><th>Actions</th></tr></thead>
<tbody>
{!rows}</tbody>
</table>
)",
                                   {{"rows", rows}});
    return Html::fill(R"(<section class="panel">
<h2>Zones</h2>
{!table}<form method="post" action="/channels/save-zone" class="fields" id="add-zone">{!csrf}
<label>Zone number <input name="number" type="number" min="1" max="9999" required></label>
<label>Name <input name="name" required maxlength="31"></label>
<button type="submit">Add zone</button>
</form>
</section>
)",
                      {{"table", table}, {"csrf", Html::csrfField(csrf)}});
}

std::string channelsSection(FleetModel& model, const std::vector<ZoneRecord>& zones,
                            const std::vector<ChannelRecord>& channels, const std::string& csrf)
{
    std::string rows;
    for (const ChannelRecord& channel : channels) {
        const std::string voice = voiceCell(model.voicePrivacy(channel.number), channel.number,
                                            "talk group " + std::to_string(channel.number), csrf);
        rows += Html::fill(R"(<tr id="channel-{number}">
<td data-label="Talk group">{number}</td>
<td data-label="Name and zone"><form method="post" action="/channels/save-channel" class="row-form">{!csrf}<input type="hidden" name="number" value="{number}"><input name="name" value="{name}" required maxlength="31" aria-label="Name of talk group {number}"><select name="zone" aria-label="Zone of talk group {number}">{!zones}</select><button type="submit">Save</button></form></td>
<td data-label="Voice" class="actions">{!voice}</td>
<td data-label="Actions" class="actions"><form method="post" action="/channels/remove-channel" data-confirm="Remove talk group {number} ({name})?">{!csrf}<input type="hidden" name="number" value="{number}"><button type="submit" class="danger">Remove</button></form></td>
</tr>
)",
                           {{"number", std::to_string(channel.number)},
                            {"csrf", Html::csrfField(csrf)},
                            {"name", channel.name},
                            {"zones", zoneOptions(zones, channel.zoneNumber)},
                            {"voice", voice}});
    }
    const std::string table =
        channels.empty() ? std::string("<p class=\"empty\">No managed talk groups yet.</p>\n")
                         : Html::fill(R"(<table class="cards" id="channels">
<thead><tr><th>Talk group</th><th>Name and zone</th><th>Voice</th><th>Actions</th></tr></thead>
<tbody>
{!rows}</tbody>
</table>
)",
                                      {{"rows", rows}});
    const std::string addForm =
        zones.empty() ? std::string("<p class=\"hint\">Add a zone first: every talk group belongs to one.</p>\n")
                      : Html::fill(R"(<form method="post" action="/channels/save-channel" class="fields" id="add-channel">{!csrf}
<label>Talk group number <input name="number" type="number" min="1" max="65535" required></label>
<label>Name <input name="name" required maxlength="31"></label>
<label>Zone <select name="zone">{!zones}</select></label>
<button type="submit">Add talk group</button>
</form>
)",
                                   {{"csrf", Html::csrfField(csrf)}, {"zones", zoneOptions(zones, 0)}});
    return Html::fill(R"(<section class="panel wide">
<h2>Managed talk groups</h2>
<p class="hint">Talk group <var>n</var> travels on multicast group 225.64.0.0 + <var>n</var> (talk group 300 on 225.64.1.44).</p>
{!table}{!add}</section>
)",
                      {{"table", table}, {"add", addForm}});
}

} // namespace

std::string ChannelsPage::body(FleetModel& model, const PageRequest& request)
{
    const std::vector<ZoneRecord> zones = model.zones();
    const std::vector<ChannelRecord> channels = model.channels();
    return zonesSection(zones, channels, request.csrfToken) + channelsSection(model, zones, channels, request.csrfToken) +
           individualCallsSection(model, request.csrfToken);
}

std::optional<std::string> ChannelsPage::change(FleetModel& model, const std::string& action, const FormFields& form)
{
    if (action == "save-zone") {
        ZoneRecord zone;
        zone.number = form.number("number", "The zone number", 1, kHighestZone);
        zone.name = checkedName(form, "zone");
        for (const ZoneRecord& other : model.zones())
            if (other.name == zone.name && other.number != zone.number)
                throw FormError("Zone " + std::to_string(other.number) + " is already called " + zone.name +
                                "; radios would drop one of the two.");
        model.saveZone(zone);
        return "Zone " + std::to_string(zone.number) + " (" + zone.name + ") is saved.";
    }
    if (action == "remove-zone") {
        const int number = form.number("number", "The zone number", 1, kHighestZone);
        model.removeZone(number);
        return "Zone " + std::to_string(number) + " is removed.";
    }
    if (action == "save-channel") {
        ChannelRecord channel;
        channel.number = form.number("number", "The talk group number", 1, kHighestChannel);
        channel.name = checkedName(form, "talk group");
        channel.zoneNumber = form.number("zone", "The zone", 1, kHighestZone);
        for (const ChannelRecord& other : model.channels())
            if (other.name == channel.name && other.number != channel.number)
                throw FormError("Talk group " + std::to_string(other.number) + " is already called " + channel.name +
                                "; radios would drop one of the two.");
        model.saveChannel(channel);
        return "Talk group " + std::to_string(channel.number) + " (" + channel.name + ") is saved.";
    }
    if (action == "voice") {
        const int number = form.number("number", "The talk group number", kIndividualCallsVoiceScope, kHighestChannel);
        const VoicePrivacyChange change = voiceChange(form.text("change"));
        model.changeVoicePrivacy(number, change);
        return voiceChangeNotice(change, number == kIndividualCallsVoiceScope
                                             ? std::string("individual calls")
                                             : "talk group " + std::to_string(number));
    }
    if (action == "remove-channel") {
        const int number = form.number("number", "The talk group number", 1, kHighestChannel);
        model.removeChannel(number);
        return "Talk group " + std::to_string(number) + " is removed.";
    }
    return std::nullopt;
}

} // namespace Manager
