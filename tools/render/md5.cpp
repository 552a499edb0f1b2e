#include "tools/render/md5.h"

#include <cstring>

namespace velmora::render {
namespace {

inline uint32_t Rotl(uint32_t x, int s) {
  return (x << s) | (x >> (32 - s));
}

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
  return z ^ (x & (y ^ z));
}
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (z & (x ^ y));
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
  return x ^ y ^ z;
}
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (x | ~z);
}

// One step of a round: a = b + ((a + f(b, c, d) + word + constant) <<< s).
template <uint32_t (*f)(uint32_t, uint32_t, uint32_t)>
inline void Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t word, uint32_t constant,
                 int s) {
  a = Rotl(a + f(b, c, d) + word + constant, s) + b;
}

}  // namespace

void Md5::Blocks(const uint8_t* data, size_t blocks) {
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = Le32(data + static_cast<size_t>(i) * 4);
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    Step<F>(a, b, c, d, w[0], 0xd76aa478, 7);
    Step<F>(d, a, b, c, w[1], 0xe8c7b756, 12);
    Step<F>(c, d, a, b, w[2], 0x242070db, 17);
    Step<F>(b, c, d, a, w[3], 0xc1bdceee, 22);
    Step<F>(a, b, c, d, w[4], 0xf57c0faf, 7);
    Step<F>(d, a, b, c, w[5], 0x4787c62a, 12);
    Step<F>(c, d, a, b, w[6], 0xa8304613, 17);
    Step<F>(b, c, d, a, w[7], 0xfd469501, 22);
    Step<F>(a, b, c, d, w[8], 0x698098d8, 7);
    Step<F>(d, a, b, c, w[9], 0x8b44f7af, 12);
    Step<F>(c, d, a, b, w[10], 0xffff5bb1, 17);
    Step<F>(b, c, d, a, w[11], 0x895cd7be, 22);
    Step<F>(a, b, c, d, w[12], 0x6b901122, 7);
    Step<F>(d, a, b, c, w[13], 0xfd987193, 12);
    Step<F>(c, d, a, b, w[14], 0xa679438e, 17);
    Step<F>(b, c, d, a, w[15], 0x49b40821, 22);

    Step<G>(a, b, c, d, w[1], 0xf61e2562, 5);
    Step<G>(d, a, b, c, w[6], 0xc040b340, 9);
    Step<G>(c, d, a, b, w[11], 0x265e5a51, 14);
    Step<G>(b, c, d, a, w[0], 0xe9b6c7aa, 20);
    Step<G>(a, b, c, d, w[5], 0xd62f105d, 5);
    Step<G>(d, a, b, c, w[10], 0x02441453, 9);
    Step<G>(c, d, a, b, w[15], 0xd8a1e681, 14);
    Step<G>(b, c, d, a, w[4], 0xe7d3fbc8, 20);
    Step<G>(a, b, c, d, w[9], 0x21e1cde6, 5);
    Step<G>(d, a, b, c, w[14], 0xc33707d6, 9);
    Step<G>(c, d, a, b, w[3], 0xf4d50d87, 14);
    Step<G>(b, c, d, a, w[8], 0x455a14ed, 20);
    Step<G>(a, b, c, d, w[13], 0xa9e3e905, 5);
    Step<G>(d, a, b, c, w[2], 0xfcefa3f8, 9);
    Step<G>(c, d, a, b, w[7], 0x676f02d9, 14);
    Step<G>(b, c, d, a, w[12], 0x8d2a4c8a, 20);

    Step<H>(a, b, c, d, w[5], 0xfffa3942, 4);
    Step<H>(d, a, b, c, w[8], 0x8771f681, 11);
    Step<H>(c, d, a, b, w[11], 0x6d9d6122, 16);
    Step<H>(b, c, d, a, w[14], 0xfde5380c, 23);
    Step<H>(a, b, c, d, w[1], 0xa4beea44, 4);
    Step<H>(d, a, b, c, w[4], 0x4bdecfa9, 11);
    Step<H>(c, d, a, b, w[7], 0xf6bb4b60, 16);
    Step<H>(b, c, d, a, w[10], 0xbebfbc70, 23);
    Step<H>(a, b, c, d, w[13], 0x289b7ec6, 4);
    Step<H>(d, a, b, c, w[0], 0xeaa127fa, 11);
    Step<H>(c, d, a, b, w[3], 0xd4ef3085, 16);
    Step<H>(b, c, d, a, w[6], 0x04881d05, 23);
    Step<H>(a, b, c, d, w[9], 0xd9d4d039, 4);
    Step<H>(d, a, b, c, w[12], 0xe6db99e5, 11);
    Step<H>(c, d, a, b, w[15], 0x1fa27cf8, 16);
    Step<H>(b, c, d, a, w[2], 0xc4ac5665, 23);

    Step<I>(a, b, c, d, w[0], 0xf4292244, 6);
    Step<I>(d, a, b, c, w[7], 0x432aff97, 10);
    Step<I>(c, d, a, b, w[14], 0xab9423a7, 15);
    Step<I>(b, c, d, a, w[5], 0xfc93a039, 21);
    Step<I>(a, b, c, d, w[12], 0x655b59c3, 6);
    Step<I>(d, a, b, c, w[3], 0x8f0ccc92, 10);
    Step<I>(c, d, a, b, w[10], 0xffeff47d, 15);
    Step<I>(b, c, d, a, w[1], 0x85845dd1, 21);
    Step<I>(a, b, c, d, w[8], 0x6fa87e4f, 6);
    Step<I>(d, a, b, c, w[15], 0xfe2ce6e0, 10);
    Step<I>(c, d, a, b, w[6], 0xa3014314, 15);
    Step<I>(b, c, d, a, w[13], 0x4e0811a1, 21);
    Step<I>(a, b, c, d, w[4], 0xf7537e82, 6);
    Step<I>(d, a, b, c, w[11], 0xbd3af235, 10);
    Step<I>(c, d, a, b, w[2], 0x2ad7d2bb, 15);
    Step<I>(b, c, d, a, w[9], 0xeb86d391, 21);

    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state_ = {a, b, c, d};
}

void Md5::Update(const uint8_t* data, size_t count) {
  size_t held = static_cast<size_t>(bytes_ % 64);
  bytes_ += count;
  if (held > 0) {
    const size_t take = count < 64 - held ? count : 64 - held;
    std::memcpy(pending_.data() + held, data, take);
    data += take;
    count -= take;
    held += take;
    if (held < 64) return;
    Blocks(pending_.data(), 1);
  }
  Blocks(data, count / 64);
  std::memcpy(pending_.data(), data + count / 64 * 64, count % 64);
}

Md5::Digest Md5::Finish() {
  const uint64_t bits = bytes_ * 8;
  uint8_t tail[72] = {0x80};
  const size_t held = static_cast<size_t>(bytes_ % 64);
  const size_t pad = held < 56 ? 56 - held : 120 - held;
  for (int i = 0; i < 8; ++i) tail[pad + i] = static_cast<uint8_t>(bits >> (8 * i));
  Update(tail, pad + 8);
  Digest digest{};
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(state_[i / 4] >> (8 * (i % 4)));
  return digest;
}

}  // namespace velmora::render
