#include "engine/text_blocks.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "engine/legacy_forms.h"
#include "util/file_handle.h"

namespace ferret {
namespace {

std::vector<char>& ThreadStorage() {
    thread_local std::vector<char> storage;
    return storage;
}

}  // namespace

void TextBlocks::SkipLegacyWithout(const PlainMatcher& required) {
    required_ = &required;
}

TextBlocks::TextBlocks(int fd, const EncodingChoice& choice, std::size_t block)
    : fd_(fd), choice_(choice), block_(block), storage_(ThreadStorage()) {}

bool TextBlocks::ChooseEncoding(std::string_view read) {
    mark_ = DetectByteOrderMark(read);
    if (mark_ == ByteOrderMark::kNone) {
        std::string_view sample = read;
        thread_local std::vector<char> more;
        if (block_ < kEncodingSample && read.size() == block_) {
            // Small blocks (tests) find the encoding from as much as a search's first block.
            more.resize(kEncodingSample);
            const ReadResult got = ReadFullAt(fd_, more.data(), more.size(), 0);
            if (!got.failed()) {
                sample = std::string_view(more.data(), got.bytes);
            }
        }
        thread_local std::string later_storage;
        if (choice_.forced.empty() && IsAsciiWithoutNul(sample)) {
            if (only_read_) {
                // Judged when its first byte beyond ASCII is read (CheckLaterBytes): a text only
                // read needs no second read of its ASCII.
                ascii_so_far_ = true;
            } else if (const std::string_view later =
                           LaterEncodingSample(fd_, sample.size(), later_storage);
                       !later.empty()) {
                // A text written back is judged before a byte of it is written.
                sample = later;
            }
        }
        if (!ReadAsBytes(sample, choice_)) {
            std::optional<std::string> read_as =
                LegacyEncodingForHits(fd_, read, sample, only_read_ ? required_ : nullptr, choice_);
            if (!read_as) {
                return false;
            }
            legacy_ = std::move(*read_as);
        }
    }
    decoder_ = MakeDecoder(mark_, legacy_, !only_read_);
    if (!decoder_) {
        legacy_.clear();  // an encoding iconv does not know: read as it is
    }
    return true;
}

void TextBlocks::CheckLaterBytes(std::string_view read) {
    std::optional<std::string> legacy =
        LaterLegacyEncoding(fd_, read, bytes_read_ - read.size(), choice_);
    if (!legacy) {
        return;
    }
    ascii_so_far_ = false;
    if (legacy->empty()) {
        return;
    }
    // The text so far was ASCII, which reads alike in the encodings a guess gives: decoded from
    // here on.
    legacy_ = std::move(*legacy);
    decoder_ = MakeDecoder(mark_, legacy_, false);
    if (!decoder_) {
        legacy_.clear();
    }
}

bool TextBlocks::Next(std::size_t keep) {
    if (ended_) {
        return false;
    }
    const std::size_t let_go = filled_ - keep;
    offset_ += let_go;
    if (let_go > 0 && keep > 0) {
        std::memmove(storage_.data(), storage_.data() + let_go, keep);
    }
    filled_ = keep;
    if (storage_.size() < filled_ + block_) {
        storage_.resize(std::max(filled_ + block_, storage_.size() * 2));
    }
    const ReadResult got = ReadSome(fd_, storage_.data() + filled_, block_);
    if (got.failed()) {
        failed_ = true;
        return false;
    }
    new_from_ = filled_;
    if (got.bytes == 0) {
        ended_ = true;
        if (decoder_) {
            thread_local std::string tail;
            tail.clear();
            decoder_->Finish(tail);
            Put(tail);
        }
        return filled_ > 0;
    }
    std::string_view read(storage_.data() + filled_, got.bytes);
    bytes_read_ += got.bytes;
    if (on_read_) {
        on_read_(read);
    }
    if (ascii_so_far_ && !first_) {
        CheckLaterBytes(read);
    }
    if (first_) {
        first_ = false;
        if (!ChooseEncoding(read)) {
            ended_ = true;
            return false;
        }
        if (mark_ == ByteOrderMark::kUtf8) {
            read.remove_prefix(3);
            std::memmove(storage_.data() + filled_, read.data(), read.size());
        } else {
            read.remove_prefix(MarkLength(mark_));
        }
    }
    if (!decoder_) {
        filled_ += read.size();
        return true;
    }
    // Decoded beside, then put where the bytes were read.
    thread_local std::string decoded;
    decoded.clear();
    decoder_->Decode(read, decoded);
    Put(decoded);
    return true;
}

void TextBlocks::Put(std::string_view text) {
    if (storage_.size() < filled_ + text.size()) {
        storage_.resize(std::max(filled_ + text.size(), storage_.size() * 2));
    }
    std::memcpy(storage_.data() + filled_, text.data(), text.size());
    filled_ += text.size();
}

std::size_t CompleteLines(const TextBlocks& blocks) {
    const std::string_view text = blocks.text();
    if (blocks.at_end()) {
        return text.size();
    }
    const std::size_t from = blocks.new_from();
    const void* last = memrchr(text.data() + from, '\n', text.size() - from);
    return last == nullptr
               ? 0
               : static_cast<std::size_t>(static_cast<const char*>(last) - text.data()) + 1;
}

LineSpan LineAround(std::string_view text, std::size_t at) {
    const void* before = memrchr(text.data(), '\n', at);
    const void* after = std::memchr(text.data() + at, '\n', text.size() - at);
    return {before == nullptr
                ? 0
                : static_cast<std::size_t>(static_cast<const char*>(before) - text.data()) + 1,
            after == nullptr
                ? text.size()
                : static_cast<std::size_t>(static_cast<const char*>(after) - text.data())};
}

std::size_t WholeCharactersEnd(std::string_view text) {
    const std::size_t size = text.size();
    for (std::size_t back = 1; back <= std::min<std::size_t>(4, size); ++back) {
        const auto byte = static_cast<unsigned char>(text[size - back]);
        if ((byte & 0xC0) == 0x80) {
            continue;
        }
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? size - back : size;
    }
    return size;
}

Status ForEachWindow(TextBlocks& blocks, std::size_t look_behind, std::uint64_t longest,
                     const WindowStep& step, const std::function<void(std::string_view)>& passed) {
    std::size_t from = 0;    // where matching resumes, in text()
    std::size_t handed = 0;  // how much of text() went to `passed`
    for (;;) {
        const std::string_view text = blocks.text();
        const bool at_end = blocks.at_end();
        const std::size_t end = at_end ? text.size() : WholeCharactersEnd(text);
        std::size_t resume = end;
        if (Status status = step(text.substr(0, end), from, blocks.offset() == 0, at_end, resume);
            !status.ok()) {
            return status;
        }
        if (at_end) {
            if (passed && handed < text.size()) {
                passed(text.substr(handed));
            }
            return {};
        }
        if (end - resume > longest) {
            return Status::Error(kMatchTooLong,
                                 "a match runs on past " + std::to_string(longest >> 20) +
                                     " MB, the longest one followed; the file was left out");
        }
        // The next window holds a little of the text before `resume`, from a character's start.
        std::size_t keep_from = resume > look_behind ? resume - look_behind : 0;
        while (keep_from < resume && (static_cast<unsigned char>(text[keep_from]) & 0xC0) == 0x80) {
            ++keep_from;
        }
        if (passed && keep_from > handed) {
            passed(text.substr(handed, keep_from - handed));
        }
        handed = std::max(handed, keep_from) - keep_from;
        from = resume - keep_from;
        if (!blocks.Next(text.size() - keep_from)) {
            return blocks.failed() ? Status::Error(EIO, "the file cannot be read") : Status();
        }
    }
}

}  // namespace ferret
