// Routers and service options.
#include "ServicePage.h"

#include "FleetModel.h"
#include "Html.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>

namespace Manager {

namespace {

// The codec settings radios know, and the packet intervals (ms) their
// settings dialog offers; a radio reads any other codec text as PCMU.
const std::array<const char*, 15> kCodecs = {"PCMU",    "PCMA",    "Speex 1",  "Speex 2", "Speex 3",
                                             "Speex 4", "Speex 5", "Speex 6",  "Speex 7", "Speex 8",
                                             "Opus 6.4", "Opus 8", "Opus 12", "Opus 16", "Opus 24"};
const std::array<int, 15> kPacketIntervals = {20, 40, 60, 80, 100, 120, 140, 200, 300, 400, 500, 520, 540, 560, 580};
constexpr int kLongestGpsInterval = 86400;

std::string routersSection(const std::vector<RouterRecord>& routers, const std::string& csrf)
{
    std::string rows;
    for (const RouterRecord& router : routers)
        rows += Html::fill(R"(<tr>
<td data-label="Address"><code>{address}</code></td>
<td data-label="Port">{port}</td>
<td data-label="Actions" class="actions"><form method="post" action="/service/remove-router" data-confirm="Remove router {address}:{port}?">{!csrf}<input type="hidden" name="address" value="{address}"><input type="hidden" name="port" value="{port}"><button type="submit" class="danger">Remove</button></form></td>
</tr>
)",
                           {{"address", router.address},
                            {"port", std::to_string(router.port)},
                            {"csrf", Html::csrfField(csrf)}});
    const std::string table =
        routers.empty()
            ? std::string("<p class=\"empty\">No routers: radios then use their built-in default router.</p>\n")
            : Html::fill(R"(<table class="cards" id="routers">
<thead><tr><th>Address</th><th>Port</th><th>Actions</th></tr></thead>
<tbody>
{!rows}</tbody>
</table>
)",
                         {{"rows", rows}});
    return Html::fill(R"(<section class="panel">
<h2>Relay routers</h2>
{!table}<form method="post" action="/service/add-router" class="fields" id="add-router">{!csrf}
<label>IPv4 address <input name="address" required maxlength="15" inputmode="decimal" placeholder="192.0.2.10"></label>
<label>UDP port <input name="port" type="number" min="1" max="65535" value="3301" required></label>
<button type="submit">Add router</button>
</form>
</section>
)",
                      {{"table", table}, {"csrf", Html::csrfField(csrf)}});
}

std::string codecOptions(const std::string& selected)
{
    std::string options;
    bool known = false;
    for (const char* codec : kCodecs) {
        known = known || selected == codec;
        options += Html::fill(R"(<option{!selected}>{codec}</option>)",
                              {{"selected", selected == codec ? " selected" : ""}, {"codec", codec}});
    }
    if (!known)  // keep showing what is stored, even if radios do not know it
        options += Html::fill(R"(<option selected>{codec}</option>)", {{"codec", selected}});
    return options;
}

std::string intervalOptions(int selected)
{
    std::string options;
    bool known = false;
    for (int interval : kPacketIntervals) {
        known = known || selected == interval;
        options += Html::fill(R"(<option value="{ms}"{!selected}>{ms} ms</option>)",
                              {{"ms", std::to_string(interval)}, {"selected", selected == interval ? " selected" : ""}});
    }
    if (!known)
        options += Html::fill(R"(<option value="{ms}" selected>{ms} ms</option>)", {{"ms", std::to_string(selected)}});
    return options;
}

std::string optionsSection(const ServiceOptions& options, const std::string& csrf)
{
    return Html::fill(R"(<section class="panel">
<h2>Codec and options</h2>
<form method="post" action="/service/options" class="fields" id="options">{!csrf}
<label>Codec <select name="codec">{!codecs}</select></label>
<label>Packet interval <select name="packetInterval">{!intervals}</select></label>
<label>Position report interval (s) <input name="gpsInterval" type="number" min="1" max="86400" value="{gps}" required></label>
<label class="check"><input type="checkbox" name="localChannels"{!local}> Local talk groups (225.4.0.1 to 225.4.0.16)</label>
<label class="check"><input type="checkbox" name="demoChannels"{!demo}> Demo talk groups</label>
<button type="submit">Save options</button>
</form>
<p class="hint">Radios take new options when they next fetch their settings; use &ldquo;Send settings now&rdquo; on the units page to tell them at once.</p>
</section>
)",
                      {{"csrf", Html::csrfField(csrf)},
                       {"codecs", codecOptions(options.codec)},
                       {"intervals", intervalOptions(options.packetIntervalMs)},
                       {"gps", std::to_string(options.gpsIntervalSeconds)},
                       {"local", options.localChannels ? " checked" : ""},
                       {"demo", options.demoChannels ? " checked" : ""}});
}

RouterRecord routerFrom(const FormFields& form)
{
    RouterRecord router;
    router.address = form.requiredText("address", "The router address");
    in_addr parsed{};
    if (inet_pton(AF_INET, router.address.c_str(), &parsed) != 1)
        throw FormError("The router address must be an IPv4 address such as 192.0.2.10.");
    router.port = form.number("port", "The router port", 1, 65535);
    return router;
}

ServiceOptions optionsFrom(const FormFields& form)
{
    ServiceOptions options;
    options.codec = form.requiredText("codec", "The codec");
    if (std::find_if(kCodecs.begin(), kCodecs.end(), [&](const char* codec) { return options.codec == codec; }) ==
        kCodecs.end())
        throw FormError("Radios do not know the codec " + options.codec + ".");
    options.packetIntervalMs = form.number("packetInterval", "The packet interval", 1, 1000);
    if (std::find(kPacketIntervals.begin(), kPacketIntervals.end(), options.packetIntervalMs) == kPacketIntervals.end())
        throw FormError("Radios do not offer a packet interval of " + std::to_string(options.packetIntervalMs) +
                        " ms.");
    options.gpsIntervalSeconds = form.number("gpsInterval", "The position report interval", 1, kLongestGpsInterval);
    options.localChannels = form.checked("localChannels");
    options.demoChannels = form.checked("demoChannels");
    return options;
}

} // namespace

std::string ServicePage::body(FleetModel& model, const PageRequest& request)
{
    return routersSection(model.routers(), request.csrfToken) + optionsSection(model.options(), request.csrfToken);
}

std::optional<std::string> ServicePage::change(FleetModel& model, const std::string& action, const FormFields& form)
{
    if (action == "add-router") {
        const RouterRecord router = routerFrom(form);
        model.addRouter(router);
        return "Router " + router.address + ":" + std::to_string(router.port) + " is added.";
    }
    if (action == "remove-router") {
        const RouterRecord router = routerFrom(form);
        model.removeRouter(router);
        return "Router " + router.address + ":" + std::to_string(router.port) + " is removed.";
    }
    if (action == "options") {
        model.setOptions(optionsFrom(form));
        return "The options are saved.";
    }
    return std::nullopt;
}

} // namespace Manager
