// The page frame shared by all console pages.
#include "Layout.h"

#include "Html.h"

namespace Manager {

namespace {

std::string menuMarkup(const PageFrame& frame)
{
    if (frame.menu.empty())
        return {};
    std::string links;
    for (const MenuEntry& entry : frame.menu)
        links += Html::fill(R"(<a href="{path}"{!current}>{name}</a>)",
                            {{"path", entry.path},
                             {"current", entry.path == frame.activePath ? " aria-current=\"page\"" : ""},
                             {"name", entry.name}});
    return Html::fill(R"(<nav>{!links}</nav>
<form method="post" action="/sign-out" class="sign-out">{!csrf}<button type="submit">Sign out</button></form>
)",
                      {{"links", links}, {"csrf", Html::csrfField(frame.csrfToken)}});
}

std::string noticeMarkup(const std::optional<Notice>& notice)
{
    if (!notice)
        return {};
    return Html::fill(R"(<p class="{kind}" role="{role}" id="notice">{text}</p>
)",
                      {{"kind", notice->isError ? "notice error" : "notice ok"},
                       {"role", notice->isError ? "alert" : "status"},
                       {"text", notice->text}});
}

} // namespace

std::string renderPage(const PageFrame& frame)
{
    return Html::fill(R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title} &middot; rvx-manager</title>
<link rel="icon" href="/console-icon.svg" type="image/svg+xml">
<link rel="stylesheet" href="/console.css">
<script src="/console.js" defer></script>
</head>
<body>
<header class="top">
<a class="brand" href="/">rvx-manager</a>
{!menu}</header>
<main>
<h1>{title}</h1>
{!notice}{!body}</main>
</body>
</html>
)",
                      {{"title", frame.title},
                       {"menu", menuMarkup(frame)},
                       {"notice", noticeMarkup(frame.notice)},
                       {"body", frame.body}});
}

} // namespace Manager
