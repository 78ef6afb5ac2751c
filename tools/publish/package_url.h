#pragma once
// The URLs of update packages that "patches\list" names.

#include <string>

// The URL of a package file named `fileName` under urlBase ("http://host/patches"). False
// with the reason when the updater could not use it: it takes only the host and the path,
// reads at most 259 characters and no spaces or other than ASCII.
bool PackageUrl(const std::string& urlBase, const std::string& fileName, std::string* url, std::string* why);

// The last path component of a URL, without any query: the package's file name.
std::string PackageFileName(const std::string& url);
