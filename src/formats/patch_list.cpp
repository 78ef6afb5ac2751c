#include "formats/patch_list.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace {

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// "%d": white space, a sign, at least one digit; false for no number or one beyond 32 bits.
bool ScanInt(std::string_view line, std::size_t* at, int32_t* value) {
  std::size_t i = *at;
  while (i < line.size() && IsSpace(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  const std::size_t digits = i;
  int64_t number = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    number = number * 10 + (line[i] - '0');
    if (number > int64_t{INT32_MAX} + 1) return false;
  }
  if (i == digits) return false;
  if (negative) number = -number;
  if (number > INT32_MAX) return false;
  *value = static_cast<int32_t>(number);
  *at = i;
  return true;
}

// One line by the pattern "%d %d %[^\r]".
bool ParseLine(std::string_view line, int32_t* a, int32_t* b, std::string_view* url) {
  std::size_t at = 0;
  if (!ScanInt(line, &at, a) || !ScanInt(line, &at, b)) return false;
  while (at < line.size() && IsSpace(line[at])) ++at;
  std::size_t end = line.find('\r', at);
  if (end == std::string_view::npos) end = line.size();
  if (end == at || end - at > kMaxPackageUrlLength) return false;
  *url = line.substr(at, end - at);
  return true;
}

std::u16string Widen(std::string_view url) {
  std::u16string wide(url.size(), u'\0');
  for (std::size_t i = 0; i < url.size(); ++i) wide[i] = static_cast<unsigned char>(url[i]);
  return wide;
}

// How a line fits a client: not at all, as the exact line that wins at once, or as a
// candidate of the fallback choice.
enum class Fit { kNone, kExact, kCandidate };

Fit FitOf(const PatchPair& line, int64_t client, std::optional<int64_t> server) {
  if (line.to <= client) return Fit::kNone;
  // A package to a release the server does not offer would leave the client at a version the
  // server cannot tell it anything about.
  if (server && line.to > *server) return Fit::kNone;
  if (server && line.from == client && line.to == *server) return Fit::kExact;
  return line.from <= client ? Fit::kCandidate : Fit::kNone;
}

// Whether a candidate replaces the one chosen so far: a greater from-version, or the same
// with a to-version at least as great (a later line of the same pair replaces).
bool Replaces(const PatchPair& line, const PatchPair& chosen) {
  return line.from > chosen.from || (line.from == chosen.from && line.to >= chosen.to);
}

// With an exact server version the line to it first, else the fallback choice.
std::optional<std::size_t> Choose(const std::vector<PatchPair>& lines, int64_t client, std::optional<int64_t> server) {
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Fit fit = FitOf(lines[i], client, server);
    if (fit == Fit::kExact) return i;
    if (fit == Fit::kCandidate && (!best || Replaces(lines[i], lines[*best]))) best = i;
  }
  return best;
}

}  // namespace

PatchListLines::PatchListLines(const uint8_t* text, std::size_t size) {
  const void* zero = size == 0 ? nullptr : std::memchr(text, 0, size);
  const std::size_t length =
      zero != nullptr ? static_cast<std::size_t>(static_cast<const uint8_t*>(zero) - text) : size;
  text_ = std::string_view(reinterpret_cast<const char*>(text), length);
}

bool PatchListLines::Next(PatchPair* pair, std::string_view* url) {
  while (at_ < text_.size()) {
    std::size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) end = text_.size();
    const std::string_view line = text_.substr(at_, end - at_);
    at_ = end + 1;
    if (ParseLine(line, &pair->from, &pair->to, url)) return true;
  }
  return false;
}

std::vector<PatchLine> ParsePatchList(const std::string& text) {
  std::vector<PatchLine> lines;
  PatchListLines reader(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  PatchPair pair;
  std::string_view url;
  while (reader.Next(&pair, &url)) lines.push_back({pair.from, pair.to, std::string(url)});
  return lines;
}

std::string FormatPatchList(const std::vector<PatchLine>& lines) {
  std::string text;
  for (const PatchLine& line : lines)
    text += std::to_string(line.from) + " " + std::to_string(line.to) + " " + line.url + "\n";
  return text;
}

std::optional<std::size_t> ChoosePatchLine(const std::vector<PatchPair>& lines, int32_t clientVersion,
                                           int32_t serverVersion) {
  return Choose(lines, clientVersion, serverVersion);
}

bool PatchLineCanHelp(const std::vector<PatchPair>& lines, std::size_t line, int32_t serverVersion) {
  const PatchPair& pair = lines.at(line);
  if (pair.to <= pair.from) return false;
  // The choice changes only where some line begins or ends, and at a from-version an
  // exact line may hide what the client just above it is given: these clients suffice.
  std::vector<int64_t> clients;
  for (const PatchPair& other : lines)
    for (int64_t client : {int64_t{other.from}, int64_t{other.from} + 1, int64_t{other.to}})
      if (client >= pair.from && client < pair.to) clients.push_back(client);
  for (int64_t client : clients) {
    // At the server's version, and at any later one, where no line leads exactly.
    if (client < serverVersion && Choose(lines, client, serverVersion) == line) return true;
    if (Choose(lines, client, std::nullopt) == line) return true;
  }
  // Or as the exact line once the server reaches its to-version.
  return pair.to > serverVersion && Choose(lines, pair.from, pair.to) == line;
}

bool PatchLineCanHelp(const std::vector<PatchLine>& lines, std::size_t line, int32_t serverVersion) {
  std::vector<PatchPair> pairs;
  pairs.reserve(lines.size());
  for (const PatchLine& each : lines) pairs.push_back({each.from, each.to});
  return PatchLineCanHelp(pairs, line, serverVersion);
}

std::u16string ChoosePatchPackage(const uint8_t* text, std::size_t size, int32_t clientVersion, int32_t serverVersion,
                                  int32_t* from, int32_t* to, std::size_t* beyondServer) {
  *from = -1;
  *to = -1;
  if (beyondServer != nullptr) *beyondServer = 0;
  // One pass, keeping only the best line so far: the list may be long.
  std::optional<PatchPair> best;
  std::string_view bestUrl;
  PatchListLines lines(text, size);
  PatchPair pair;
  std::string_view url;
  while (lines.Next(&pair, &url)) {
    if (beyondServer != nullptr && pair.to > serverVersion && pair.from <= clientVersion) ++*beyondServer;
    const Fit fit = FitOf(pair, clientVersion, serverVersion);
    if (fit == Fit::kNone) continue;
    if (fit == Fit::kExact || !best || Replaces(pair, *best)) {
      best = pair;
      bestUrl = url;
    }
    if (fit == Fit::kExact) break;
  }
  if (!best) return {};
  *from = best->from;
  *to = best->to;
  return Widen(bestUrl);
}
