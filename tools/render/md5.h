// MD5 (RFC 1321), for the FLAC header's checksum of the samples: the encoder
// runs on the writer thread, and the checksum is taken on the producer's, so
// the two share the night's work between two cores.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velmora::render {

class Md5 {
 public:
  using Digest = std::array<uint8_t, 16>;

  void Update(const uint8_t* data, size_t count);
  // The digest of everything given; the object is spent afterwards.
  Digest Finish();

 private:
  void Blocks(const uint8_t* data, size_t blocks);

  std::array<uint32_t, 4> state_ = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
  uint64_t bytes_ = 0;
  std::array<uint8_t, 64> pending_{};  // the start of an incomplete block
};

}  // namespace velmora::render
