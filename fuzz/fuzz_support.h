#pragma once

// Helpers shared by the fuzz targets: a private temporary folder that stands in for the home,
// configuration and data folders, small file helpers and a check that aborts with a message, so
// libFuzzer keeps the input that broke a property.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "util/text_fold.h"

namespace ferret::fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* condition,
                              const std::string& detail) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n%s\n", file, line, condition, detail.c_str());
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                                       \
    do {                                                                    \
        if (!(condition)) {                                                 \
            ::ferret::fuzz::Fail(__FILE__, __LINE__, #condition, (detail)); \
        }                                                                   \
    } while (0)

// The bytes of `text` with the unprintable ones escaped, for failure messages.
// Whether `text` is UTF-8 throughout: the decoder gives a lone byte of a broken sequence as
// U+DC80..U+DCFF.
inline bool IsValidUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        const char32_t c = DecodeUtf8(text, pos);
        if (c >= 0xDC00 && c <= 0xDCFF && pos == start + 1 &&
            static_cast<unsigned char>(text[start]) >= 0x80) {
            return false;
        }
    }
    return true;
}

inline std::string Printable(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
            out.push_back(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    return out + "\"";
}

// The folder everything of one fuzz process lives in, made on first use under $TMPDIR (or
// /tmp) and removed when the process exits normally. HOME, the XDG folders and FERRET_HOME point
// into it, so nothing the code under test writes can reach the user's own files.
inline const std::string& TempRoot() {
    // Never destroyed, so the exit handler below can still read it.
    static const std::string& root = *new std::string([] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ferret-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        for (const char* sub : {"/home", "/config", "/data", "/cache", "/ferret"}) {
            std::filesystem::create_directories(pattern + sub);
        }
        setenv("HOME", (pattern + "/home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (pattern + "/config").c_str(), 1);
        setenv("XDG_DATA_HOME", (pattern + "/data").c_str(), 1);
        setenv("XDG_CACHE_HOME", (pattern + "/cache").c_str(), 1);
        setenv("FERRET_HOME", (pattern + "/ferret").c_str(), 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(TempRoot(), ignored);
        });
        return pattern;
    }());
    return root;
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    while (!bytes.empty()) {
        const ssize_t done = write(fd, bytes.data(), bytes.size());
        if (done <= 0) {
            std::perror(path.c_str());
            std::abort();
        }
        bytes.remove_prefix(static_cast<std::size_t>(done));
    }
    close(fd);
}

// The file's bytes; `exists` tells whether it could be opened.
inline std::string ReadFile(const std::string& path, bool* exists = nullptr) {
    std::string bytes;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (exists != nullptr) {
        *exists = fd >= 0;
    }
    if (fd < 0) {
        return bytes;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return bytes;
}

}  // namespace ferret::fuzz
