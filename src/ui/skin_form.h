#pragma once
// Ormel::SkinForm: a form whose size, background and controls come from a skin file (UTF-8
// XML). Building it loads the skin and makes the hidden window; the derived form then finds
// its controls by name, sets its title and handlers, and shows the window when it wants.
//
// Loading is all or nothing: a skin that cannot be read, is not XML, or fails the checks of
// ParseSkin logs "Can't load skin xml!" and builds no window and no control. Pictures are
// read relative to the working folder, not to the skin file.

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ui/form.h"
#include "ui/skin_document.h"

namespace Ormel {

class SkinForm : public Form {
 public:
  // `skinPath`: UTF-8, relative to the working folder.
  SkinForm(Backend& backend, std::u16string formName, const std::string& skinPath);
  // Deletes every control built from the skin.
  ~SkinForm() override;

  bool loaded() const { return loaded_; }
  // The control of that name (case-sensitive); of two with one name, the later one.
  Control* Find(std::string_view name) const;
  template <typename T>
  T* FindAs(std::string_view name) const {
    return dynamic_cast<T*>(Find(name));
  }
  const std::unordered_map<std::string, Control*>& namedControls() const { return named_; }

 private:
  bool Load(const std::string& path);
  bool Build(const SkinDocument& document);
  void BuildControl(const SkinControl& description, std::array<std::unique_ptr<Picture>, kPictureSlots>& pictures);

  std::vector<std::unique_ptr<Control>> owned_;
  std::unordered_map<std::string, Control*> named_;
  bool loaded_ = false;
};

}  // namespace Ormel
