// Update packages: the header and the index, read from untrusted bytes.
#include "formats/update_package.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/server_tree.h"

namespace {

using testsupport::ListedFile;
using Kind = PackageIndexFault::Kind;

class PackageIndexTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> package_ = testsupport::PackageBytes(
      3, 7, {ListedFile{u"models\\a.ski", std::string(500, 'a')}, ListedFile{u"b.txt", "bee", false}});
  uint32_t index_ = testsupport::PackageIndexOffset(package_);

  void Mask(std::size_t at, uint32_t value, uint32_t mask) {
    for (int i = 0; i < 4; ++i)
      package_.at(at + static_cast<std::size_t>(i)) = static_cast<uint8_t>((value ^ mask) >> (8 * i));
  }
  bool Read(std::vector<PackageRecord>* records, PackageIndexFault* fault = nullptr) {
    MemoryPackageSource source(package_.data(), package_.size());
    PackageHeader header;
    return ReadPackageHeader(source, &header) && ReadPackageIndex(source, header, records, fault);
  }
};

TEST_F(PackageIndexTest, ReadsHeaderAndRecords) {
  MemoryPackageSource source(package_.data(), package_.size());
  PackageHeader header;
  ASSERT_TRUE(ReadPackageHeader(source, &header));
  EXPECT_EQ(header.minimumVersion, 3);
  EXPECT_EQ(header.targetVersion, 7);
  std::vector<PackageRecord> records;
  PackageIndexFault fault{Kind::kUnreadable, 5, 5};
  ASSERT_TRUE(ReadPackageIndex(source, header, &records, &fault));
  EXPECT_EQ(fault.kind, Kind::kUnreadable) << "a fault is only written for a refusal";
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].name, u"models\\a.ski");
  EXPECT_EQ(records[0].size, 500u);
  EXPECT_LT(records[0].storedSize, 500u);
  EXPECT_EQ(records[0].dataOffset, 12u);
  EXPECT_EQ(records[1].digest, testsupport::Md5Of("bee"));
}

// Each refusal names the damage, the record and the value at fault, which publish's verify
// reports to the operator.
TEST_F(PackageIndexTest, RefusesDamage) {
  const std::size_t firstRecord = index_ + 4;
  const std::size_t firstFixed = firstRecord + 2 + 2 * 12;
  const struct {
    const char* what;
    std::size_t at;
    uint32_t value, mask;
    PackageIndexFault fault;
  } cases[] = {
      {"index beyond the end", 8, 1u << 30, 0x3E7A19C5, {Kind::kIndexPastEnd, 0, 1 << 30}},
      {"count the index cannot hold", index_, 1000, 0x71D04B2E, {Kind::kCountTooLarge, 0, 1000}},
      {"count of four billion", index_, 0xFFFFFFFF, 0x71D04B2E, {Kind::kCountTooLarge, 0, 0xFFFFFFFF}},
      {"data beyond the end", firstFixed + 24, 1u << 30, 0x19A8C65B, {Kind::kStoredPastEnd, 0, 0}},
      {"stored size beyond the end", firstFixed + 20, 0x7FFFFFFF, 0x4F6B07D1, {Kind::kStoredPastEnd, 0, 0}},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> saved = package_;
    Mask(c.at, c.value, c.mask);
    std::vector<PackageRecord> records;
    PackageIndexFault fault;
    EXPECT_FALSE(Read(&records, &fault)) << c.what;
    EXPECT_EQ(fault.kind, c.fault.kind) << c.what;
    EXPECT_EQ(fault.record, c.fault.record) << c.what;
    EXPECT_EQ(fault.value, c.fault.value) << c.what;
    EXPECT_FALSE(Read(&records)) << c.what << ", without a fault to fill";
    package_ = saved;
  }
  const std::vector<uint8_t> saved = package_;
  for (uint16_t length : {uint16_t{260}, uint16_t{0x8000}}) {
    package_[firstRecord] = static_cast<uint8_t>(length & 0xFF);
    package_[firstRecord + 1] = static_cast<uint8_t>(length >> 8);
    std::vector<PackageRecord> records;
    PackageIndexFault fault;
    EXPECT_FALSE(Read(&records, &fault)) << "name length " << length;
    EXPECT_EQ(fault.kind, Kind::kNameLength) << "name length " << length;
    EXPECT_EQ(fault.value, static_cast<int16_t>(length)) << "name length " << length;
    package_ = saved;
  }
  package_.resize(package_.size() - 1);
  std::vector<PackageRecord> records;
  PackageIndexFault fault;
  EXPECT_FALSE(Read(&records, &fault)) << "short read in the last record";
  EXPECT_EQ(fault.kind, Kind::kRecordPastEnd);
  EXPECT_EQ(fault.record, 1u);
}

// A source whose reads fail inside its size: a disk error, not a damaged package.
class FailingSource final : public PackageSource {
 public:
  FailingSource(const std::vector<uint8_t>& bytes, int goodReads)
      : memory_(bytes.data(), bytes.size()), goodReads_(goodReads) {}
  uint64_t size() const override { return memory_.size(); }
  bool ReadAt(uint64_t offset, void* out, std::size_t count) override {
    return goodReads_-- > 0 && memory_.ReadAt(offset, out, count);
  }

 private:
  MemoryPackageSource memory_;
  int goodReads_;
};

TEST_F(PackageIndexTest, ReadsThatFailAreNoDamage) {
  // The header, the count, then per record its length and the rest: every read in turn fails.
  for (int goodReads = 1; goodReads <= 5; ++goodReads) {
    FailingSource source(package_, goodReads);
    PackageHeader header;
    ASSERT_TRUE(ReadPackageHeader(source, &header));
    std::vector<PackageRecord> records;
    PackageIndexFault fault;
    EXPECT_FALSE(ReadPackageIndex(source, header, &records, &fault)) << goodReads;
    EXPECT_EQ(fault.kind, Kind::kUnreadable) << goodReads;
  }
  FailingSource source(package_, 6);
  PackageHeader header;
  ASSERT_TRUE(ReadPackageHeader(source, &header));
  std::vector<PackageRecord> records;
  EXPECT_TRUE(ReadPackageIndex(source, header, &records)) << "two records take the header, the count and four reads";
}

}  // namespace
