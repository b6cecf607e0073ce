// Style sheet and script of the console. Pages work without the script.
#include "ConsoleAssets.h"

namespace Manager {

const char* consoleStyleSheet()
{
    return R"css(:root {
  --ink: #1d2733; --muted: #5f6b7a; --line: #d5dbe3; --page: #f2f4f7; --panel: #fff;
  --accent: #1f5fa8; --accent-dark: #174a84; --good: #1d7a46; --bad: #b3261e; --bar: #16283d;
}
* { box-sizing: border-box; }
html { font-family: system-ui, -apple-system, "Segoe UI", Roboto, "Liberation Sans", sans-serif; font-size: 15px; }
body { margin: 0; background: var(--page); color: var(--ink); line-height: 1.4; }
a { color: var(--accent); }
code { font-family: ui-monospace, "Liberation Mono", monospace; font-size: 0.93em; }
small { display: block; color: var(--muted); font-size: 0.8em; }
time, small { white-space: nowrap; }
header.top { display: flex; flex-wrap: wrap; align-items: center; gap: 0.4rem 1.2rem; padding: 0.6rem 1.2rem;
  background: var(--bar); color: #fff; }
header.top .brand { color: #fff; font-weight: 700; text-decoration: none; letter-spacing: 0.02em; }
header.top nav { display: flex; flex-wrap: wrap; gap: 0.2rem; flex: 1; }
header.top nav a { white-space: nowrap; color: #d6e2f0; text-decoration: none; padding: 0.35rem 0.7rem; border-radius: 4px; }
header.top nav a:hover { background: rgba(255, 255, 255, 0.1); }
header.top nav a[aria-current="page"] { background: rgba(255, 255, 255, 0.18); color: #fff; }
header.top form.sign-out button { background: transparent; border: 1px solid #6d829b; color: #d6e2f0; }
main { max-width: 1240px; margin: 0 auto; padding: 1rem 1.2rem 3rem; }
h1 { font-size: 1.5rem; margin: 0.6rem 0 1rem; }
h2 { font-size: 1.1rem; margin: 0 0 0.7rem; }
.panel { background: var(--panel); border: 1px solid var(--line); border-radius: 6px; padding: 1rem 1.2rem;
  margin-bottom: 1.2rem; box-shadow: 0 1px 2px rgba(20, 30, 45, 0.05); }
.panel.narrow { max-width: 26rem; }
.hint, .muted, .empty { color: var(--muted); }
.hint { font-size: 0.9em; margin: 0.3rem 0 0.8rem; }
.notice { padding: 0.6rem 0.9rem; border-radius: 5px; margin: 0 0 1rem; border: 1px solid; }
.notice.ok { background: #e8f5ec; border-color: #a9d7b8; color: #14532d; }
.notice.error { background: #fdecea; border-color: #f1b0aa; color: #7f1d1d; }
form { margin: 0; }
form.fields { display: flex; flex-wrap: wrap; align-items: flex-end; gap: 0.6rem 0.9rem; margin-top: 0.6rem; }
form.fields.stacked { flex-direction: column; align-items: stretch; }
form.fields label { display: flex; flex-direction: column; gap: 0.2rem; font-size: 0.85em; color: var(--muted); }
form.fields label.check { flex-direction: row; align-items: center; gap: 0.4rem; color: var(--ink); font-size: 0.95em; }
form.row-form { display: flex; gap: 0.4rem; align-items: center; }
form.row-form input:not([type=hidden]) { flex: 1; min-width: 7rem; }
input, select, button { font: inherit; color: inherit; }
input, select { padding: 0.35rem 0.5rem; border: 1px solid #b8c2ce; border-radius: 4px; background: #fff; }
input:focus, select:focus, button:focus-visible { outline: 2px solid var(--accent); outline-offset: 1px; }
button { padding: 0.38rem 0.8rem; border: 1px solid var(--accent-dark); border-radius: 4px; background: var(--accent);
  color: #fff; cursor: pointer; white-space: nowrap; }
button:hover { background: var(--accent-dark); }
button.danger { background: #fff; color: var(--bad); border-color: #e3a19c; }
button.danger:hover { background: #fdecea; }
td.actions form { display: inline-block; margin: 0.15rem 0.4rem 0.15rem 0; }
table { width: 100%; border-collapse: collapse; }
th, td { text-align: left; padding: 0.5rem 0.6rem; border-bottom: 1px solid var(--line); vertical-align: middle; }
th { font-size: 0.8em; text-transform: uppercase; letter-spacing: 0.04em; color: var(--muted); font-weight: 600; }
tbody tr:hover { background: #f7f9fb; }
tr.chosen { background: #eaf1fb; }
.badge { display: inline-block; padding: 0.05rem 0.5rem; border-radius: 4px; background: #e9edf2; font-size: 0.85em; }
.badge.good { background: #e3f3e8; color: var(--good); }
.badge.bad { background: #fdecea; color: var(--bad); }
svg.map { width: 100%; height: auto; display: block; margin-top: 0.8rem; border: 1px solid var(--line); border-radius: 4px; }
svg.map .ground { fill: #eef3ee; }
svg.map .grid { fill: none; stroke: #d3ded3; stroke-width: 1; }
svg.map .unit circle { fill: var(--accent); stroke: #fff; stroke-width: 2; }
svg.map .unit.chosen circle { fill: #d9480f; }
svg.map .unit text { font-size: 14px; fill: var(--ink); paint-order: stroke; stroke: #eef3ee; stroke-width: 3px; }
svg.map a.unit:hover circle { stroke: var(--ink); }
svg.map .ray line { stroke: #d9480f; stroke-width: 1.5; stroke-dasharray: 6 4; }
svg.map .ray text { font-size: 12px; fill: #8a3207; text-anchor: middle; paint-order: stroke; stroke: #eef3ee; stroke-width: 3px; }
svg.map .scale path { fill: none; stroke: var(--ink); stroke-width: 2; }
svg.map .scale text { font-size: 12px; fill: var(--ink); }
svg.map .north path { fill: var(--ink); }
svg.map .north text { font-size: 13px; font-weight: 700; text-anchor: middle; fill: var(--ink); }
@media (max-width: 760px) {
  html { font-size: 16px; }
  header.top { padding: 0.5rem 0.7rem; }
  header.top .brand { flex: 1; }
  header.top nav { order: 3; flex-basis: 100%; }
  header.top nav a { padding: 0.3rem 0.45rem; font-size: 0.95rem; }
  svg.map .unit text { font-size: 30px; }
  svg.map .ray text, svg.map .scale text, svg.map .north text { font-size: 26px; }
  svg.map .unit circle { r: 14px; }
  main { padding: 0.8rem 0.7rem 2rem; }
  .panel { padding: 0.8rem; }
  table.cards thead { display: none; }
  table.cards, table.cards tbody, table.cards tr, table.cards td { display: block; width: 100%; }
  table.cards tr { border: 1px solid var(--line); border-radius: 6px; margin-bottom: 0.7rem; padding: 0.3rem 0.6rem; }
  table.cards td { border: none; padding: 0.3rem 0; }
  table.cards td::before { content: attr(data-label); display: block; font-size: 0.75em; text-transform: uppercase;
    letter-spacing: 0.04em; color: var(--muted); }
  form.fields label { flex: 1 1 100%; }
}
)css";
}

const char* consoleIcon()
{
    return R"svg(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32">
<rect x="9" y="8" width="14" height="22" rx="3" fill="#16283d"/>
<rect x="19" y="1" width="3" height="8" rx="1" fill="#16283d"/>
<rect x="12" y="11" width="8" height="6" rx="1" fill="#8fd3a8"/>
<circle cx="16" cy="23" r="3" fill="#1f5fa8"/>
</svg>
)svg";
}

const char* consoleScript()
{
    return R"js(// Asks before a form marked data-confirm removes or unregisters something.
document.addEventListener('submit', function (event) {
  var question = event.target.getAttribute('data-confirm');
  if (question && !window.confirm(question)) {
    event.preventDefault();
  }
});
)js";
}

} // namespace Manager
