#include "util/blake2b.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ferret {
namespace {

constexpr std::uint64_t kIv[8] = {
    0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
    0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL, 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL};

constexpr unsigned char kSigma[12][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
    {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4},
    {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
    {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13},
    {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
    {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11},
    {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
    {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5},
    {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
};

constexpr std::uint64_t Rotr(std::uint64_t x, int n) {
    return (x >> n) | (x << (64 - n));
}

std::uint64_t LoadLittle(const unsigned char* bytes) {
    std::uint64_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        value = __builtin_bswap64(value);
    }
    return value;
}

inline void Mix(std::uint64_t* v, int a, int b, int c, int d, std::uint64_t x, std::uint64_t y) {
    v[a] = v[a] + v[b] + x;
    v[d] = Rotr(v[d] ^ v[a], 32);
    v[c] = v[c] + v[d];
    v[b] = Rotr(v[b] ^ v[c], 24);
    v[a] = v[a] + v[b] + y;
    v[d] = Rotr(v[d] ^ v[a], 16);
    v[c] = v[c] + v[d];
    v[b] = Rotr(v[b] ^ v[c], 63);
}

}  // namespace

Blake2b::Blake2b(std::size_t digest_length)
    : digest_length_(std::clamp<std::size_t>(digest_length, 1, 64)) {
    std::copy(std::begin(kIv), std::end(kIv), h_.begin());
    h_[0] ^= 0x01010000ULL ^ digest_length_;
}

void Blake2b::Compress(const unsigned char* block, bool last) {
    std::uint64_t m[16];
    for (int i = 0; i < 16; ++i) {
        m[i] = LoadLittle(block + 8 * i);
    }
    std::uint64_t v[16];
    std::copy(h_.begin(), h_.end(), v);
    std::copy(std::begin(kIv), std::end(kIv), v + 8);
    v[12] ^= counted_low_;
    v[13] ^= counted_high_;
    if (last) {
        v[14] = ~v[14];
    }
    // Unrolled, the message words each round takes are fixed: the compiler keeps them in
    // registers.
#pragma GCC unroll 12
    for (const auto& s : kSigma) {
        Mix(v, 0, 4, 8, 12, m[s[0]], m[s[1]]);
        Mix(v, 1, 5, 9, 13, m[s[2]], m[s[3]]);
        Mix(v, 2, 6, 10, 14, m[s[4]], m[s[5]]);
        Mix(v, 3, 7, 11, 15, m[s[6]], m[s[7]]);
        Mix(v, 0, 5, 10, 15, m[s[8]], m[s[9]]);
        Mix(v, 1, 6, 11, 12, m[s[10]], m[s[11]]);
        Mix(v, 2, 7, 8, 13, m[s[12]], m[s[13]]);
        Mix(v, 3, 4, 9, 14, m[s[14]], m[s[15]]);
    }
    for (int i = 0; i < 8; ++i) {
        h_[static_cast<std::size_t>(i)] ^= v[i] ^ v[i + 8];
    }
}

void Blake2b::Add(std::string_view bytes) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    // The last block is compressed only in Digest, as the last: a full buffer waits for more.
    while (left > 0) {
        if (buffered_ == buffer_.size()) {
            counted_low_ += buffer_.size();
            counted_high_ += counted_low_ < buffer_.size() ? 1 : 0;
            Compress(buffer_.data(), false);
            buffered_ = 0;
        }
        if (buffered_ == 0) {
            // Whole blocks straight from the input, all but one that may be the last.
            while (left > buffer_.size()) {
                counted_low_ += buffer_.size();
                counted_high_ += counted_low_ < buffer_.size() ? 1 : 0;
                Compress(in, false);
                in += buffer_.size();
                left -= buffer_.size();
            }
        }
        const std::size_t take = std::min(left, buffer_.size() - buffered_);
        std::memcpy(buffer_.data() + buffered_, in, take);
        buffered_ += take;
        in += take;
        left -= take;
    }
}

std::string Blake2b::Digest() {
    counted_low_ += buffered_;
    counted_high_ += counted_low_ < buffered_ ? 1 : 0;
    std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(buffered_), buffer_.end(), 0);
    Compress(buffer_.data(), true);
    std::string digest(digest_length_, '\0');
    for (std::size_t i = 0; i < digest_length_; ++i) {
        digest[i] = static_cast<char>(h_[i / 8] >> (8 * (i % 8)));
    }
    return digest;
}

}  // namespace ferret
