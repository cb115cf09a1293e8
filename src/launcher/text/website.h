#pragma once
// The game website's host name, fixed when the launcher is built (QUELLORN_WEBSITE_HOST in CMake).
// The built-in feed URL and every message that sends the player to the website use it.

#include <string>

namespace launcher {

const std::wstring& WebsiteHost();

}  // namespace launcher
