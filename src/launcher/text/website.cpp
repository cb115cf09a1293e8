#include "launcher/text/website.h"

#include "launcher/text/product.h"

namespace launcher {

const std::wstring& WebsiteHost() {
  static const std::wstring host = kWebsiteHostName;
  return host;
}

}  // namespace launcher
