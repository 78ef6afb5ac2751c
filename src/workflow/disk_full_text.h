#pragma once
// What the updater says of a write the disk refused for want of space: the free and the
// needed bytes, in the question that offers to retry, in the log and on the console.

#include <optional>
#include <string>
#include <string_view>

#include "engine/disk_space.h"

// "на диске нет места (свободно 4096 Б, нужно 65536 Б)".
std::u16string DiskFullText(const DiskShortage& shortage);

// The question after a write that failed: `usual` ("Ошибка обновления файла. ...
// Повторить попытку?"), or for a full disk the same question with its free and needed bytes.
std::u16string WriteRetryQuestion(std::u16string_view usual, const std::optional<DiskShortage>& diskFull);

// Whether `question` is a WriteRetryQuestion for a full disk: the same retry whatever the
// bytes it names.
bool IsDiskFullQuestion(std::u16string_view question);
