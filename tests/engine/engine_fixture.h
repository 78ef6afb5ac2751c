#pragma once
// A client folder tree in a temporary folder (patcher, velkar, config) with its archive
// set, and the log of the test read back.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/log.h"
#include "base/progress_counters.h"
#include "engine/client_archive_set.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"

using testsupport::AsText;
using testsupport::ReadWholeFile;
using testsupport::TempFolder;
using testsupport::WriteWholeFile;

// ASCII text as UTF-16, for names and paths written in tests.
inline std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

// prefix, number, suffix (built with += : gcc 12 warns falsely about "literal" + string).
inline std::string Numbered(const char* prefix, int number, const char* suffix = "") {
  std::string text(prefix);
  text += std::to_string(number);
  text += suffix;
  return text;
}

class ClientFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(temp_ / "patcher");
    std::filesystem::create_directories(temp_ / "config" / "patcher");
    log_.Open(temp_ / "log.txt");
  }
  void TearDown() override {
    set_.reset();
    // A closed log lets the folder go.
    testsupport::ProcessLog::Close();
  }

  void MakeSet(const std::u16string& host, uint16_t port) {
    set_.reset();
    set_ = std::make_unique<ClientArchiveSet>(ClientLayout(temp_.U16("patcher")), UpdateServerAddress{host, port});
  }
  // The context of an operation the test runs: its progress goes to progress_.
  OperationContext Context(const CancelToken* cancel = nullptr) { return OperationContext(cancel, progress_); }

  // Stores content under a full archive name ("models\a.ski") in the archive `archive`.
  void PutArchived(const std::u16string& archive, const std::u16string& fullName, const std::string& content) {
    TavrinFilePackage* target = set_->archives().Find(archive);
    ASSERT_NE(target, nullptr);
    ASSERT_EQ(target->SetFileCompressedData(fullName, content.data(), static_cast<uint32_t>(content.size()),
                                            static_cast<uint32_t>(content.size())),
              PackageResult::kOk);
  }
  std::string Archived(const std::u16string& archive, const std::u16string& fullName) {
    TavrinFilePackage* target = set_->archives().Find(archive);
    std::vector<uint8_t> content;
    if (target == nullptr || target->GetFileData(fullName, true, &content) != PackageResult::kOk) return "<absent>";
    return AsText(content);
  }
  // A plain client file; `relative` uses "/".
  std::filesystem::path ClientFile(const std::string& relative) const { return temp_ / "velkar" / relative; }
  void PutClientFile(const std::string& relative, const std::string& content) {
    std::filesystem::create_directories(ClientFile(relative).parent_path());
    WriteWholeFile(ClientFile(relative), content);
  }
  std::string ClientFileText(const std::string& relative) const {
    return std::filesystem::exists(ClientFile(relative)) ? AsText(ReadWholeFile(ClientFile(relative))) : "<absent>";
  }
  // Everything logged so far, as UTF-8.
  std::string LogText() { return log_.Text(); }

  TempFolder temp_;
  ProgressCounters progress_;
  std::unique_ptr<ClientArchiveSet> set_;
  testsupport::ProcessLog log_;
};
