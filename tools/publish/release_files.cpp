#include "release_files.h"

#include <exception>
#include <string>
#include <system_error>

#include "chunk_store.h"
#include "client_paths.h"
#include "formats/chunk_index.h"
#include "job_pool.h"
#include "platform/md5.h"
#include "report.h"
#include "stored_form.h"
#include "tree_files.h"

namespace fs = std::filesystem;

namespace {

// What became of one file; each is filled by the one thread that took the file.
struct FileOutcome {
  bool failed = false;
  bool written = false;
  FileInfo info;
  std::string error;
  // A thrown failure (allocation, a name the platform cannot convert) is thrown again on
  // the calling thread when its turn comes, as if nothing ran in parallel.
  std::exception_ptr exception;
};

// Reused for every file a thread takes.
struct StoreWorker {
  StoredFormMaker maker;
  std::vector<uint8_t> contents;
};

struct StoreJob {
  const std::vector<ClientFile>& files;
  ClientFolder* client;
  const Manifest& previous;
  const fs::path& storedRoot;
  bool dryRun;
  // Null on a dry run.
  ChunkStore* chunks;
  std::vector<FileOutcome>& outcomes;
};

bool Fail(FileOutcome* outcome, std::string message) {
  outcome->failed = true;
  outcome->error = std::move(message);
  return false;
}

bool StoreOne(const StoreJob& job, StoreWorker* worker, const ClientFile& file, FileOutcome* outcome) {
  std::string why;
  if (!job.client->Read(file, &worker->contents, &why))
    return Fail(outcome, "cannot read " + Utf8(file.name) + ": " + why);
  const std::vector<uint8_t>& contents = worker->contents;
  FileInfo& info = outcome->info;
  info.size = static_cast<uint32_t>(contents.size());
  if (!platform::ComputeMd5(contents.data(), contents.size(), &info.digest))
    return Fail(outcome, "cannot compute the MD5 of " + Utf8(file.name));
  fs::path resource;
  if (!ResourcePath(job.storedRoot, file.name, &resource, &why)) return Fail(outcome, Utf8(file.name) + ": " + why);
  // Also for a file that did not change: a tree an older publish wrote has no chunks.
  if (job.chunks != nullptr && info.size > kChunkedFileSize &&
      !job.chunks->Store(contents, info.digest, &worker->maker, &why))
    return Fail(outcome, Utf8(file.name) + ": " + why);
  const auto old = job.previous.files.find(IdentityOf(file.name));
  std::error_code error;
  if (old != job.previous.files.end() && old->second.name == file.name && old->second.info.digest == info.digest &&
      old->second.info.size == info.size && fs::file_size(resource, error) == old->second.info.storedSize && !error) {
    info.storedSize = old->second.info.storedSize;
    return true;
  }
  const std::vector<uint8_t>* stored = nullptr;
  if (!worker->maker.Make(contents, &stored)) return Fail(outcome, "cannot compress " + Utf8(file.name));
  info.storedSize = static_cast<uint32_t>(stored->size());
  if (!job.dryRun) {
    if (old != job.previous.files.end() && old->second.name != file.name) {
      // Only the letter case changed: on a case-blind disk the old file is this one.
      fs::path oldResource;
      if (ResourcePath(job.storedRoot, old->second.name, &oldResource, &why)) fs::remove(oldResource, error);
    }
    if (!WriteFileAtomically(resource, *stored, &why)) return Fail(outcome, why);
  }
  outcome->written = true;
  return true;
}

}  // namespace

bool StoreClientFiles(const std::vector<ClientFile>& files, ClientFolder* client, const Manifest& previous,
                      const fs::path& storedRoot, ChunkStore* chunks, unsigned jobs, Manifest* current,
                      ReleaseTotals* totals) {
  const bool dryRun = chunks == nullptr;
  // One small outcome per file; the contents live only in the threads' buffers.
  std::vector<FileOutcome> outcomes(files.size());
  const StoreJob job{files, client, previous, storedRoot, dryRun, chunks, outcomes};
  RunJobs<StoreWorker>(files.size(), jobs, [&job](StoreWorker& worker, std::size_t index) noexcept {
    FileOutcome& outcome = job.outcomes[index];
    bool stored = false;
    try {
      stored = StoreOne(job, &worker, job.files[index], &outcome);
    } catch (...) {
      outcome.failed = true;
      outcome.exception = std::current_exception();
    }
    return stored;
  });
  // Taken in list order, so the failure reported is the first in the list whichever
  // thread met it first; every file before it was worked to its end.
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileOutcome& outcome = outcomes[i];
    if (outcome.exception) std::rethrow_exception(outcome.exception);
    if (outcome.failed) {
      ReportError(outcome.error);
      return false;
    }
    if (outcome.written) ++totals->written;
    ++totals->files;
    totals->bytes += outcome.info.size;
    totals->storedBytes += outcome.info.storedSize;
    AddToManifest({files[i].name, outcome.info}, current);
  }
  return true;
}
