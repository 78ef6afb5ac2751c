#pragma once
// The resources of a release on the scripted server, for the engine's HTTP client: the
// version, the updater's version, one change list and its stored files (under both
// spellings of a path: libcurl sends "\" as it is, WinINet sends "/").

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/server_tree.h"
#include "platform/text.h"
#include "support/gate.h"
#include "support/scripted_http_server.h"

namespace testsupport {

class ScriptedRelease {
 public:
  // `chunked`: every answer comes chunked, with no length, as proxies and CDNs send them.
  explicit ScriptedRelease(ScriptedHttpServer& server, bool chunked = false) : server_(server), chunked_(chunked) {}

  void Version(int32_t version) { Text("/version", std::to_string(version)); }
  void PatcherVersion(int32_t version) { Text("/patcher_version_new", std::to_string(version)); }
  void Text(const std::string& target, const std::string& text) {
    ScriptedResponse response;
    response.body = text;
    response.chunked = chunked_;
    server_.Serve(target, response);
  }
  // "list_" + behind with the files. With a gate, the download of every file waits there
  // before it begins; when `heldHalfWay` names a file, that file's download alone waits
  // there half-way through its body.
  void ChangeList(int32_t behind, const std::vector<ListedFile>& files, std::shared_ptr<Gate> gate = nullptr,
                  const std::u16string& heldHalfWay = u"") {
    std::vector<ListEntry> entries;
    for (const ListedFile& file : files) {
      entries.push_back(EntryOf(file));
      const std::vector<uint8_t> stored = StoredForm(file.content, file.compress);
      ScriptedResponse response;
      response.body.assign(stored.begin(), stored.end());
      response.chunked = chunked_;
      if (heldHalfWay.empty() || file.name == heldHalfWay) response.gate = gate;
      if (!heldHalfWay.empty() && file.name == heldHalfWay) response.pauseAfter = response.body.size() / 2;
      std::string name = platform::Utf8FromUtf16(file.name);
      server_.Serve("/files\\" + name, response);
      for (char& c : name)
        if (c == '\\') c = '/';
      server_.Serve("/files/" + name, response);
    }
    const std::vector<uint8_t> list = FileListBytes(entries);
    ScriptedResponse response;
    response.body.assign(list.begin(), list.end());
    response.chunked = chunked_;
    server_.Serve("/list_" + std::to_string(behind), response);
  }

 private:
  ScriptedHttpServer& server_;
  const bool chunked_;
};

}  // namespace testsupport
