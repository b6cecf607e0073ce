// Units: the table of radios and the forms acting on them.
#include "UnitsPage.h"

#include "FleetModel.h"
#include "Html.h"
#include "TimeText.h"

namespace Manager {

namespace {

std::string registerForm(const std::string& csrf)
{
    return Html::fill(R"(<section class="panel">
<h2>Register a unit</h2>
<p class="hint">A new radio shows its registration code on its display once it has uploaded its key.</p>
<form method="post" action="/units/register" class="fields">{!csrf}
<label>Code <input name="code" required maxlength="16" autocomplete="off" spellcheck="false"></label>
<label>Name <input name="name" maxlength="64" placeholder="caller name"></label>
<label>Account <input name="account" maxlength="64" placeholder="Default"></label>
<button type="submit">Register</button>
</form>
</section>
)",
                      {{"csrf", Html::csrfField(csrf)}});
}

std::string lastSeenCell(std::int64_t lastSeen, std::int64_t now)
{
    if (lastSeen == 0)
        return "<span class=\"muted\">never</span>";
    return Html::fill(R"(<time datetime="{iso}" title="{utc}">{ago}</time><small>{utc}</small>)",
                      {{"iso", isoTimeText(lastSeen)}, {"utc", utcTimeText(lastSeen)},
                       {"ago", timeAgoText(lastSeen, now)}});
}

std::string pushStateCell(const std::string& state)
{
    if (state.empty())
        return "<span class=\"muted\">&mdash;</span>";
    const bool failed = state.rfind("failed", 0) == 0;
    return Html::fill(R"(<span class="{kind}">{state}</span>)",
                      {{"kind", failed ? "badge bad" : "badge"}, {"state", state}});
}

std::string actionsCell(const UnitRecord& unit, const std::string& csrf)
{
    const std::string hidden = Html::csrfField(csrf) + Html::fill(R"(<input type="hidden" name="code" value="{code}">)",
                                                                  {{"code", unit.code}});
    if (!unit.registered)
        return Html::fill(R"(<form method="post" action="/units/register">{!hidden}<button type="submit">Register</button></form>)",
                          {{"hidden", hidden}});
    return Html::fill(R"(<form method="post" action="/units/push">{!hidden}<button type="submit">Send settings now</button></form>
<form method="post" action="/units/unregister" data-confirm="Unregister unit {code}? It keeps running on its last settings until it is registered again.">{!hidden}<button type="submit" class="danger">Unregister</button></form>)",
                      {{"hidden", hidden}, {"code", unit.code}});
}

std::string unitRow(const UnitRecord& unit, const PageRequest& request)
{
    return Html::fill(R"(<tr id="unit-{code}">
<td data-label="Code"><code>{code}</code></td>
<td data-label="Name"><form method="post" action="/units/rename" class="row-form">{!csrf}<input type="hidden" name="code" value="{code}"><input name="name" value="{name}" required maxlength="64" aria-label="Name of unit {code}"><button type="submit">Rename</button></form></td>
<td data-label="Account">{account}</td>
<td data-label="Registered">{!registered}</td>
<td data-label="Last seen">{!lastSeen}</td>
<td data-label="Settings version">{version}</td>
<td data-label="Settings notice">{!push}</td>
<td data-label="Actions" class="actions">{!actions}</td>
</tr>
)",
                      {{"code", unit.code},
                       {"csrf", Html::csrfField(request.csrfToken)},
                       {"name", unit.name},
                       {"account", unit.account},
                       {"registered", unit.registered ? "<span class=\"badge good\">yes</span>"
                                                      : (unit.hasKey ? "<span class=\"badge\">no</span>"
                                                                     : "<span class=\"badge\">no</span> <small>no key yet</small>")},
                       {"lastSeen", lastSeenCell(unit.lastSeen, request.now)},
                       {"version", std::to_string(unit.settingsVersion)},
                       {"push", pushStateCell(unit.pushState)},
                       {"actions", actionsCell(unit, request.csrfToken)}});
}

} // namespace

std::string UnitsPage::body(FleetModel& model, const PageRequest& request)
{
    const std::vector<UnitRecord> units = model.units();
    std::string rows;
    for (const UnitRecord& unit : units)
        rows += unitRow(unit, request);
    std::string table;
    if (units.empty()) {
        table = "<p class=\"empty\">No radio has shown itself to the service yet.</p>\n";
    } else {
        table = Html::fill(R"(<table class="cards" id="units">
<thead><tr><th>Code</th><th>Name</th><th>Account</th><th>Registered</th><th>Last seen</th><th>Settings version</th><th>Settings notice</th><th>Actions</th></tr></thead>
<tbody>
{!rows}</tbody>
</table>
)",
                           {{"rows", rows}});
    }
    return registerForm(request.csrfToken) + "<section class=\"panel wide\">\n<h2>Radios</h2>\n" + table +
           "</section>\n";
}

std::optional<std::string> UnitsPage::change(FleetModel& model, const std::string& action, const FormFields& form)
{
    if (action == "register") {
        const std::string code = form.requiredText("code", "The registration code");
        model.registerUnit(code, form.text("name"), form.text("account"));
        return "Unit " + code + " is registered.";
    }
    if (action == "rename") {
        const std::string code = form.requiredText("code", "The unit");
        const std::string name = form.requiredText("name", "The name");
        model.renameUnit(code, name);
        return "Unit " + code + " is now called " + name + ".";
    }
    if (action == "unregister") {
        const std::string code = form.requiredText("code", "The unit");
        model.unregisterUnit(code);
        return "Unit " + code + " is unregistered.";
    }
    if (action == "push") {
        const std::string code = form.requiredText("code", "The unit");
        model.pushSettings(code);
        return "Unit " + code + " will be told to fetch its settings now.";
    }
    return std::nullopt;
}

} // namespace Manager
