#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ferret::testing {

// The translated messages of a gettext catalogue (.mo, its texts UTF-8), the header left out, a
// plural form's texts on lines of their own. None when it cannot be read.
inline std::vector<std::string> CatalogueMessages(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<std::string> messages;
    const auto word = [&](std::size_t at) {
        std::uint32_t value = 0;
        std::memcpy(&value, data.data() + at, 4);
        return value;
    };
    if (data.size() < 28 || word(0) != 0x950412de) {
        return messages;  // not a little-endian catalogue
    }
    const std::uint32_t count = word(8);
    const std::uint32_t table = word(16);
    for (std::uint32_t i = 1; i < count && std::uint64_t{table} + 8 * i + 8 <= data.size(); ++i) {
        const std::uint32_t length = word(table + 8 * i);
        const std::uint32_t offset = word(table + 8 * i + 4);
        if (std::uint64_t{offset} + length <= data.size()) {
            std::string message = data.substr(offset, length);
            for (char& c : message) {
                if (c == '\0') {
                    c = '\n';  // plural forms
                }
            }
            messages.push_back(std::move(message));
        }
    }
    return messages;
}

}  // namespace ferret::testing
