// Skin files are operator-shipped but read as untrusted: any bytes must load or be refused
// without a crash, and whatever loads must stay within the skin bounds.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/temp_folder.h"
#include "ui/fake_backend.h"
#include "ui/skin_document.h"
#include "ui/skin_form.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view xml(reinterpret_cast<const char*>(data), size);
  Ormel::SkinDocument document;
  if (Ormel::ParseSkin(xml, &document) == Ormel::SkinParseResult::kOk) {
    if (document.controls.size() > Ormel::kMaxSkinControls) std::abort();
    for (const auto& control : document.controls) {
      for (const auto* value : {&control.x, &control.y, &control.width, &control.height}) {
        if (*value && (**value < -Ormel::kMaxSkinDimension || **value > Ormel::kMaxSkinDimension)) std::abort();
      }
      if (control.rectW < -1 || control.rectH < -1) std::abort();
    }
  }

  // The whole loader, on pictures of fixed sizes: every control built and drawn once.
  static const testsupport::TempFolder folder("fuzz", testsupport::TempFolder::InMemoryParent());
  if (!folder.made()) std::abort();
  const std::string path = (folder / "skin.xml").string();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  Ormel::testing::FakeBackend backend;
  for (const char* name : {"a.png", "b.png", "c.png"}) backend.AddPicture(name, 64, 32);
  backend.AddPicture("big.png", 16385, 1);
  Ormel::SkinForm form(backend, u"Fuzz", path);
  if (form.loaded()) {
    form.Redraw();
    form.HandleMouseMove(10, 10, false);
    form.HandleButtonDown(10, 10);
    form.HandleButtonUp(10, 10);
  }
  return 0;
}
