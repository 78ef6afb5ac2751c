#include "stored_form.h"

bool StoredFormMaker::Make(const std::vector<uint8_t>& contents, const std::vector<uint8_t>** stored) {
  *stored = &contents;
  if (contents.empty()) return true;
  // An output buffer as large as the input: whatever does not shrink is stored raw.
  buffer_.resize(contents.size());
  std::size_t packed = 0;
  const CodecResult result =
      deflater_.Compress(contents.data(), contents.size(), buffer_.data(), buffer_.size(), &packed);
  if (result == CodecResult::kFailed) return false;
  if (result == CodecResult::kOk && packed < contents.size()) {
    buffer_.resize(packed);
    *stored = &buffer_;
  }
  return true;
}

bool StoredFormReader::Contents(const std::vector<uint8_t>& stored, uint32_t size, std::vector<uint8_t>* contents,
                                std::string* why) {
  if (stored.size() >= size) {
    if (stored.size() != size) {
      *why = "stored form of " + std::to_string(stored.size()) + " bytes for contents of " + std::to_string(size);
      return false;
    }
    *contents = stored;
    return true;
  }
  contents->resize(size);
  std::size_t produced = 0;
  if (inflater_.Decompress(stored.data(), stored.size(), contents->data(), contents->size(), &produced) !=
          CodecResult::kOk ||
      produced != size) {
    *why = "does not inflate to " + std::to_string(size) + " bytes";
    return false;
  }
  return true;
}
