#include "engine/large_file_download.h"

#include <algorithm>

#include "archive/tavrin_file_package.h"
#include "base/log.h"
#include "base/paths.h"
#include "engine/client_layout.h"
#include "engine/download_resume.h"
#include "formats/release_manifest.h"
#include "net/server_mirrors.h"
#include "platform/text.h"

LargeFileDownload::LargeFileDownload(ServerMirrors& servers, const ClientLayout& layout)
    : servers_(servers), part_(layout.fileDownloadPart()), record_(layout.fileDownloadResume()) {}

LargeFileDownload::~LargeFileDownload() {
  // Part of a body the server named no validator for cannot be taken up: it goes too.
  if (complete_ || !platform::FileExists(record_)) {
    Drop();
  } else {
    file_.Close();
  }
}

void LargeFileDownload::Drop() {
  file_.Close();
  platform::RemoveFile(part_);
  platform::RemoveFile(record_);
  complete_ = false;
  length_ = 0;
}

bool LargeFileDownload::Open(const std::u16string& key, BodyResume* resume) {
  file_.Close();
  platform::MakeDirectories(ParentFolder(part_));
  *resume = TakeUpDownload(record_, part_, key, &file_);
  if (resume->usable()) {
    Log::Info(u"Taking up the download of %s: %u of %u bytes are there", key.substr(0, key.rfind(u' ')),
              resume->received, resume->declared);
    return true;
  }
  return file_.Open(part_, platform::FileMode::kCreate) == 0;
}

FetchResult LargeFileDownload::Fetch(const ListEntry& entry, const std::u16string& resource,
                                     const OperationContext& context, FailedRequest* failure) {
  if (complete_) Drop();
  // The digest in the key: a run before may have left part of another release's file.
  const platform::Md5Digest& digest = entry.info.digest;
  const std::u16string key = resource + u" " + platform::Utf16FromUtf8(HexText(digest.data(), digest.size()));
  UpdateServerClient::FileFetch fetch;
  // A stored form is the content or shorter: a longer one is refused before it arrives.
  fetch.maxLength = entry.info.size;
  // Kept as the body starts, so that a run cut short any time later can take it up.
  fetch.started = [this, &key](uint32_t length, const std::string& validator) {
    if (validator.empty() || !WriteDownloadResumeRecord(record_, {key, length, validator}))
      platform::RemoveFile(record_);
  };
  FetchResult result;
  result.failure = FetchFailure::kFailed;
  *failure = {};
  if (!Open(key, &fetch.resume)) {
    Log::Error(u"Can't create file %s", part_);
    return result;
  }
  const std::size_t first = servers_.current();
  for (std::size_t tried = 0;;) {
    const std::size_t server = (first + tried) % servers_.count();
    const bool resumed = fetch.resume.usable();
    UpdateServerClient& client = servers_.at(server);
    result = client.FetchToFile(resource, file_, fetch, context);
    const bool whole = result.complete() && file_.Flush();
    *failure = whole ? FailedRequest{} : client.FailureOf(resource, result);
    if (whole) {
      length_ = static_cast<uint32_t>(result.received);
      complete_ = true;
      // Checked here only where another download could mend it: what a run before left may not
      // be what the server has (a power loss loses written bytes), and a mirror may serve it
      // damaged. Otherwise the store's own check tells.
      if ((!resumed && servers_.count() == 1) || Check(entry)) break;
      if (resumed) {
        Log::Error(u"What an earlier run left of %s is damaged: asked for whole", resource);
      } else if (tried + 1 < servers_.count()) {
        Log::Error(u"%s from %s is damaged: taken from the next server", resource,
                   AddressText(servers_.address(server)));
      } else {
        break;
      }
    } else if (context.cancelled() || result.failure == FetchFailure::kCancelled || tried + 1 == servers_.count()) {
      break;
    }
    // A damaged take-up is asked for whole from the same server.
    if (!(whole && resumed)) ++tried;
    fetch.resume = {};
    complete_ = false;
    length_ = 0;
    if (file_.Open(part_, platform::FileMode::kCreate) != 0) {
      Log::Error(u"Can't create file %s", part_);
      result.failure = FetchFailure::kFailed;
      break;
    }
  }
  return result;
}

bool LargeFileDownload::Make(const std::function<bool(platform::File& file)>& make, uint32_t size) {
  Drop();
  platform::MakeDirectories(ParentFolder(part_));
  if (file_.Open(part_, platform::FileMode::kCreate) != 0) return false;
  if (!make(file_) || !file_.Flush()) {
    Drop();
    return false;
  }
  length_ = size;
  complete_ = true;
  return true;
}

bool LargeFileDownload::Rewind() {
  return file_.isOpen() && file_.Seek(0, platform::SeekOrigin::kStart);
}

bool LargeFileDownload::Check(const ListEntry& entry, const StoredContent::Sink& sink) {
  if (!complete_ || !Rewind()) return false;
  const StoredContent::Source source = [this](uint8_t* buffer, std::size_t size) { return file_.Read(buffer, size); };
  return checker_.Verify(source, length_, entry.info.size, entry.info.digest, sink);
}

bool LargeFileDownload::Verify(const ListEntry& entry, const StoredContent::Sink& sink) {
  if (Check(entry, sink)) return true;
  Drop();
  return false;
}

const uint8_t* LargeFileDownload::NextPiece(uint32_t count) {
  if (count > TavrinFilePackage::kStorePiece) return nullptr;
  piece_.resize(std::max<std::size_t>(piece_.size(), count));
  return file_.Read(piece_.data(), count) ? piece_.data() : nullptr;
}
