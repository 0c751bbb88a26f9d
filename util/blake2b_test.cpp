#include "util/blake2b.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <random>
#include <string>

namespace ferret {
namespace {

std::string Hex(const std::string& bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toHex().toStdString();
}

// The published values, and Qt's BLAKE2b-256 for texts of every length around the block size,
// given in pieces of any size.
TEST(Blake2b, AgreesWithTheStandardAndWithQt) {
    Blake2b empty(32);
    EXPECT_EQ(Hex(empty.Digest()),
              "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8");
    Blake2b abc(32);
    abc.Add("abc");
    EXPECT_EQ(Hex(abc.Digest()),
              "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319");
    std::mt19937 random(3);
    for (std::size_t size = 0; size < 700; size += 1 + random() % 9) {
        std::string text(size, '\0');
        for (char& c : text) {
            c = static_cast<char>(random());
        }
        Blake2b hash(32);
        for (std::size_t at = 0; at < size;) {
            const std::size_t piece = std::min<std::size_t>(size - at, random() % 300);
            hash.Add(std::string_view(text).substr(at, piece));
            at += piece;
        }
        const QByteArray qt =
            QCryptographicHash::hash(QByteArrayView(text.data(), static_cast<qsizetype>(size)),
                                     QCryptographicHash::Blake2b_256);
        ASSERT_EQ(hash.Digest(), qt.toStdString()) << size;
    }
}

}  // namespace
}  // namespace ferret
