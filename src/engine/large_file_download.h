#pragma once
// The stored form of a large file of the file pass, downloaded into a file of the updater's own
// rather than into memory, with a record beside it of what it is (see download_resume.h). A run
// cut short (a cancel, a kill, a power loss) loses at most the last piece written: the next run
// that comes to the same file (the same resource and digest) asks only for the rest, while the
// server still has the same bytes (Range with If-Range). A download that fails on one server,
// or comes damaged while there are mirrors, is asked for from the start of the next one.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/operation_context.h"
#include "engine/stored_content.h"
#include "formats/chunk_index.h"
#include "formats/file_list.h"
#include "net/body_transfer.h"
#include "net/fetch_result.h"
#include "platform/file.h"

class ClientLayout;
class ServerMirrors;

class LargeFileDownload {
 public:
  // Files whose content is larger come through a file; smaller ones whole into memory.
  static constexpr uint32_t kMinSize = kChunkedFileSize;

  // Both must outlive the download.
  LargeFileDownload(ServerMirrors& servers, const ClientLayout& layout);
  // A download that came whole goes; one that broke off stays for the next run.
  ~LargeFileDownload();
  LargeFileDownload(const LargeFileDownload&) = delete;
  LargeFileDownload& operator=(const LargeFileDownload&) = delete;

  // Downloads the stored form of `entry` (from `resource`), taken up where a run before left it.
  // `failure` names the server of a download that failed.
  FetchResult Fetch(const ListEntry& entry, const std::u16string& resource, const OperationContext& context,
                    FailedRequest* failure);
  // The content made otherwise (from chunks): `make` writes all `size` bytes of it into the
  // file, as a download would have; false when it did not. Nothing of it is kept for a later run.
  bool Make(const std::function<bool(platform::File& file)>& make, uint32_t size);
  // After a complete Fetch or Make: checks the stored form against the entry, handing the content to
  // `sink` (null: check only). A download that does not check out goes.
  bool Verify(const ListEntry& entry, const StoredContent::Sink& sink);
  // After Verify, the stored form: its length, and its next `count` bytes read from the file
  // (null when they cannot be read), valid until the next call.
  uint32_t length() const { return length_; }
  bool Rewind();
  const uint8_t* NextPiece(uint32_t count);

 private:
  // Removes the file and its record.
  void Drop();
  // Verify, keeping the file when it does not check out.
  bool Check(const ListEntry& entry, const StoredContent::Sink& sink = nullptr);
  // The file opened and placed for the download: at its end to take up what a run before left
  // of `key`, otherwise emptied. False when it cannot be opened.
  bool Open(const std::u16string& key, BodyResume* resume);

  ServerMirrors& servers_;
  const std::u16string& part_;
  const std::u16string& record_;
  platform::File file_;
  uint32_t length_ = 0;
  // The file holds a whole stored form, of no use to a later run.
  bool complete_ = false;
  StoredContent checker_;
  std::vector<uint8_t> piece_;
};
