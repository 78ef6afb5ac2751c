#pragma once
// A temporary folder holding one archive pair, and small helpers to read entries.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/package_result.h"
#include "archive/tavrin_file_package.h"
#include "archive_image.h"
#include "platform/text.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"

using testsupport::TempFolder;
using testsupport::WriteWholeFile;

inline std::ostream& operator<<(std::ostream& out, PackageResult result) {
  return out << static_cast<int>(result) << " (" << PackageResultText(result) << ")";
}

// The contents of an entry, read by full name; empty on failure (which is reported).
inline archive_image::Bytes Contents(TavrinFilePackage& archive, const std::u16string& fullName) {
  std::vector<uint8_t> out;
  const PackageResult result = archive.GetFileData(fullName, true, &out);
  EXPECT_EQ(result, PackageResult::kOk) << "reading " << platform::Utf8FromUtf16(fullName);
  return out;
}

class ArchiveTest : public ::testing::Test {
 protected:
  std::u16string Base() const { return folder_.U16("configs"); }
  std::filesystem::path Pck() const { return folder_ / "configs.pck"; }
  std::filesystem::path Pkx() const { return folder_ / "configs.pkx"; }

  void WriteImage(const archive_image::Bytes& bytes) const { WriteWholeFile(Pck(), bytes); }

  TempFolder folder_;
};
