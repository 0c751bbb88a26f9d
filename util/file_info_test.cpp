#include "util/file_info.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QMimeDatabase>
#include <cstdint>
#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

// ---- A hand-made Windows executable with a version resource. ----

void Put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    Put16(out, static_cast<std::uint16_t>(value >> 16));
}

void Set32(std::string& out, std::size_t at, std::uint32_t value) {
    std::string bytes;
    Put32(bytes, value);
    out.replace(at, 4, bytes);
}

void Pad4(std::string& out) {
    while (out.size() % 4 != 0) {
        out.push_back('\0');
    }
}

std::string Utf16z(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        Put16(out, c);
    }
    Put16(out, 0);
    return out;
}

// One block of the version record: length, value length, type, key, value, children.
std::string VersionBlock(std::u16string_view key, const std::string& value,
                         std::uint16_t value_length, std::uint16_t type,
                         const std::vector<std::string>& children = {}) {
    std::string out(6, '\0');
    out += Utf16z(key);
    Pad4(out);
    out += value;
    for (const std::string& child : children) {
        Pad4(out);
        out += child;
    }
    std::string head;
    Put16(head, static_cast<std::uint16_t>(out.size()));
    Put16(head, value_length);
    Put16(head, type);
    out.replace(0, 6, head);
    return out;
}

std::string StringEntry(std::u16string_view name, std::u16string_view text) {
    return VersionBlock(name, Utf16z(text), static_cast<std::uint16_t>(text.size() + 1), 1);
}

struct VersionParts {
    std::uint32_t file_os = 0x40004;
    std::uint16_t language = 0x0409;
    std::uint16_t code_page = 0x04B0;
    bool with_translation = true;
    // Each table: its key and its name/text pairs.
    std::vector<std::pair<std::u16string, std::vector<std::pair<std::u16string, std::u16string>>>>
        tables = {{u"040904B0",
                   {{u"CompanyName", u"Mallo Software"},
                    {u"FileDescription", u"Ferret test tool"},
                    {u"FileVersion", u"1.2.3.4"},
                    {u"InternalName", u"ftool"},
                    {u"LegalCopyright", u"\u00A9 2004 Mallo"},
                    {u"LegalTrademarks", u"Ferret\u2122"},
                    {u"OriginalFilename", u"ftool.exe"},
                    {u"ProductName", u"Ferret"},
                    {u"ProductVersion", u"1.2"}}}};
};

std::string VersionRecord(const VersionParts& parts) {
    std::string fixed;
    for (const std::uint32_t value : {0xFEEF04BDu, 0x10000u, 0x10002u, 0x30004u, 0x10002u, 0u,
                                      0x3Fu, 0u, parts.file_os, 1u, 0u, 0u, 0u}) {
        Put32(fixed, value);
    }
    std::vector<std::string> tables;
    for (const auto& [key, strings] : parts.tables) {
        std::vector<std::string> entries;
        for (const auto& [name, text] : strings) {
            entries.push_back(StringEntry(name, text));
        }
        tables.push_back(VersionBlock(key, "", 0, 1, entries));
    }
    std::vector<std::string> children = {VersionBlock(u"StringFileInfo", "", 0, 1, tables)};
    if (parts.with_translation) {
        std::string translation;
        Put16(translation, parts.language);
        Put16(translation, parts.code_page);
        children.push_back(VersionBlock(u"VarFileInfo", "", 0, 1,
                                        {VersionBlock(u"Translation", translation, 4, 0)}));
    }
    return VersionBlock(u"VS_VERSION_INFO", fixed, 52, 0, children);
}

// A resource directory with one entry: no named entries, one numbered.
std::string Directory(std::uint32_t id, std::uint32_t target) {
    std::string out(14, '\0');
    Put16(out, 1);
    Put32(out, id);
    Put32(out, target);
    return out;
}

constexpr std::uint32_t kResourceRva = 0x1000;
constexpr std::size_t kResourceOffset = 0x200;
constexpr std::uint32_t kVersionAt = 0x58;  // within the resource section

// A PE32 (or PE32+) image whose only section holds the resource tree with `record`.
std::string PeImage(const std::string& record, bool pe32_plus = false) {
    std::string rsrc;
    rsrc += Directory(16, 0x80000000u | 0x18) + Directory(1, 0x80000000u | 0x30) +
            Directory(0x0409, 0x48);
    for (const std::uint32_t value :
         {kResourceRva + kVersionAt, static_cast<std::uint32_t>(record.size()), 0u, 0u}) {
        Put32(rsrc, value);
    }
    rsrc += record;

    std::string image(0x40, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    Set32(image, 0x3C, 0x40);
    image += std::string("PE\0\0", 4);
    const std::uint16_t optional_size = pe32_plus ? 0xF0 : 0xE0;
    Put16(image, pe32_plus ? 0x8664 : 0x14C);
    Put16(image, 1);  // sections
    image += std::string(12, '\0');
    Put16(image, optional_size);
    Put16(image, 0x0102);
    std::string optional(optional_size, '\0');
    optional[0] = static_cast<char>(0x0B);
    optional[1] = static_cast<char>(pe32_plus ? 0x02 : 0x01);
    const std::size_t count_at = pe32_plus ? 108 : 92;
    Set32(optional, count_at, 16);
    Set32(optional, count_at + 4 + 2 * 8, kResourceRva);
    Set32(optional, count_at + 4 + 2 * 8 + 4, static_cast<std::uint32_t>(rsrc.size()));
    image += optional;
    image += std::string(".rsrc\0\0\0", 8);
    for (const std::uint32_t value :
         {static_cast<std::uint32_t>(rsrc.size()), kResourceRva,
          static_cast<std::uint32_t>(rsrc.size()), static_cast<std::uint32_t>(kResourceOffset), 0u,
          0u, 0u, 0x40000040u}) {
        Put32(image, value);
    }
    image.resize(kResourceOffset, '\0');
    return image + rsrc;
}

// Files in a temporary folder.
class FileInfoTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& content) {
        dir_.WriteFile(name, content);
        return dir_.Path(name);
    }

    testing::TempDir dir_;
};

TEST(FileInfoHelpers, LanguagesFallBackToThePrimaryLanguage) {
    const struct {
        std::uint16_t langid;
        const char* name;
    } cases[] = {
        {0x0409, "English (United States)"}, {0x0809, "English (United Kingdom)"},
        {0x0407, "German (Germany)"},        {0x3C09, "English"},  // sublanguage not listed
        {0x0000, "Language Neutral"},        {0x007F, "Unknown language"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileInfo::LanguageName(c.langid), c.name) << std::hex << c.langid;
    }
}

TEST_F(FileInfoTest, NamesFolderAndSizes) {
    dir_.MakeDir("sub dir");
    const std::string path = Write("sub dir/report.final.TXT", std::string(1023, 'x'));
    FileInfo info;
    ASSERT_TRUE(info.SetFilePath(path));
    EXPECT_EQ(info.FilePath(), path);
    EXPECT_EQ(info.Name(), "report.final.TXT");
    EXPECT_EQ(info.Location(), dir_.Path("sub dir") + "/");
    EXPECT_EQ(info.Extension(), "TXT");
    EXPECT_EQ(info.Size(), 1023u);
    EXPECT_EQ(info.SizeText(), "1,023 bytes");
    dir_.WriteSizedFile("big.bin", 5000000);
    ASSERT_TRUE(info.SetFilePath(dir_.Path("big.bin")));
    EXPECT_EQ(info.SizeText(), "4.77 MB");
}

TEST_F(FileInfoTest, TypeNames) {
    const struct {
        const char* name;
        const char* type;
    } fallbacks[] = {
        {"data.xyz", "XYZ File"},
        {"noextension", "File"},
        {"trailing.", "File"},
        {"d\xC3\xA4t.\xC3\xBCnkn\xC3\xB6wn", "\xC3\x9CNKN\xC3\x96WN File"},
    };
    for (const auto& c : fallbacks) {
        FileInfo info;
        ASSERT_TRUE(info.SetFilePath(Write(c.name, "?")));
        EXPECT_EQ(info.Type(), c.type) << c.name;
    }
    // Answers are remembered per name ending; names that only a special pattern recognises
    // must still get their own type, whatever was looked up before.
    const char* names[] = {"notes.txt", "CMakeLists.txt", "README.md", "README",   "Makefile",
                           "x.tar.gz",  "x.TAR.GZ",       "libz.so.1", "backup~",  "x.C",
                           "x.c",       "core",           "a.b.txt",   "photo.JPG"};
    const QMimeDatabase database;
    for (int round = 0; round < 2; ++round) {
        for (const char* name : names) {
            FileInfo info;
            ASSERT_TRUE(info.SetFilePath(Write(name, "")));
            const QMimeType mime =
                database.mimeTypeForFile(QString::fromUtf8(name), QMimeDatabase::MatchExtension);
            ASSERT_FALSE(mime.isDefault()) << name;
            EXPECT_EQ(info.Type(), mime.comment().toStdString()) << name;
            EXPECT_EQ(info.IconName(), mime.iconName().toStdString()) << name;
        }
    }
}

TEST_F(FileInfoTest, TimesAreLongDateAndLongTimeInLocalTime) {
    const std::string path = Write("dated.txt", "x");
    const QDateTime modified(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::LocalTime);
    const QDateTime accessed(QDate(2024, 12, 25), QTime(17, 0, 59), Qt::LocalTime);
    dir_.SetTimes("dated.txt", static_cast<std::time_t>(modified.toSecsSinceEpoch()),
                  static_cast<std::time_t>(accessed.toSecsSinceEpoch()));
    FileInfo info;
    ASSERT_TRUE(info.SetFilePath(path));
    EXPECT_EQ(info.ModifiedText(), "Thursday, March 4, 2021 5:06:07 AM");
    EXPECT_EQ(info.AccessedText(), "Wednesday, December 25, 2024 5:00:59 PM");
    EXPECT_NE(info.CreatedText().find(", 20"), std::string::npos) << info.CreatedText();
}

TEST_F(FileInfoTest, AttributesOfFiles) {
    const struct {
        const char* name;
        mode_t mode;
        bool hidden;
        bool read_only;
    } cases[] = {
        {"plain.txt", 0644, false, false},
        {".hidden", 0644, true, false},
        {"others-may-write.txt", 0466, false, true},
        {".both", 0400, true, true},
    };
    for (const auto& c : cases) {
        const std::string path = Write(c.name, "x");
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        FileInfo info;
        ASSERT_TRUE(info.SetFilePath(path)) << c.name;
        EXPECT_EQ(info.Hidden(), c.hidden) << c.name;
        EXPECT_EQ(info.ReadOnly(), c.read_only) << c.name;
        if (!info.Compressed()) {
            EXPECT_EQ(info.CompressedSize(), 0u);
            EXPECT_EQ(info.CompressedSizeText(), "Not Compressed");
        }
    }
}

TEST_F(FileInfoTest, MissingFileKeepsThePreviousInformation) {
    const std::string path = Write("kept.txt", std::string(1500, 'k'));
    FileInfo info;
    ASSERT_TRUE(info.SetFilePath(path));
    const std::string type = info.Type();
    const std::string missing = dir_.Path("gone.txt");

    EXPECT_FALSE(info.SetFilePath(missing));
    EXPECT_FALSE(info.SetFilePath(dir_.path())) << "a folder is no file";
    const UserMessage box = FileInfo::NotFoundMessage(missing);
    EXPECT_EQ(box.text, missing + "\n\nThis file does not exist.  Can not get it's information.");
    EXPECT_EQ(box.title, "  File Not Found");
    EXPECT_EQ(box.icon, MessageIcon::kWarning);
    EXPECT_EQ(info.FilePath(), path);
    EXPECT_EQ(info.SizeText(), "1.46 KB");
    EXPECT_EQ(info.Type(), type);
}

// ---- Version resources. ----

TEST_F(FileInfoTest, VersionResourceOfAWindowsExecutable) {
    for (const bool pe32_plus : {false, true}) {
        SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
        FileInfo info;
        ASSERT_TRUE(info.SetFilePath(Write("tool.exe", PeImage(VersionRecord({}), pe32_plus))));
        const struct {
            const std::string& value;
            const char* expected;
        } fields[] = {
            {info.TargetSystem(), "Win32 API on Windows NT"},
            {info.Version(), "1.2.3.4"},
            {info.Description(), "Ferret test tool"},
            {info.Copyright(), "\xC2\xA9 2004 Mallo"},
            {info.CompanyName(), "Mallo Software"},
            {info.InternalName(), "ftool"},
            {info.LegalTrademark(), "Ferret\xE2\x84\xA2"},
            {info.OriginalFileName(), "ftool.exe"},
            {info.ProductName(), "Ferret"},
            {info.ProductVersion(), "1.2"},
            {info.Language(), "English (United States)"},
        };
        for (const auto& field : fields) {
            EXPECT_EQ(field.value, field.expected);
        }
    }
}

TEST(VersionResource, TheDeclaredTranslationChoosesTheTable) {
    VersionParts parts;
    parts.language = 0x0407;
    parts.code_page = 0x04E4;
    parts.tables = {{u"040904B0", {{u"ProductName", u"English name"}}},
                    {u"040704e4", {{u"ProductName", u"Deutscher Name"}}}};
    VersionResource resource;
    ASSERT_TRUE(ReadVersionResource(PeImage(VersionRecord(parts)), resource));
    EXPECT_EQ(resource.translation, "040704E4");
    EXPECT_EQ(resource.product_name, "Deutscher Name") << "table keys match ignoring case";

    // A translation without a table of its own, or none at all: the first table.
    parts.code_page = 0x0000;
    ASSERT_TRUE(ReadVersionResource(PeImage(VersionRecord(parts)), resource));
    EXPECT_EQ(resource.product_name, "English name");
    parts.with_translation = false;
    ASSERT_TRUE(ReadVersionResource(PeImage(VersionRecord(parts)), resource));
    EXPECT_EQ(resource.product_name, "English name");
}

TEST_F(FileInfoTest, FilesWithoutAVersionResource) {
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"plain.txt", "just text\n"},
        {"short.exe", "MZ"},
        {"dos.exe", "MZ" + std::string(200, '\0')},
        {"truncated.exe", PeImage(VersionRecord({})).substr(0, 0x230)},
    };
    for (const auto& c : cases) {
        FileInfo info;
        ASSERT_TRUE(info.SetFilePath(Write(c.name, c.content))) << c.name;
        EXPECT_EQ(info.TargetSystem(), "Undefined or Unknown") << c.name;
        EXPECT_EQ(info.Version() + info.CompanyName() + info.Language(), "") << c.name;
    }
}

TEST(VersionResource, EveryTruncationFailsCleanly) {
    const std::string image = PeImage(VersionRecord({}));
    VersionResource resource;
    ASSERT_TRUE(ReadVersionResource(image, resource));
    for (std::size_t length = 0; length < image.size(); ++length) {
        EXPECT_FALSE(ReadVersionResource(std::string_view(image).substr(0, length), resource))
            << length;
    }
}

TEST(VersionResource, HostileStructuresAreRefused) {
    const std::string good = PeImage(VersionRecord({}));
    const std::size_t optional_at = 0x40 + 24;
    const std::size_t section_at = optional_at + 0xE0;
    const std::size_t rsrc = kResourceOffset;
    const struct {
        const char* what;
        std::size_t at;
        std::uint32_t value;
    } cases[] = {
        {"PE header far past the end", 0x3C, 0xFFFFFFF0u},
        {"no data directories", optional_at + 92, 2},
        {"resource directory missing", optional_at + 96 + 16, 0},
        {"65535 sections", 0x40 + 6, 0xFFFF},
        {"section raw data past the end", section_at + 20, 0x7FFFFFF0u},
        {"subdirectory pointing at itself", rsrc + 0x18 + 20, 0x80000018u},
        {"directory loop back to the root", rsrc + 0x30 + 20, 0x80000000u},
        {"leaf where a subdirectory belongs", rsrc + 20, 0x48},
        {"65535 + 65535 entries", rsrc + 12, 0xFFFFFFFFu},
        {"data entry outside every section", rsrc + 0x48, 0x7FFFFFFFu},
        {"data size 4 GiB", rsrc + 0x48 + 4, 0xFFFFFFFFu},
        {"record length 0", rsrc + kVersionAt, 0x00340000u},
        {"key without its end", rsrc + kVersionAt, 0x0034000Au},
    };
    for (const auto& c : cases) {
        std::string damaged = good;
        Set32(damaged, c.at, c.value);
        VersionResource resource;
        EXPECT_FALSE(ReadVersionResource(damaged, resource)) << c.what;
        EXPECT_EQ(resource.product_name, "") << c.what;
    }
}

TEST(VersionResource, LenientAboutValueLengthsAndReadsLittle) {
    // A string whose length counts bytes instead of characters, and one without its zero.
    std::string bytes_counted = StringEntry(u"CompanyName", u"Bytes Inc");
    Set32(bytes_counted, 0, static_cast<std::uint32_t>(bytes_counted.size()) | (20u << 16));
    const std::string unterminated =
        VersionBlock(u"ProductName", Utf16z(u"Open").substr(0, 8), 4, 1);
    const std::string table = VersionBlock(u"040904B0", "", 0, 1, {bytes_counted, unterminated});
    const std::string record = VersionBlock(u"VS_VERSION_INFO", "", 0, 0,
                                            {VersionBlock(u"StringFileInfo", "", 0, 1, {table})});
    const std::string image = PeImage(record);
    // It claims to be a terabyte: only the few pieces needed are read.
    std::uint64_t requested = 0;
    const ByteReader read = [&](std::uint64_t offset, std::size_t size, char* out) {
        requested += size;
        for (std::size_t i = 0; i < size; ++i) {
            out[i] = offset + i < image.size() ? image[offset + i] : '\0';
        }
        return true;
    };
    VersionResource resource;
    ASSERT_TRUE(ReadVersionResource(read, std::uint64_t{1} << 40, resource));
    EXPECT_FALSE(resource.has_fixed_info);
    EXPECT_EQ(resource.company_name, "Bytes Inc");
    EXPECT_EQ(resource.product_name, "Open");
    EXPECT_LT(requested, 2048u);
}

}  // namespace
}  // namespace ferret
