#include "ui/skin_form.h"

#include <array>

#include "base/log.h"
#include "platform/file.h"
#include "platform/text.h"
#include "ui/browser.h"
#include "ui/button.h"
#include "ui/label.h"
#include "ui/progress_bar.h"

namespace Ormel {
namespace {

using ControlPictures = std::array<std::unique_ptr<Picture>, kPictureSlots>;

// The whole file, or false when it cannot be read or is larger than any skin needs to be.
bool ReadSkinFile(const std::u16string& path, std::string* xml) {
  platform::File file;
  if (file.Open(path, platform::FileMode::kRead) != 0) return false;
  uint64_t size = 0;
  if (!file.Seek(0, platform::SeekOrigin::kEnd) || !file.Tell(&size) || size > kMaxSkinFileBytes ||
      !file.Seek(0, platform::SeekOrigin::kStart)) {
    return false;
  }
  xml->resize(static_cast<std::size_t>(size));
  return size == 0 || file.Read(xml->data(), xml->size());
}

bool WithinBounds(const Picture& picture) {
  return picture.width() <= kMaxSkinDimension && picture.height() <= kMaxSkinDimension;
}

// Every picture a skin names, read before anything is built so that an oversized one refuses
// the skin instead of leaving a half-built window.
class SkinPictures {
 public:
  SkinPictures(Backend& backend, const SkinDocument& document) : backend_(backend) {
    background_ = Load(document.background);
    perControl_.resize(document.controls.size());
    for (std::size_t i = 0; i < document.controls.size(); ++i) {
      for (std::size_t slot = 0; slot < kPictureSlots; ++slot) {
        const auto& path = document.controls[i].images[slot];
        if (path) perControl_[i][slot] = Load(*path);
      }
    }
  }

  bool withinBounds() const { return withinBounds_; }
  std::unique_ptr<Picture> TakeBackground() { return std::move(background_); }
  ControlPictures& of(std::size_t control) { return perControl_[control]; }

 private:
  std::unique_ptr<Picture> Load(const std::u16string& path) {
    std::unique_ptr<Picture> picture = backend_.LoadPicture(path);
    if (!picture->loaded()) Log::Error(u"Can't load skin picture: %s", path);
    if (!WithinBounds(*picture)) withinBounds_ = false;
    return picture;
  }

  Backend& backend_;
  std::unique_ptr<Picture> background_;
  std::vector<ControlPictures> perControl_;
  bool withinBounds_ = true;
};

void ApplyPictures(Control& control, ControlPictures& pictures) {
  for (std::size_t slot = 0; slot < kPictureSlots; ++slot) {
    if (pictures[slot] != nullptr) control.SetPicture(static_cast<int>(slot), std::move(pictures[slot]));
  }
}

}  // namespace

SkinForm::SkinForm(Backend& backend, std::u16string formName, const std::string& skinPath)
    : Form(backend, std::move(formName)) {
  loaded_ = Load(skinPath);
}

SkinForm::~SkinForm() {
  named_.clear();
  // Later controls first, the reverse of building.
  while (!owned_.empty()) owned_.pop_back();
}

Control* SkinForm::Find(std::string_view name) const {
  const auto found = named_.find(std::string(name));
  return found != named_.end() ? found->second : nullptr;
}

bool SkinForm::Load(const std::string& path) {
  // No composition until the whole skin is in place.
  BeginBatch();
  struct EndBatchAtExit {
    Form& form;
    ~EndBatchAtExit() { form.EndBatch(); }
  } endBatch{*this};

  std::string xml;
  SkinDocument document;
  const SkinParseResult parsed =
      ReadSkinFile(platform::Utf16FromUtf8(path), &xml) ? ParseSkin(xml, &document) : SkinParseResult::kMalformed;
  if (parsed == SkinParseResult::kNoWindow) return false;
  if (parsed != SkinParseResult::kOk || !Build(document)) {
    Log::Error(u"Can't load skin xml!");
    return false;
  }
  return true;
}

bool SkinForm::Build(const SkinDocument& document) {
  SkinPictures pictures(backend(), document);
  if (!pictures.withinBounds()) return false;

  std::unique_ptr<Picture> background = pictures.TakeBackground();
  const int width = background->width();
  const int height = background->height();
  SetBackground(std::move(background));
  AttachWindow(backend().CreateFormWindow(*this, name(), width, height));
  const ScreenSize screen = backend().PrimaryScreenSize();
  Place((screen.width - width) / 2, (screen.height - height) / 2, width, height);

  for (std::size_t i = 0; i < document.controls.size(); ++i) BuildControl(document.controls[i], pictures.of(i));
  return true;
}

void SkinForm::BuildControl(const SkinControl& description, ControlPictures& pictures) {
  std::unique_ptr<Control> control;
  switch (description.kind) {
    case SkinControlKind::kButton: {
      auto button = std::make_unique<Button>(*this);
      if (description.text) button->SetText(*description.text);
      ApplyPictures(*button, pictures);
      button->SetAlignment(description.alignment);
      button->SetPosition(*description.x, *description.y);
      button->SetHitArea(description.rectX, description.rectY, description.rectW, description.rectH);
      if (description.url) button->SetUrl(*description.url);
      control = std::move(button);
      break;
    }
    case SkinControlKind::kLabel: {
      auto label = std::make_unique<Label>(*this);
      if (description.text) label->SetText(*description.text);
      label->SetAlignment(description.alignment);
      if (description.x && description.y) {
        label->SetPosition(*description.x, *description.y);
        if (description.width && description.height) {
          const int w = *description.width;
          const int h = *description.height;
          // A label at (0, 0) whose box already is Width x Height keeps its plain layout.
          if (!(label->x() == 0 && label->y() == 0 && label->width() == w && label->height() == h)) {
            label->SetTextRect({0, 0, static_cast<float>(w), static_cast<float>(h)});
          }
        }
      }
      if (description.fontSize && static_cast<float>(*description.fontSize) != label->fontSize()) {
        label->SetFont(backend().MakeFont(static_cast<float>(*description.fontSize)));
      }
      control = std::move(label);
      break;
    }
    case SkinControlKind::kBrowser: {
      auto browser = std::make_unique<Browser>(*this);
      browser->AttachHost(backend().CreateBrowserHost(*this));
      browser->SetBox(*description.x, *description.y, *description.width, *description.height);
      browser->OnFormMoved();
      if (BrowserHost* host = browser->host()) {
        host->SetRect(0, 0, *description.width, *description.height);
        host->Navigate(platform::Utf16FromUtf8(*description.url));
      }
      control = std::move(browser);
      break;
    }
    case SkinControlKind::kProgressBar: {
      auto bar = std::make_unique<ProgressBar>(*this);
      if (description.text) bar->SetText(*description.text);
      ApplyPictures(*bar, pictures);
      bar->SetAlignment(description.alignment);
      bar->SetPosition(*description.x, *description.y);
      bar->SetProgress(0);
      control = std::move(bar);
      break;
    }
  }
  if (description.fontColor) control->SetTextColor(*description.fontColor);
  if (description.fontShadow) control->SetShadow(*description.fontShadow);
  if (description.name) named_[*description.name] = control.get();
  owned_.push_back(std::move(control));
}

}  // namespace Ormel
