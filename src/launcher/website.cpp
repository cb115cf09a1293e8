#include "launcher/website.h"

namespace launcher {

const std::wstring& WebsiteHost() {
  static const std::wstring host = QUELLORN_WEBSITE_HOST;
  return host;
}

}  // namespace launcher
