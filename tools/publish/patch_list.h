#pragma once
// "patches\list": one line per update package, "FROM TO URL", separated by line feeds.

#include <cstdint>
#include <string>
#include <vector>

struct PatchLine {
  int32_t from = 0;
  int32_t to = 0;
  std::string url;
};

// Reads lines the way the updater does ("%d %d %[^\r]"); lines without all three fields
// are left out.
std::vector<PatchLine> ParsePatchList(const std::string& text);
std::string FormatPatchList(const std::vector<PatchLine>& lines);

// Whether the updater could ever give lines[index] to a client while the server is at
// serverVersion or a later release (the updater's own choice decides).
bool LineCanHelpAClient(const std::vector<PatchLine>& lines, std::size_t index, int32_t serverVersion);

// The URL of a package file named `fileName` under urlBase ("http://host/patches"). False
// with the reason when the updater could not use it: it takes only the host and the path,
// reads at most 259 characters and no spaces or other than ASCII.
bool PackageUrl(const std::string& urlBase, const std::string& fileName, std::string* url, std::string* why);

// The last path component of a URL, without any query: the package's file name.
std::string PackageFileName(const std::string& url);
