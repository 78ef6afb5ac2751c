#include "workflow/string_table.h"

namespace {

struct Entry {
  int id;
  std::u16string_view text;
};

// u"" joined with a plain literal makes the whole text UTF-16.
constexpr Entry kEntries[] = {
#define UPDATER_STRING(id, name, text) {id, u"" text},
#include "workflow/strings.inc"
#undef UPDATER_STRING
};

}  // namespace

std::u16string_view Text(int id) {
  for (const Entry& entry : kEntries)
    if (entry.id == id) return entry.text;
  return {};
}

std::u16string_view Text(TextId id) {
  return Text(static_cast<int>(id));
}
