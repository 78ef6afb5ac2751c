// What patcher.exe and launcher.exe carry as resources: the user texts (the same list as the
// portable string table), icon 101, the manifests' execution levels and the version.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "ui/win32/windows_headers.h"
#include "workflow/string_table.h"

namespace {

// A program's resources, loaded without running it.
class ProgramModule {
 public:
  explicit ProgramModule(const char* path) : path_(Windows(path)) {
    module_ = LoadLibraryExW(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  }
  ~ProgramModule() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  ProgramModule(const ProgramModule&) = delete;
  ProgramModule& operator=(const ProgramModule&) = delete;

  HMODULE get() const { return module_; }
  const std::wstring& path() const { return path_; }
  std::string Manifest() const {
    HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    if (found == nullptr) return "<none>";
    HGLOBAL loaded = LoadResource(module_, found);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    return std::string(bytes, SizeofResource(module_, found));
  }
  std::wstring VersionText(const wchar_t* name) const {
    const DWORD size = GetFileVersionInfoSizeW(path_.c_str(), nullptr);
    std::vector<char> info(size);
    if (size == 0 || !GetFileVersionInfoW(path_.c_str(), 0, size, info.data())) return L"<no version>";
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041904b0\\") + name;
    if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || length == 0) return L"<none>";
    return static_cast<const wchar_t*>(value);
  }

 private:
  // The build's path as this Windows process names it.
  static std::wstring Windows(const char* path) {
    std::wstring text = L"Z:";
    for (const char* c = path; *c != '\0'; ++c) text.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
    return text;
  }

  std::wstring path_;
  HMODULE module_ = nullptr;
};

std::u16string Loaded(HMODULE module, int id) {
  wchar_t buffer[1024] = {};
  const int length = LoadStringW(module, static_cast<UINT>(id), buffer, 1024);
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(length));
}

TEST(ProgramResources, TheStringTableHoldsEveryTextOfThePortableTable) {
  ProgramModule patcher(PATCHER_PATH);
  ASSERT_NE(patcher.get(), nullptr);
  int texts = 0;
  for (int id = 100; id < 150; ++id) {
    SCOPED_TRACE(id);
    EXPECT_EQ(Loaded(patcher.get(), id), Text(id));
    if (!Text(id).empty()) ++texts;
  }
  EXPECT_EQ(texts, 38) << "ids 102 to 139";
  // Spot checks against the texts as the player reads them.
  EXPECT_EQ(Loaded(patcher.get(), 106), u"Solmere 3 Classic Updater");
  EXPECT_EQ(Loaded(patcher.get(), 130), u"Ошибка загрузки списка файлов.\nПовторить попытку?");
  EXPECT_EQ(Loaded(patcher.get(), 108), u"Чтение архивов: %d%%");
}

TEST(ProgramResources, IconManifestAndVersionOfBothPrograms) {
  struct Case {
    const char* path;
    const char* level;
    const wchar_t* fileName;
  };
  for (const Case c : {Case{PATCHER_PATH, "requireAdministrator", L"patcher.exe"},
                       Case{LAUNCHER_PATH, "asInvoker", L"launcher.exe"}}) {
    SCOPED_TRACE(c.path);
    ProgramModule program(c.path);
    ASSERT_NE(program.get(), nullptr);
    for (const int size : {16, 32, 48}) {
      HANDLE icon = LoadImageW(program.get(), MAKEINTRESOURCEW(101), IMAGE_ICON, size, size, 0);
      EXPECT_NE(icon, nullptr) << "icon 101 at " << size << " px";
      if (icon != nullptr) DestroyIcon(static_cast<HICON>(icon));
    }
    const std::string manifest = program.Manifest();
    EXPECT_NE(manifest.find(std::string("level=\"") + c.level + "\""), std::string::npos) << manifest;
    EXPECT_EQ(program.VersionText(L"ProductName"), L"Solmere Classic Updater");
    EXPECT_EQ(program.VersionText(L"OriginalFilename"), c.fileName);
  }
}

}  // namespace
