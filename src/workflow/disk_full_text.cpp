#include "workflow/disk_full_text.h"

#include "platform/text.h"

namespace {

constexpr std::u16string_view kFileErrorStart = u"Ошибка обновления файла: ";
constexpr std::u16string_view kNoRoom = u"на диске нет места";

std::u16string Bytes(uint64_t bytes) {
  return platform::Utf16FromUtf8(std::to_string(bytes)) + u" Б";
}

}  // namespace

std::u16string DiskFullText(const DiskShortage& shortage) {
  std::u16string text = std::u16string(kNoRoom) + u" (";
  if (shortage.freeBytes) text += u"свободно " + Bytes(*shortage.freeBytes) + u", ";
  return text + u"нужно " + Bytes(shortage.neededBytes) + u")";
}

std::u16string WriteRetryQuestion(std::u16string_view usual, const std::optional<DiskShortage>& diskFull) {
  if (!diskFull) return std::u16string(usual);
  return std::u16string(kFileErrorStart) + DiskFullText(*diskFull) +
         u".\nОсвободите место на диске.\nПовторить попытку?";
}

bool IsDiskFullQuestion(std::u16string_view question) {
  return question.substr(0, kFileErrorStart.size()) == kFileErrorStart &&
         question.substr(kFileErrorStart.size(), kNoRoom.size()) == kNoRoom;
}
