// The frame of every console page: head with the style sheet and the
// viewport for phones, the navigation bar, the one-shot notice and the body.
#pragma once

#include "SessionStore.h"

#include <optional>
#include <string>
#include <vector>

namespace Manager {

struct MenuEntry
{
    std::string path;
    std::string name;
};

struct PageFrame
{
    std::string title;
    std::string activePath;
    std::vector<MenuEntry> menu;  // empty for someone not signed in
    std::string csrfToken;        // for the sign-out form
    std::optional<Notice> notice;
    std::string body;             // markup
};

std::string renderPage(const PageFrame& frame);

} // namespace Manager
