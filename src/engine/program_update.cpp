#include "engine/program_update.h"

#include <algorithm>
#include <set>
#include <vector>

#include "base/log.h"
#include "base/number_file.h"
#include "base/paths.h"
#include "base/whole_file.h"
#include "engine/client_links.h"
#include "engine/client_path.h"
#include "engine/file_md5.h"
#include "engine/plain_file.h"
#include "engine/server_protocol.h"
#include "engine/stored_content.h"
#include "platform/file.h"

namespace {

// The list the program's files were brought to is the updater's own: a few hundred names.
constexpr uint64_t kMaxInstalledListBytes = 16u * 1024 * 1024;

std::vector<ListEntry> InstalledEntries(const std::u16string& path) {
  std::vector<ListEntry> entries;
  std::string text;
  if (!ReadSmallFile(path, kMaxInstalledListBytes, &text)) return entries;
  int32_t version = 0;
  std::string why;
  if (!DecodeFullList(std::vector<uint8_t>(text.begin(), text.end()), &version, &entries, &why)) entries.clear();
  return entries;
}

// The stored form of a file, downloaded into a file of the staging folder: read back piece
// by piece for the check, so a file's size never sizes a buffer.
StoredContent::Source ReadFrom(platform::File& file) {
  return [&file](uint8_t* buffer, std::size_t size) { return file.Read(buffer, size); };
}

}  // namespace

ProgramUpdate::ProgramUpdate(ServerProtocol& server, ProgramFolders program, StepHook afterStep)
    : server_(server),
      program_(std::move(program)),
      afterStep_(std::move(afterStep)),
      // One hook for both, so that a hook that counts sees every step once, in order.
      swap_(program_.staging, program_.versionFile, [this] { Step(); }) {}

ProgramSwap::Recovery ProgramUpdate::Recover() {
  return swap_.Recover();
}

bool ProgramUpdate::InPlace(const ListEntry& entry) const {
  platform::File file;
  uint64_t size = 0;
  if (file.Open(JoinedPath(program_.folder, entry.name), platform::FileMode::kRead) != 0 ||
      !file.Seek(0, platform::SeekOrigin::kEnd) || !file.Tell(&size) || size != entry.info.size ||
      !file.Seek(0, platform::SeekOrigin::kStart))
    return false;
  return DigestMatches(ComputeFileMd5(file), entry.info.digest);
}

ProgramUpdateResult::Outcome ProgramUpdate::Stage(const OperationContext& context, const ListEntry& entry,
                                                  ProgramUpdateResult* result) {
  using Outcome = ProgramUpdateResult::Outcome;
  result->file = entry.name;
  const std::u16string resource = program_.part + u"\\files\\" + entry.name;
  const std::u16string download = JoinedPath(program_.staging, u"download.~part");
  platform::File stored;
  if (stored.Open(download, platform::FileMode::kCreate) != 0 &&
      (!platform::MakeDirectories(program_.staging) || stored.Open(download, platform::FileMode::kCreate) != 0)) {
    Log::Error(u"Can't create file %s", download);
    return Outcome::kWriteFailed;
  }
  // A stored form is the content or shorter: a longer one is refused before it arrives.
  UpdateServerClient::FileFetch fetch;
  fetch.maxLength = entry.info.size;
  const FetchResult fetched = server_.client().FetchToFile(resource, stored, fetch, context);
  if (!fetched.complete()) {
    if (context.cancelled()) return Outcome::kCancelled;
    if (stored.diskFull()) {
      result->diskFull = ShortageAt(download, fetched.declared);
      Log::Error(u"Can't write file %s%s", download, ShortageLogText(*result->diskFull));
      return Outcome::kWriteFailed;
    }
    result->request = server_.client().FailureOf(resource, fetched);
    Log::Error(u"Can't get file from server: %s", resource);
    return Outcome::kFetchFailed;
  }
  Step();
  StoredContent checker;
  const auto check = [&](const StoredContent::Sink& sink) {
    return stored.Seek(0, platform::SeekOrigin::kStart) &&
           checker.Verify(ReadFrom(stored), static_cast<uint64_t>(fetched.received), entry.info.size, entry.info.digest,
                          sink);
  };
  const std::u16string staged = JoinedPath(swap_.NewFolder(), entry.name);
  switch (WritePlainFile(staged, JoinedPath(program_.staging, u"file.~part"), check)) {
    case PlainFileResult::kWritten:
      Step();
      return Outcome::kUpdated;
    case PlainFileResult::kContentMismatch:
      Log::Error(u"The updater's file %s from the server is not what its list says", resource);
      return Outcome::kWrongContent;
    case PlainFileResult::kDiskFull:
      result->diskFull = ShortageAt(staged, entry.info.size);
      Log::Error(u"Can't write file %s%s", staged, ShortageLogText(*result->diskFull));
      return Outcome::kWriteFailed;
    case PlainFileResult::kCannotWrite:
      break;
  }
  Log::Error(u"Can't write file %s", staged);
  return Outcome::kWriteFailed;
}

ProgramUpdateResult ProgramUpdate::Run(const OperationContext& context, int32_t expected) {
  using Outcome = ProgramUpdateResult::Outcome;
  ProgramUpdateResult result;
  if (Recover() == ProgramSwap::Recovery::kFailed) {
    result.outcome = Outcome::kSwapFailed;
    return result;
  }
  // What an earlier run staged without getting to its swap counts for nothing.
  swap_.ClearStaging();

  std::vector<ListEntry> entries;
  const ListResult list = server_.GetProgramList(context, program_.part, &entries);
  result.version = list.version;
  switch (list.outcome) {
    case ListResult::Outcome::kLoaded:
      break;
    case ListResult::Outcome::kCancelled:
      result.outcome = Outcome::kCancelled;
      return result;
    case ListResult::Outcome::kUnverified:
      result.outcome = Outcome::kUnverified;
      return result;
    case ListResult::Outcome::kFetchFailed:
      result.request = list.request;
      result.outcome = list.request.failure == FetchFailure::kHttpStatus && list.request.status == 404
                           ? Outcome::kNoList
                           : Outcome::kFetchFailed;
      return result;
    default:
      result.outcome = Outcome::kUnreadable;
      return result;
  }
  if (expected >= 0 && list.version != expected) {
    Log::Error(u"The server's list %s is of version %d, the server announces %d", list.resource, list.version,
               expected);
    result.outcome = Outcome::kOtherVersion;
    return result;
  }

  // Names come from the server: each must stay inside the program's folder, pass through no
  // link there, and be listed once.
  std::set<std::u16string> listed;
  for (const ListEntry& entry : entries) {
    const std::u16string path = JoinedPath(program_.folder, entry.name);
    if (!IsSafeClientPath(entry.name) || !listed.insert(TargetKey(entry.name)).second ||
        !LinkBelow(program_.folder, path).empty()) {
      Log::Error(u"Bad file name in list: %s", entry.name);
      result.file = entry.name;
      result.outcome = Outcome::kBadName;
      return result;
    }
  }

  std::vector<const ListEntry*> differing;
  for (const ListEntry& entry : entries)
    if (!InPlace(entry)) differing.push_back(&entry);
  ProgramSwapPlan plan;
  plan.target = program_.folder;
  plan.version = list.version;
  for (const ListEntry& old : InstalledEntries(program_.installedList))
    if (listed.count(TargetKey(old.name)) == 0 && IsSafeClientPath(old.name) &&
        platform::FileExists(JoinedPath(program_.folder, old.name)))
      plan.removed.push_back(old.name);
  if (differing.empty() && plan.removed.empty() && ReadNumberFile(program_.versionFile) == list.version) {
    result.outcome = Outcome::kUpToDate;
    return result;
  }

  context.progress().StartItems(static_cast<int32_t>(std::max<std::size_t>(differing.size(), 1)));
  for (const ListEntry* entry : differing) {
    const Outcome staged = Stage(context, *entry, &result);
    if (staged != Outcome::kUpdated) {
      result.outcome = context.cancelled() ? Outcome::kCancelled : staged;
      swap_.ClearStaging();
      return result;
    }
    plan.replaced.push_back(entry->name);
    ++result.filesStaged;
    context.progress().ItemDone();
  }
  result.file.clear();
  platform::RemoveFile(JoinedPath(program_.staging, u"download.~part"));
  // From the journal on nothing is cancelled: the swap ends whole, here or at the next start.
  if (!swap_.Run(plan)) {
    // A file that would not move (held by another program): the old files come back.
    if (!swap_.RollBack()) Log::Error(u"The update of %s stays for the next start to finish", program_.folder);
    result.outcome = Outcome::kSwapFailed;
    return result;
  }
  // The list is kept last: a run cut short before only keeps a file it could have removed.
  const std::vector<uint8_t> kept = EncodeFullList(list.version, entries);
  if (!WriteFileWhole(program_.installedList,
                      std::string_view(reinterpret_cast<const char*>(kept.data()), kept.size())))
    Log::Error(u"Can't create file %s", program_.installedList);
  Step();
  context.progress().FinishItems();
  Log::Info(u"The files of %s are at version %d: %u replaced, %u removed", program_.folder, list.version,
            static_cast<uint32_t>(plan.replaced.size()), static_cast<uint32_t>(plan.removed.size()));
  result.outcome = Outcome::kUpdated;
  return result;
}

std::u16string ProgramUpdateOutcomeText(ProgramUpdateResult::Outcome outcome) {
  using Outcome = ProgramUpdateResult::Outcome;
  switch (outcome) {
    case Outcome::kUpdated:
      return u"updated";
    case Outcome::kUpToDate:
      return u"up to date";
    case Outcome::kNoList:
      return u"the server lists no files of it";
    case Outcome::kFetchFailed:
      return u"the server could not be reached";
    case Outcome::kUnreadable:
      return u"the server's list is unreadable";
    case Outcome::kUnverified:
      return u"the server's list does not match the signed release";
    case Outcome::kOtherVersion:
      return u"the server's list is of another version";
    case Outcome::kBadName:
      return u"the server's list names a file that is not taken";
    case Outcome::kWrongContent:
      return u"a file from the server is not what the list says";
    case Outcome::kWriteFailed:
      return u"a file could not be written";
    case Outcome::kSwapFailed:
      return u"the files could not be swapped";
    case Outcome::kCancelled:
      return u"cancelled";
  }
  return u"failed";
}
