// The Windows desktop seam: detached starts with an exact command line and folder, the
// single-instance marker, and finding another program's window by its class.

#include "platform/desktop.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/win32/system_desktop.h"
#include "platform/instance_marker.h"
#include "platform/text.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"
#include "ui/win32/windows_headers.h"

using testsupport::AsText;
using testsupport::ReadWholeFile;
using testsupport::TempFolder;

namespace {

// The stand-in program copied into `folder` under `name`; its record file.
std::filesystem::path PlaceStandIn(const std::filesystem::path& folder, const std::string& name) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(std::filesystem::path("Z:" STAND_IN_PATH).make_preferred(), folder / name);
  return folder / (name + ".record");
}

std::string WaitForRecord(const std::filesystem::path& record) {
  const bool recorded = testsupport::WaitUntil(
      [&] { return AsText(ReadWholeFile(record)).find("folder: ") != std::string::npos; }, std::chrono::seconds(20));
  return recorded ? AsText(ReadWholeFile(record)) : "<nothing recorded within 20 s>";
}

TEST(Desktop, StartsADetachedProgramWithExactlyItsCommandLineAndFolder) {
  TempFolder temp;
  const std::filesystem::path record = PlaceStandIn(temp / "velkar", "velkarclient.exe");
  const std::filesystem::path work = temp / "work folder";
  std::filesystem::create_directories(work);
  const std::filesystem::path program = temp / "velkar" / "velkarclient.exe";
  ASSERT_TRUE(platform::StartDetachedProcess(program.u16string(), u"console:0 arc:1 nogfx", work.u16string()));
  EXPECT_EQ(WaitForRecord(record), "start\ncommand: console:0 arc:1 nogfx\nfolder: " + work.string() + "\n");

  // No arguments. Wine hands a program started with an empty command line its own quoted
  // name, as if none had been given; Windows hands it the empty line.
  std::filesystem::remove(record);
  ASSERT_TRUE(platform::StartDetachedProcess(program.u16string(), u"", work.u16string()));
  const std::string recorded = WaitForRecord(record);
  EXPECT_TRUE(recorded == "start\ncommand: \nfolder: " + work.string() + "\n" ||
              recorded == "start\ncommand: \"" + program.string() + "\"\nfolder: " + work.string() + "\n")
      << recorded;
  EXPECT_FALSE(platform::StartDetachedProcess((temp / "missing.exe").u16string(), u"", work.u16string()));
}

TEST(Desktop, TheSingleInstanceMarkerIsHeldOnce) {
  const std::u16string name =
      u"Solmere Classic Updater test marker " + platform::Utf16FromUtf8(std::to_string(GetCurrentProcessId()));
  SystemDesktop first;
  SystemDesktop second;
  EXPECT_TRUE(first.ClaimSingleInstance(name));
  EXPECT_FALSE(second.ClaimSingleInstance(name)) << "the marker already exists";
  {
    platform::InstanceMarker held;
    EXPECT_FALSE(held.Acquire(name)) << "another holder of the same name";
  }
}

TEST(Desktop, FindsATopLevelWindowByItsClass) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"Solmere desktop test window";
  ASSERT_NE(RegisterClassW(&windowClass), 0);
  EXPECT_FALSE(platform::TopLevelWindowExists(u"Solmere desktop test window"));
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(platform::TopLevelWindowExists(u"Solmere desktop test window"));
  DestroyWindow(window);
  EXPECT_FALSE(platform::TopLevelWindowExists(u"Solmere desktop test window"));
}

}  // namespace
