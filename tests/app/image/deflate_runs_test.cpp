// DeflateRuns (host/app/image/fast_deflate.h) against zlib's inflater:
// every stream inflates to its data, for the lengths and runs where the
// encoder changes course (runs of 1, 2 and 3 repeats, matches of 258 and
// what is left of a run after them, the ends of the data), for noise, and
// within its size bounds.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

#include "host/app/image/fast_deflate.h"

namespace {

// Inflates a raw deflate stream with zlib; empty with a failure when it is
// not a whole, valid stream.
std::vector<std::uint8_t> Inflate(const std::vector<std::uint8_t>& stream, std::size_t expected) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  std::vector<std::uint8_t> out(expected + 16);
  z.next_in = const_cast<std::uint8_t*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&z, Z_FINISH);
  EXPECT_EQ(result, Z_STREAM_END);
  EXPECT_EQ(z.avail_in, 0u) << "bytes after the stream's end";
  out.resize(out.size() - z.avail_out);
  inflateEnd(&z);
  return out;
}

void ExpectRoundTrip(const std::vector<std::uint8_t>& data, const char* what) {
  SCOPED_TRACE(::testing::Message() << what << ", " << data.size() << " bytes");
  std::vector<std::uint8_t> out{0xAA, 0xBB};  // a header before the stream stays
  const std::size_t size = velumbra::DeflateRuns(data.data(), data.size(), out, 2);
  ASSERT_EQ(out.size(), size + 2);
  EXPECT_EQ(out[0], 0xAA);
  EXPECT_EQ(out[1], 0xBB);
  EXPECT_LE(size, data.size() + data.size() / 8 + 8);
  const std::vector<std::uint8_t> stream(out.begin() + 2, out.end());
  EXPECT_EQ(Inflate(stream, data.size()), data);
}

TEST(DeflateRuns, InflatesToItsDataAtEveryTurnOfTheEncoder) {
  ExpectRoundTrip({}, "nothing");
  for (std::uint8_t b : {0, 127, 128, 143, 144, 255}) ExpectRoundTrip({b}, "one byte (8- and 9-bit codes)");
  // A run of r repeats after a byte, between other bytes and at the end.
  for (std::size_t r = 0; r <= 530; r += r < 12 ? 1 : r < 250 ? 23 : 1) {
    std::vector<std::uint8_t> data(r + 1, 7);
    ExpectRoundTrip(data, "a run at the end");
    for (std::uint8_t b : {9, 1, 2, 2, 3, 3, 3, 4, 4, 4, 4}) data.push_back(b);
    ExpectRoundTrip(data, "a run between other bytes");
  }
  // Long runs: whole words of eight and the bytes after the last one.
  for (std::size_t n : {8u, 15u, 16u, 17u, 1000u, 65536u, 1u << 20}) ExpectRoundTrip(std::vector<std::uint8_t>(n, 128), "one run");
}

TEST(DeflateRuns, NoiseAndStarLikeChunks) {
  std::mt19937 rng(11);
  std::vector<std::uint8_t> noise(200000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
  ExpectRoundTrip(noise, "noise");
  // Black with sparse bursts of noise, as a star frame's predicted float
  // samples are: far smaller than the data.
  std::vector<std::uint8_t> sparse(400000, 128);
  for (std::size_t at = 1000; at + 40 < sparse.size(); at += 4000)
    for (std::size_t k = 0; k < 40; ++k) sparse[at + k] = static_cast<std::uint8_t>(rng());
  ExpectRoundTrip(sparse, "sparse bursts");
  std::vector<std::uint8_t> out;
  EXPECT_LT(velumbra::DeflateRuns(sparse.data(), sparse.size(), out), sparse.size() / 50);
  // Random lengths of runs and literals of random bytes.
  for (int trial = 0; trial < 50; ++trial) {
    std::vector<std::uint8_t> data;
    while (data.size() < 20000) {
      const auto b = static_cast<std::uint8_t>(rng());
      data.insert(data.end(), 1 + rng() % (trial % 2 ? 600 : 5), b);
    }
    ExpectRoundTrip(data, "runs and literals");
  }
}

}  // namespace
