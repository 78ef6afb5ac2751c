#pragma once
// patcher-cli as a player or an operator runs it: the built program against nginx serving
// a tree the tests write (or the scriptable server), with no terminal attached.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/client_archive_set.h"
#include "engine/server_tree.h"
#include "platform/text.h"
#include "support/child_process.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/nginx_server.h"
#include "support/temp_folder.h"

using testsupport::ChildResult;
using testsupport::ReadFileText;
using testsupport::RunChild;
using testsupport::WriteWholeFile;

namespace patcher_cli_test {

using testsupport::ListedFile;

inline std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Words of Latin letters left in console output once the names it may show (paths, the
// program, keys, resources) are taken out: a console that speaks Russian leaves none.
inline std::vector<std::string> LatinWords(const std::string& text, std::vector<std::string> allowed) {
  for (const char* always : {"patcher-cli", "Ctrl+C", "log.txt", "(version)", "velkar", ".pck", "updater.lock",
                             "files\\...", "nginx (tools/publish/nginx/solmere-update.conf)"})
    allowed.push_back(always);
  // Longest first, so a path goes before any of its parts.
  std::sort(allowed.begin(), allowed.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
  std::string rest;
  for (std::size_t at = 0; at < text.size();) {
    const auto name = std::find_if(allowed.begin(), allowed.end(), [&](const std::string& candidate) {
      return text.compare(at, candidate.size(), candidate) == 0;
    });
    if (name != allowed.end()) {
      rest.push_back(' ');
      at += name->size();
    } else {
      rest.push_back(text[at++]);
    }
  }
  rest.push_back(' ');
  std::vector<std::string> words;
  std::string word;
  for (char c : rest) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      word += c;
      continue;
    }
    if (word.size() >= 2) words.push_back(word);
    word.clear();
  }
  return words;
}

inline std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += word + " ";
  return text;
}

class PatcherCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.made()) << "no temporary folder";
    std::filesystem::create_directories(temp_ / "patcher");
    // The program writes log.txt into its working folder.
    std::filesystem::create_directories(temp_ / "run");
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(temp_ / "run");
    std::string why;
    ASSERT_TRUE(testsupport::NginxFromEnvironment(&nginx_, &why)) << why;
    tree_ = std::make_unique<testsupport::ServerTree>(std::filesystem::path(nginx_.root));
    tree_->Clear();
  }
  void TearDown() override {
    set_.reset();
    std::filesystem::current_path(previous_);
    if (tree_ != nullptr) tree_->Clear();
  }

  void OpenSet() {
    set_ = std::make_unique<ClientArchiveSet>(ClientLayout((temp_ / "patcher").u16string()),
                                              UpdateServerAddress{u"127.0.0.1", nginx_.port});
    ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  }
  // A client at `version` holding `archived` (full archive names), saved and closed.
  void PrepareClient(int32_t version, const std::vector<ListedFile>& archived = {}) {
    OpenSet();
    for (const ListedFile& file : archived) {
      TavrinFilePackage* archive = set_->archives().Find(file.name.substr(0, file.name.find(u'\\')));
      ASSERT_NE(archive, nullptr);
      const auto size = static_cast<uint32_t>(file.content.size());
      ASSERT_EQ(archive->SetFileCompressedData(file.name, file.content.data(), size, size), PackageResult::kOk);
    }
    ASSERT_TRUE(set_->WriteLocalVersion(version).written());
    ASSERT_TRUE(set_->SaveArchives({}).written());
    set_.reset();
  }
  int32_t VersionOnDisk() {
    OpenSet();
    const int32_t version = set_->ReadLocalVersion();
    set_.reset();
    return version;
  }
  std::string Archived(const std::u16string& name) {
    OpenSet();
    std::vector<uint8_t> content;
    TavrinFilePackage* archive = set_->archives().Find(name.substr(0, name.find(u'\\')));
    const bool found = archive != nullptr && archive->GetFileData(name, true, &content) == PackageResult::kOk;
    set_.reset();
    return found ? std::string(content.begin(), content.end()) : "<absent>";
  }
  std::string ClientFileText(const std::string& relative) const {
    const std::filesystem::path path = temp_ / "velkar" / relative;
    return std::filesystem::exists(path) ? ReadFileText(path) : "<absent>";
  }
  std::string Server() const { return "127.0.0.1:" + std::to_string(nginx_.port); }
  // The program with exactly these arguments, in the current working folder.
  ChildResult RunBare(const std::vector<std::string>& arguments) {
    ChildResult result = RunChild(PATCHER_CLI_PATH, arguments, temp_ / "run");
    EXPECT_TRUE(result.started) << "cannot start " << PATCHER_CLI_PATH;
    return result;
  }
  // On the fixture's client root.
  ChildResult Run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--root", temp_.string()});
    return RunBare(arguments);
  }
  // The same, with the seconds it took.
  ChildResult RunTimed(const std::vector<std::string>& arguments, double* seconds) {
    const auto start = std::chrono::steady_clock::now();
    ChildResult result = Run(arguments);
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
  }
  // The program's log.txt (UTF-16LE) as UTF-8.
  std::string ProgramLog(const std::filesystem::path& folder = {}) const {
    return testsupport::ReadLogUtf8((folder.empty() ? temp_ / "run" : folder) / "log.txt");
  }
  // Requests nginx has logged so far.
  std::size_t ServerRequests() const { return testsupport::ReadAccessLog(nginx_).size(); }

  testsupport::TempFolder folder_;
  const std::filesystem::path temp_ = folder_.path();
  std::filesystem::path previous_;
  std::unique_ptr<ClientArchiveSet> set_;
  testsupport::NginxServer nginx_;
  std::unique_ptr<testsupport::ServerTree> tree_;
};

}  // namespace patcher_cli_test
