#include "server/body_reader.h"

#include <gtest/gtest.h>

#include <numeric>

namespace torvane::server {
namespace {

// A source over a byte string that hands out at most `piece` bytes per read.
struct Source {
  std::vector<uint8_t> bytes;
  size_t pos = 0, piece = 1 << 20;
  std::vector<size_t> asked;
  BodyReader::Source fn() {
    return [this](uint8_t* out, size_t max) {
      asked.push_back(max);
      size_t n = std::min({max, piece, bytes.size() - pos});
      std::copy(bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos + n), out);
      pos += n;
      return n;
    };
  }
};

std::vector<uint8_t> Sequence(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7);
  return v;
}

TEST(BodyReader, SmallReadsComeFromOneBufferFill) {
  Source src{Sequence(10000)};
  BodyReader body(10000, src.fn(), 4096);
  std::vector<uint8_t> out;
  for (int i = 0; i < 4; ++i) body.Read(1024, out);
  EXPECT_EQ(src.asked.size(), 1u);  // four 1024-byte reads, one source read
  body.Read(100000, out);
  EXPECT_EQ(out, src.bytes);
  EXPECT_EQ(body.Remaining(), 0);
  std::vector<uint8_t> more;
  body.Read(10, more);
  EXPECT_TRUE(more.empty());
}

TEST(BodyReader, ReadsNeverTakeMoreThanTheDeclaredLength) {
  Source src{Sequence(100)};  // the connection holds a pipelined request after the body
  BodyReader body(60, src.fn(), 4096);
  std::vector<uint8_t> out;
  body.Read(1000, out);
  EXPECT_EQ(out.size(), 60u);
  EXPECT_EQ(src.pos, 60u);
}

TEST(BodyReader, LargeReadsGoStraightToTheCaller) {
  Source src{Sequence(1 << 20)};
  BodyReader body(1 << 20, src.fn(), 4096);
  std::vector<uint8_t> out;
  body.Read(1 << 20, out);
  EXPECT_EQ(out, src.bytes);
  EXPECT_EQ(src.asked.front(), static_cast<size_t>(1 << 20));
}

TEST(BodyReader, ALargeReadServedInShortPiecesStillGoesStraightThrough) {
  // The socket gives 3000 bytes at a time: after the first piece the rest of a
  // 64 KiB read is smaller than the buffer, yet each source read still asks
  // for exactly what the read lacks (into the caller's storage), never for a
  // buffer fill that would be copied again.
  Source src{Sequence(200000)};
  src.piece = 3000;
  BodyReader body(200000, src.fn(), 65536);
  std::vector<uint8_t> out;
  body.Read(65536, out);
  ASSERT_EQ(out.size(), 65536u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), src.bytes.begin()));
  size_t left = 65536;
  for (size_t asked : src.asked) {
    EXPECT_EQ(asked, left);
    left -= std::min<size_t>(asked, 3000);
  }
  EXPECT_EQ(left, 0u);
}

TEST(BodyReader, PiecemealSourcesAndEarlyEnd) {
  Source src{Sequence(50)};
  src.piece = 7;
  BodyReader body(80, src.fn(), 16);
  std::vector<uint8_t> out;
  body.Read(80, out);
  EXPECT_EQ(out, src.bytes);
  EXPECT_TRUE(body.Truncated());
}

TEST(BodyReader, DrainDropsTheRestWithinItsLimit) {
  Source src{Sequence(1000)};
  BodyReader body(1000, src.fn(), 64);
  std::vector<uint8_t> out;
  body.Read(10, out);
  EXPECT_FALSE(body.Drain(100));
  EXPECT_TRUE(body.Drain(10000));
  EXPECT_EQ(src.pos, 1000u);
}

TEST(BodyReader, TheContinueHookRunsOnceBeforeTheFirstRead) {
  Source src{Sequence(10)};
  int calls = 0;
  BodyReader body(10, src.fn(), 4, [&] { ++calls; });
  EXPECT_TRUE(body.AwaitingContinue());
  EXPECT_EQ(calls, 0);
  std::vector<uint8_t> out;
  body.Read(3, out);
  body.Read(7, out);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(body.AwaitingContinue());
}

}  // namespace
}  // namespace torvane::server

namespace torvane::server {
namespace {

// A client announces far more than it sends: the read keeps only what came.
TEST(BodyReader, StorageGrowsWithTheBytesReceivedNotTheAnnouncedLength) {
  Source src{Sequence(100)};
  src.piece = 10;
  BodyReader body(int64_t{1} << 40, src.fn(), 4096);  // announced 1 TiB
  std::vector<uint8_t> out;
  body.Read(body.Remaining(), out);
  EXPECT_EQ(out, src.bytes);
  EXPECT_LE(out.capacity(), size_t{2} << 20);
  EXPECT_TRUE(body.Truncated());
  EXPECT_EQ(body.Unpulled(), 0);
}

TEST(BodyReader, ALargeReadFromManySmallPiecesKeepsEveryByte) {
  Source src{Sequence(3 << 20)};
  src.piece = 1000;
  BodyReader body(3 << 20, src.fn(), 4096);
  std::vector<uint8_t> out{1, 2, 3};
  body.Read(3 << 20, out);
  ASSERT_EQ(out.size(), (3u << 20) + 3);
  EXPECT_EQ(out[0], 1);
  EXPECT_TRUE(std::equal(src.bytes.begin(), src.bytes.end(), out.begin() + 3));
}

TEST(BodyReader, UnpulledCountsWhatTheSourceHasNotGivenYet) {
  Source src{Sequence(1000)};
  BodyReader body(1000, src.fn(), 64);
  EXPECT_EQ(body.Unpulled(), 1000);
  std::vector<uint8_t> out;
  body.Read(10, out);
  EXPECT_EQ(body.Unpulled(), 1000 - 64);  // one buffer fill was taken
  EXPECT_EQ(body.Remaining(), 990);
}

}  // namespace
}  // namespace torvane::server
