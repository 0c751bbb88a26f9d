#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ferret {

// BLAKE2b (RFC 7693) without a key, of a digest length from 1 to 64 bytes, over bytes given a
// part at a time. Written for speed on 64-bit machines: a file's checksum must not cost more than
// reading and writing it.
class Blake2b {
  public:
    explicit Blake2b(std::size_t digest_length);

    void Add(std::string_view bytes);
    // The digest; the hash takes no more bytes after it.
    std::string Digest();

  private:
    void Compress(const unsigned char* block, bool last);

    std::array<std::uint64_t, 8> h_{};
    std::array<unsigned char, 128> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t counted_low_ = 0;  // bytes compressed, a 128-bit count
    std::uint64_t counted_high_ = 0;
    std::size_t digest_length_;
};

}  // namespace ferret
