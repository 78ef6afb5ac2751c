#pragma once
// Splitting a package URL into its parts.

#include <string>

struct UrlParts {
  std::u16string query;   // from "?" on, "?" included
  std::u16string path;    // from the first "/" after the host, up to the query
  std::u16string scheme;  // before "://"
  std::u16string host;
  std::u16string port;  // after the host's ":"
};

// Parts that do not occur are empty; "host:81/x" has no scheme.
UrlParts ParseUrl(const std::u16string& url);
