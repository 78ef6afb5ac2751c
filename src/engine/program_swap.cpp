#include "engine/program_swap.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/decimal_text.h"
#include "base/log.h"
#include "base/number_file.h"
#include "base/paths.h"
#include "base/whole_file.h"
#include "engine/client_path.h"
#include "platform/file.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kJournalHeader = "solmere-program-swap 1";
// A journal names the files of one program folder: a few hundred at most.
constexpr uint64_t kMaxJournalBytes = 4u * 1024 * 1024;
constexpr uint64_t kCopyPiece = 256 * 1024;

std::u16string Below(const std::u16string& folder, const std::u16string& name) {
  return folder + u"\\" + name;
}

bool Exists(const std::u16string& path) {
  return platform::FileExists(path);
}

// Renames `from` over `to`, making the folders of `to` first.
bool MoveReplacing(const std::u16string& from, const std::u16string& to) {
  platform::MakeDirectories(ParentFolder(to));
  if (platform::RenameReplacing(from, to)) return true;
  Log::Error(u"Can't move %s to %s", from, to);
  return false;
}

// Copies a whole file through a temporary name beside the copy: the copy is whole or absent.
bool CopyWhole(const std::u16string& from, const std::u16string& to) {
  platform::File source;
  uint64_t size = 0;
  if (source.Open(from, platform::FileMode::kRead) != 0 || !source.Seek(0, platform::SeekOrigin::kEnd) ||
      !source.Tell(&size) || !source.Seek(0, platform::SeekOrigin::kStart)) {
    Log::Error(u"Can't open file %s", from);
    return false;
  }
  const std::u16string part = to + u".~part";
  platform::MakeDirectories(ParentFolder(part));
  {
    platform::File target;
    if (target.Open(part, platform::FileMode::kCreate) != 0) {
      Log::Error(u"Can't create file %s", part);
      return false;
    }
    std::vector<uint8_t> buffer(static_cast<std::size_t>(std::min<uint64_t>(size, kCopyPiece)));
    for (uint64_t left = size; left > 0;) {
      const auto piece = static_cast<std::size_t>(std::min<uint64_t>(left, buffer.size()));
      if (!source.Read(buffer.data(), piece) || !target.Write(buffer.data(), piece)) {
        Log::Error(u"Can't copy %s to %s", from, part);
        return false;
      }
      left -= piece;
    }
    if (!target.Sync()) return false;
  }
  return platform::RenameReplacing(part, to);
}

}  // namespace

std::u16string ProgramSwap::NewFolder() const {
  return Below(staging_, u"new");
}

void ProgramSwap::ClearStaging() const {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(staging_), ignored);
}

bool ProgramSwap::WriteJournal(const ProgramSwapPlan& plan) {
  std::string text(kJournalHeader);
  text += "\nversion " + DecimalText(plan.version) + "\ntarget " + platform::Utf8FromUtf16(plan.target) + "\n";
  for (const std::u16string& name : plan.replaced) text += "replace " + platform::Utf8FromUtf16(name) + "\n";
  for (const std::u16string& name : plan.removed) text += "remove " + platform::Utf8FromUtf16(name) + "\n";
  return WriteFileWhole(Below(staging_, u"journal"), text);
}

bool ProgramSwap::ReadJournal(ProgramSwapPlan* plan) const {
  std::string text;
  if (!ReadSmallFile(Below(staging_, u"journal"), kMaxJournalBytes, &text)) return false;
  std::size_t at = 0;
  bool headerSeen = false;
  bool versionSeen = false;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;
    const std::string_view line(text.data() + at, end - at);
    at = end + 1;
    const auto field = [&line](std::string_view key) -> std::optional<std::string_view> {
      if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 || line[key.size()] != ' ')
        return std::nullopt;
      return line.substr(key.size() + 1);
    };
    if (!headerSeen) {
      if (line != kJournalHeader) return false;
      headerSeen = true;
    } else if (const auto version = field("version")) {
      const std::optional<int32_t> number = ParseServerVersion(version->data(), version->size());
      if (!number) return false;
      plan->version = *number;
      versionSeen = true;
    } else if (const auto target = field("target")) {
      plan->target = platform::Utf16FromUtf8(std::string(*target));
    } else if (const auto name = field("replace")) {
      plan->replaced.push_back(platform::Utf16FromUtf8(std::string(*name)));
    } else if (const auto gone = field("remove")) {
      plan->removed.push_back(platform::Utf16FromUtf8(std::string(*gone)));
    } else {
      return false;
    }
  }
  if (!versionSeen || plan->target.empty()) return false;
  for (const auto* names : {&plan->replaced, &plan->removed})
    for (const std::u16string& name : *names)
      if (!IsSafeClientPath(name)) return false;
  return true;
}

std::u16string ProgramSwap::OldPath(const std::u16string& name) const {
  return Below(Below(staging_, u"old"), name);
}

bool ProgramSwap::MoveAside(const ProgramSwapPlan& plan, const std::u16string& name) {
  const std::u16string current = Below(plan.target, name);
  if (!Exists(current)) return true;
  return MoveReplacing(current, OldPath(name));
}

bool ProgramSwap::WriteVersion(int32_t version) {
  if (WriteFileWhole(versionFile_, DecimalText(version))) return true;
  Log::Error(u"Can't create file %s", versionFile_);
  return false;
}

bool ProgramSwap::Finish(const ProgramSwapPlan& plan) {
  for (const std::u16string& name : plan.replaced) {
    const std::u16string staged = Below(NewFolder(), name);
    // Moved in already when it is no longer staged.
    if (!Exists(staged)) continue;
    // Still the old file while the new one is staged: its copy is made again.
    const std::u16string current = Below(plan.target, name);
    if (Exists(current) && !CopyWhole(current, OldPath(name))) return false;
    Step();
    if (!MoveReplacing(staged, current)) return false;
    Step();
  }
  for (const std::u16string& name : plan.removed) {
    if (!MoveAside(plan, name)) return false;
    Step();
  }
  if (!WriteVersion(plan.version)) return false;
  Step();
  // From here the swap is over: the old files only wait to be deleted.
  if (!platform::RemoveFile(Below(staging_, u"journal"))) return false;
  Step();
  ClearStaging();
  Step();
  return true;
}

bool ProgramSwap::Run(const ProgramSwapPlan& plan) {
  for (const auto* names : {&plan.replaced, &plan.removed})
    for (const std::u16string& name : *names)
      if (!IsSafeClientPath(name)) {
        Log::Error(u"The updater's file %s has a name that is not taken", name);
        return false;
      }
  for (const std::u16string& name : plan.replaced)
    if (!Exists(Below(NewFolder(), name))) {
      Log::Error(u"The updater's file %s is not staged", name);
      return false;
    }
  if (!WriteJournal(plan)) {
    Log::Error(u"Can't create file %s", Below(staging_, u"journal"));
    return false;
  }
  Step();
  return Finish(plan);
}

ProgramSwap::Recovery ProgramSwap::Recover() {
  if (!Exists(Below(staging_, u"journal"))) return Recovery::kNothing;
  ProgramSwapPlan plan;
  if (!ReadJournal(&plan)) {
    Log::Error(u"The journal of the updater's own update is damaged: %s", Below(staging_, u"journal"));
    return Recovery::kFailed;
  }
  Log::Info(u"Finishing the interrupted update of the updater to version %d", plan.version);
  return Finish(plan) ? Recovery::kFinished : Recovery::kFailed;
}

bool ProgramSwap::RollBack() {
  if (!Exists(Below(staging_, u"journal"))) return true;
  ProgramSwapPlan plan;
  if (!ReadJournal(&plan)) return false;
  if (ReadNumberFile(versionFile_) == plan.version) return Finish(plan);
  // Each name is put back only where the swap had reached it: where the new file is in. It
  // goes back to staging first, so that a finish after a cut short undoing still has it.
  for (const std::u16string& name : plan.replaced) {
    const std::u16string current = Below(plan.target, name);
    const std::u16string staged = Below(NewFolder(), name);
    if (Exists(staged) || !Exists(current)) continue;
    if (!CopyWhole(current, staged)) return false;
    if (Exists(OldPath(name)) ? !MoveReplacing(OldPath(name), current) : !platform::RemoveFile(current)) return false;
  }
  for (const std::u16string& name : plan.removed)
    if (Exists(OldPath(name)) && !MoveReplacing(OldPath(name), Below(plan.target, name))) return false;
  if (!platform::RemoveFile(Below(staging_, u"journal"))) return false;
  ClearStaging();
  Log::Info(u"The update of the updater to version %d was undone", plan.version);
  return true;
}
