#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace ferret {

// A BLAKE2b-256 checksum of bytes given a part at a time, in lower-case hexadecimal (as
// "b2sum -l 256" prints it).
class ContentHash {
  public:
    ContentHash();
    ~ContentHash();
    ContentHash(const ContentHash&) = delete;
    ContentHash& operator=(const ContentHash&) = delete;

    void Add(std::string_view bytes);
    std::string Hex() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Two ContentHash checksums (of a file's old and new bytes, say) worked out on threads of their
// own while the bytes come, a few megabytes of each held at most: hashing costs more than
// reading and writing them.
class ChecksumPair {
  public:
    ChecksumPair();
    ~ChecksumPair();
    ChecksumPair(const ChecksumPair&) = delete;
    ChecksumPair& operator=(const ChecksumPair&) = delete;

    // More bytes for checksum `which` (0 or 1); they are copied.
    void Add(int which, std::string_view bytes);
    // Waits until every byte given is hashed; checksum `which`.
    std::string Hex(int which);

  private:
    struct Lane;
    std::unique_ptr<Lane> lanes_[2];  // the two checksums, each on a thread of its own
};

// BLAKE2b-256 of `bytes`, in lower-case hexadecimal.
std::string ContentChecksum(std::string_view bytes);

// Whether the open regular file `fd` has holes: fewer blocks on disk than its size needs.
bool HasHoles(int fd);

// Copies `length` bytes of the open file `from`, starting at `offset`, to the end of what was
// written to `to` so far at `to_offset`, in the kernel where it can (a clone or a copy on the
// device). With `keep_holes` the holes of `from` stay holes (`to` must end as long as it should:
// see EndFile). False with errno set when a read or write fails.
bool CopyFileData(int from, std::uint64_t offset, std::uint64_t length, int to,
                  std::uint64_t to_offset, bool keep_holes);

// Sets the length of the open file `fd` to `size` (after holes left at its end).
bool EndFile(int fd, std::uint64_t size);

// Writes a new file a part at a time from its start. With `keep_holes`, runs of zero bytes that
// fill whole 4 KiB blocks are left as holes, as a sparse original has them.
class NewFileWriter {
  public:
    NewFileWriter(int fd, bool keep_holes) : fd_(fd), keep_holes_(keep_holes) {}

    // False with errno set when the bytes could not be written.
    bool Write(std::string_view bytes);
    // The part of `from` at [offset, offset + length), copied.
    bool Copy(int from, std::uint64_t offset, std::uint64_t length);
    // Ends the file at what was written.
    bool Finish();

  private:
    // Writes `bytes` at written_.
    bool Put(std::string_view bytes);
    // A whole block (or the last part of one): left out when it holds only zeros.
    bool PutBlock(std::string_view block);

    const int fd_;
    const bool keep_holes_;
    std::uint64_t written_ = 0;  // bytes written or left as holes
    std::string pending_;        // the start of a block not yet complete (with keep_holes)
};

}  // namespace ferret
