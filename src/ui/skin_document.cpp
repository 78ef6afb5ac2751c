#include "ui/skin_document.h"

#include <tinyxml2.h>

#include <cstring>

#include "platform/text.h"
#include "ui/skin_values.h"

namespace Ormel {
namespace {

constexpr int kMaxPosition = kMaxSkinDimension;

using tinyxml2::XMLElement;

const char* Attribute(const XMLElement& element, const char* name) {
  return element.Attribute(name);
}

// Reads one number attribute; false when it is present but outside [low, high].
bool ReadNumber(const XMLElement& element, const char* name, int64_t low, int64_t high, std::optional<int>* out) {
  const char* text = Attribute(element, name);
  if (text == nullptr) return true;
  const int64_t value = SkinNumber(text);
  if (value < low || value > high) return false;
  *out = static_cast<int>(value);
  return true;
}

bool RequireNumber(const XMLElement& element, const char* name, int64_t low, int64_t high, int* out) {
  std::optional<int> value;
  if (!ReadNumber(element, name, low, high, &value) || !value) return false;
  *out = *value;
  return true;
}

// A hit size: -1 (none) or 0 to the largest dimension.
bool RequireHitSize(const XMLElement& element, const char* name, int* out) {
  return RequireNumber(element, name, -1, kMaxSkinDimension, out);
}

// "Name", "Text", alignment, "FontColor", "FontShadow": the attributes every kind may have.
bool ReadCommon(const XMLElement& element, SkinControl* control) {
  if (const char* name = Attribute(element, "Name")) control->name = name;
  if (const char* text = Attribute(element, "Text")) control->text = platform::Utf16FromUtf8(text);
  if (const char* align = Attribute(element, "TextAlign")) control->alignment |= HorizontalAlignment(align);
  if (const char* align = Attribute(element, "TextVerticalAlign")) control->alignment |= VerticalAlignment(align);
  if (const char* color = Attribute(element, "FontColor")) {
    control->fontColor = SkinColor(color);
    if (!control->fontColor) return false;
  }
  if (const char* shadow = Attribute(element, "FontShadow")) control->fontShadow = SkinNumber(shadow) != 0;
  return true;
}

bool ReadPosition(const XMLElement& element, SkinControl* control, bool required) {
  if (!ReadNumber(element, "X", -kMaxPosition, kMaxPosition, &control->x)) return false;
  if (!ReadNumber(element, "Y", -kMaxPosition, kMaxPosition, &control->y)) return false;
  return !required || (control->x && control->y);
}

void ReadImages(const XMLElement& element, SkinControl* control) {
  for (const XMLElement* image = element.FirstChildElement("Image"); image != nullptr;
       image = image->NextSiblingElement("Image")) {
    const char* name = Attribute(*image, "Name");
    const char* file = Attribute(*image, "Background");
    if (name == nullptr || file == nullptr) continue;
    control->images[static_cast<std::size_t>(PictureSlot(name))] = platform::Utf16FromUtf8(file);
  }
}

bool ReadButton(const XMLElement& element, SkinControl* control) {
  if (!ReadCommon(element, control) || !ReadPosition(element, control, true)) return false;
  if (!RequireNumber(element, "RectX", -kMaxPosition, kMaxPosition, &control->rectX)) return false;
  if (!RequireNumber(element, "RectY", -kMaxPosition, kMaxPosition, &control->rectY)) return false;
  if (!RequireHitSize(element, "RectW", &control->rectW) || !RequireHitSize(element, "RectH", &control->rectH)) {
    return false;
  }
  if (const char* url = Attribute(element, "Url")) control->url = url;
  ReadImages(element, control);
  return true;
}

bool ReadLabel(const XMLElement& element, SkinControl* control) {
  if (!ReadCommon(element, control) || !ReadPosition(element, control, false)) return false;
  if (!ReadNumber(element, "Width", 0, kMaxSkinDimension, &control->width)) return false;
  if (!ReadNumber(element, "Height", 0, kMaxSkinDimension, &control->height)) return false;
  return ReadNumber(element, "Size", 1, kMaxFontSize, &control->fontSize);
}

bool ReadBrowser(const XMLElement& element, SkinControl* control) {
  if (const char* name = Attribute(element, "Name")) control->name = name;
  if (!ReadPosition(element, control, true)) return false;
  if (!ReadNumber(element, "Width", 0, kMaxSkinDimension, &control->width) || !control->width) return false;
  if (!ReadNumber(element, "Height", 0, kMaxSkinDimension, &control->height) || !control->height) return false;
  const char* url = Attribute(element, "Url");
  if (url == nullptr) return false;
  control->url = url;
  return true;
}

bool ReadProgressBar(const XMLElement& element, SkinControl* control) {
  if (!ReadCommon(element, control) || !ReadPosition(element, control, true)) return false;
  ReadImages(element, control);
  return true;
}

struct KindReader {
  const char* tag;
  SkinControlKind kind;
  bool (*read)(const XMLElement&, SkinControl*);
};

// The order of this table is the build order.
constexpr KindReader kKinds[] = {
    {"Button", SkinControlKind::kButton, ReadButton},
    {"Label", SkinControlKind::kLabel, ReadLabel},
    {"Browser", SkinControlKind::kBrowser, ReadBrowser},
    {"ProgressBar", SkinControlKind::kProgressBar, ReadProgressBar},
};

}  // namespace

namespace {

SkinParseResult Parse(std::string_view xml, SkinDocument* document) {
  if (xml.size() > kMaxSkinFileBytes) return SkinParseResult::kInvalid;
  tinyxml2::XMLDocument parsed;
  if (parsed.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) return SkinParseResult::kMalformed;
  const XMLElement* window = parsed.FirstChildElement("Window");
  if (window == nullptr) return SkinParseResult::kNoWindow;
  const char* background = Attribute(*window, "Background");
  if (background == nullptr) return SkinParseResult::kInvalid;
  document->background = platform::Utf16FromUtf8(background);

  for (const KindReader& reader : kKinds) {
    for (const XMLElement* element = window->FirstChildElement(reader.tag); element != nullptr;
         element = element->NextSiblingElement(reader.tag)) {
      if (document->controls.size() >= kMaxSkinControls) return SkinParseResult::kInvalid;
      SkinControl control;
      control.kind = reader.kind;
      if (!reader.read(*element, &control)) return SkinParseResult::kInvalid;
      document->controls.push_back(std::move(control));
    }
  }
  return SkinParseResult::kOk;
}

}  // namespace

SkinParseResult ParseSkin(std::string_view xml, SkinDocument* document) {
  SkinDocument parsed;
  const SkinParseResult result = Parse(xml, &parsed);
  *document = result == SkinParseResult::kOk ? std::move(parsed) : SkinDocument{};
  return result;
}

}  // namespace Ormel
