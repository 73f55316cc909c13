#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/Uuid.hpp"
#include "wire/ClipboardFileMetadata.hpp"
#include "wire/ClipboardItem.hpp"
#include "wire/ClipboardMaterializationError.hpp"
#include "wire/ClipboardMaterializedFiles.hpp"
#include "wire/ClipboardUniformType.hpp"

namespace quillbridge {
namespace {

namespace fs = std::filesystem;

ClipboardRepresentation representation(std::string identifier, std::string_view data = "x") {
    return *ClipboardRepresentation::make(std::move(identifier), toBytes(data));
}

ClipboardItem fileItem(std::string filename, std::string contentType, std::string_view data) {
    return *ClipboardItem::make(
        {representation("public.utf8-plain-text", "caption"), representation(contentType, data)},
        ClipboardFileMetadata::make(std::move(filename), contentType));
}

ClipboardItem textItem(std::string_view text) {
    return *ClipboardItem::make({representation("public.utf8-plain-text", text)}, std::nullopt);
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

mode_t permissions(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::set<std::string> entries(const fs::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

// A private temporary directory per test, removed afterwards.
class ClipboardFilesTests : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "clipboard-files-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }

    fs::path base_;
};

TEST_F(ClipboardFilesTests, WritesEachFileItemIntoItsOwnOwnerOnlyDirectory) {
    auto previousMask = ::umask(0);  // the modes must not depend on the umask
    std::vector<ClipboardItem> items{fileItem("photo.png", "public.png", "PNG bytes"), textItem("no file"),
                                     fileItem("photo.png", "public.data", "other bytes")};
    auto files = ClipboardMaterializedFiles::materialize(items, base_);
    ::umask(previousMask);
    ASSERT_TRUE(files.has_value());

    EXPECT_EQ(files->directoryURL.parent_path(), base_);
    auto name = files->directoryURL.filename().string();
    ASSERT_EQ(name.size(), std::string_view("QuillbridgeClipboard-").size() + 36) << name;
    EXPECT_EQ(name.rfind("QuillbridgeClipboard-", 0), 0u);
    auto uuid = Uuid::parse(name.substr(21));
    ASSERT_TRUE(uuid.has_value());
    EXPECT_EQ(uuid->string(), name.substr(21)) << "the identifier is written upper-case";

    EXPECT_EQ(entries(base_), std::set<std::string>{name});
    EXPECT_EQ(entries(files->directoryURL), (std::set<std::string>{"item-0", "item-2"}));
    EXPECT_EQ(permissions(files->directoryURL), 0700u);
    ASSERT_EQ(files->fileURLsByItemIndex.size(), 2u);
    EXPECT_EQ(files->fileURLsByItemIndex.at(0), files->directoryURL / "item-0" / "photo.png");
    EXPECT_EQ(files->fileURLsByItemIndex.at(2), files->directoryURL / "item-2" / "photo.png");
    EXPECT_EQ(readFile(files->fileURLsByItemIndex.at(0)), "PNG bytes");
    EXPECT_EQ(readFile(files->fileURLsByItemIndex.at(2)), "other bytes");
    for (auto index : {0, 2}) {
        auto itemDirectory = files->directoryURL / ("item-" + std::to_string(index));
        EXPECT_EQ(permissions(itemDirectory), 0700u);
        EXPECT_EQ(entries(itemDirectory), std::set<std::string>{"photo.png"})
            << "no partial file is left behind";
        EXPECT_EQ(permissions(itemDirectory / "photo.png"), 0600u);
    }

    files->removeDirectory();
    EXPECT_FALSE(fs::exists(files->directoryURL));
    EXPECT_TRUE(entries(base_).empty());
    files->removeDirectory();  // already gone: silent
}

TEST_F(ClipboardFilesTests, NamesThatLookDangerousStayInsideTheirItemDirectory) {
    const std::vector<std::string> names{
        "...",   "-rf", "back\\slash", " spaced name ",         "~",
        "$HOME", "*",   ".hidden",     "\xc3\xa9t\xc3\xa9.txt", ".quillbridge-partial"};
    std::vector<ClipboardItem> items;
    for (const auto& name : names)
        items.push_back(fileItem(name, "public.data", name));
    auto files = ClipboardMaterializedFiles::materialize(items, base_);
    ASSERT_TRUE(files.has_value());
    for (std::size_t index = 0; index < names.size(); ++index) {
        SCOPED_TRACE(names[index]);
        auto itemDirectory = files->directoryURL / ("item-" + std::to_string(index));
        const auto& path = files->fileURLsByItemIndex.at(index);
        EXPECT_EQ(fs::canonical(path).parent_path(), fs::canonical(itemDirectory));
        EXPECT_EQ(entries(itemDirectory), std::set<std::string>{names[index]});
        EXPECT_EQ(readFile(path), names[index]);
    }
    // A name that would climb out never gets this far.
    for (std::string name : {"../x", "..", ".", "/etc/passwd", "a/../../x"}) {
        EXPECT_FALSE(ClipboardFileMetadata::make(name, "public.data")) << name;
    }
}

// Whether every byte sequence in the text is a whole UTF-8 character.
bool isWholeUtf8(std::string_view text) {
    for (std::size_t index = 0; index < text.size();) {
        auto lead = static_cast<unsigned char>(text[index]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || index + length > text.size())
            return false;
        for (std::size_t next = index + 1; next < index + length; ++next) {
            if ((static_cast<unsigned char>(text[next]) & 0xC0) != 0x80)
                return false;
        }
        index += length;
    }
    return true;
}

std::string repeated(std::string_view piece, std::size_t count) {
    std::string text;
    for (std::size_t index = 0; index < count; ++index)
        text += piece;
    return text;
}

TEST(ClipboardFilenameTests, LongNamesAreShortenedAtACharacterBoundaryKeepingTheirExtension) {
    const std::string e = "\xc3\xa9";            // é, 2 bytes
    const std::string cat = "\xf0\x9f\x90\x88";  // 🐈, 4 bytes
    struct Case {
        const char* name;
        std::string filename;
        std::string expected;
    };
    const Case cases[] = {
        {"255 bytes fit", repeated("a", 251) + ".txt", repeated("a", 251) + ".txt"},
        {"256 bytes lose one stem byte", repeated("a", 252) + ".txt", repeated("a", 251) + ".txt"},
        {"2-byte characters are not split", repeated(e, 200) + ".pdf", repeated(e, 125) + ".pdf"},
        {"4-byte characters are not split", "x" + repeated(cat, 100) + ".jpeg",
         "x" + repeated(cat, 62) + ".jpeg"},
        {"no extension", repeated(e, 128) + "z", repeated(e, 127)},
        {"a leading dot is no extension", "." + repeated("b", 300), "." + repeated("b", 254)},
        {"a trailing dot is no extension", repeated("c", 300) + ".", repeated("c", 255)},
        {"only the last extension counts", repeated("d", 300) + ".tar.gz", repeated("d", 252) + ".gz"},
        {"an extension that leaves no stem is cut with the rest", "n." + repeated("e", 300),
         "n." + repeated("e", 253)},
        {"the longest name the wire carries", repeated(cat, 255) + ".mov", repeated(cat, 62) + ".mov"},
    };
    for (const auto& c : cases) {
        auto shortened = ClipboardFileMetadata::shortenedFilename(c.filename, 255);
        EXPECT_EQ(shortened, c.expected) << c.name;
        EXPECT_LE(shortened.size(), 255u) << c.name;
        EXPECT_TRUE(isWholeUtf8(shortened)) << c.name;
    }
}

TEST_F(ClipboardFilesTests, ANameTooLongForLinuxIsWrittenShortened) {
    const std::string longName = repeated("\xc3\xa9", 300) + ".png";  // 604 bytes
    std::vector<ClipboardItem> items{fileItem(longName, "public.png", "PNG bytes")};
    ASSERT_EQ(items[0].fileMetadata()->suggestedFilename(), longName) << "the wire form is kept as sent";
    auto files = ClipboardMaterializedFiles::materialize(items, base_);
    ASSERT_TRUE(files.has_value());
    const auto& path = files->fileURLsByItemIndex.at(0);
    const std::string expected = repeated("\xc3\xa9", 125) + ".png";
    EXPECT_EQ(path.filename().string(), expected);
    EXPECT_EQ(entries(files->directoryURL / "item-0"), std::set<std::string>{expected});
    EXPECT_EQ(readFile(path), "PNG bytes");
}

TEST_F(ClipboardFilesTests, NothingIsCreatedForAClipboardWithoutFiles) {
    std::vector<ClipboardItem> items{textItem("a"), textItem("b")};
    EXPECT_FALSE(ClipboardMaterializedFiles::materialize(items, base_).has_value());
    EXPECT_FALSE(ClipboardMaterializedFiles::materialize({}, base_).has_value());
    EXPECT_TRUE(entries(base_).empty());
}

// While it lives, files of this process may not grow beyond a few bytes: a longer write fails with EFBIG
// (SIGXFSZ is ignored meanwhile).
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(ClipboardFilesTests, AFailedWriteRemovesEverythingAlreadyWritten) {
    // Item 0 is written; item 2 is larger than the file system lets this process write.
    std::vector<ClipboardItem> items{fileItem("first.txt", "public.data", "1"), textItem("t"),
                                     fileItem("second.txt", "public.data", "more than four bytes")};
    try {
        ScopedFileSizeLimit limit(4);
        ClipboardMaterializedFiles::materialize(items, base_);
        FAIL() << "materialised a file the file system refused";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::file_too_large);
    }
    EXPECT_TRUE(entries(base_).empty());
}

TEST_F(ClipboardFilesTests, AMissingTemporaryDirectoryIsTheFileSystemsError) {
    std::vector<ClipboardItem> items{fileItem("a.txt", "public.data", "1")};
    try {
        ClipboardMaterializedFiles::materialize(items, base_ / "missing");
        FAIL() << "materialised into a missing directory";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    }
    EXPECT_TRUE(entries(base_).empty());
}

TEST_F(ClipboardFilesTests, RemovalDoesNotFollowLinksOutOfTheDirectory) {
    auto outside = base_ / "outside.txt";
    std::ofstream(outside) << "keep me";
    std::vector<ClipboardItem> items{fileItem("a.txt", "public.data", "1")};
    auto files = ClipboardMaterializedFiles::materialize(items, base_);
    ASSERT_TRUE(files.has_value());
    fs::create_symlink(outside, files->directoryURL / "item-0" / "link");
    fs::create_directory_symlink(base_, files->directoryURL / "base-link");
    files->removeDirectory();
    EXPECT_FALSE(fs::exists(files->directoryURL));
    EXPECT_EQ(readFile(outside), "keep me");
}

TEST_F(ClipboardFilesTests, TheDefaultLocationIsTheTemporaryDirectory) {
    const char* previous = std::getenv("TMPDIR");
    std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv("TMPDIR", base_.c_str(), 1);
    std::vector<ClipboardItem> items{fileItem("a.txt", "public.data", "1")};
    auto files = ClipboardMaterializedFiles::materialize(items);
    if (saved) {
        ::setenv("TMPDIR", saved->c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
    ASSERT_TRUE(files.has_value());
    EXPECT_EQ(files->directoryURL.parent_path(), base_);
    EXPECT_EQ(permissions(files->directoryURL), 0700u);
    files->removeDirectory();
}

TEST(ClipboardMaterializationErrorTests, CorruptFileIsAnErrorCodeOfItsOwn) {
    std::error_code code = ClipboardMaterializationError::fileReadCorruptFile;
    EXPECT_EQ(code, ClipboardMaterializationError::fileReadCorruptFile);
    EXPECT_NE(code, std::errc::no_such_file_or_directory);
    EXPECT_EQ(code.message(), "The file couldn't be opened because it isn't in the correct format.");
}

// ---- item typing ---------------------------------------------------------------------------------------

TEST(ClipboardItemTypingTests, ImageItemsGetAFileNameFromTheirTypes) {
    struct Case {
        std::string name;
        std::vector<std::string> identifiers;
        std::optional<std::string> proposed;
        std::optional<std::pair<std::string, std::string>> expected;  // file name, content type
    };
    const std::string longBase(1020, 'a');
    const std::vector<Case> cases = {
        {"proposed TIFF name picks the TIFF",
         {"public.png", "public.tiff"},
         "photo.tiff",
         {{"photo.tiff", "public.tiff"}}},
        {"no name: first image, Image.png",
         {"public.png", "public.tiff"},
         std::nullopt,
         {{"Image.png", "public.png"}}},
        {"no name: first image, Image.tiff",
         {"public.tiff", "public.png"},
         std::nullopt,
         {{"Image.tiff", "public.tiff"}}},
        {"unrelated name takes the image's extension",
         {"public.png"},
         "notes.txt",
         {{"notes.png", "public.png"}}},
        {"a name with a slash is ignored", {"public.png"}, "a/b.png", {{"Image.png", "public.png"}}},
        {"an empty name is ignored", {"public.png"}, "", {{"Image.png", "public.png"}}},
        {"text only gives nothing", {"public.utf8-plain-text", "public.html"}, "notes.txt", std::nullopt},
        {"nothing at all gives nothing", {}, std::nullopt, std::nullopt},
        {"other extensions of the type are kept",
         {"public.png", "public.jpeg"},
         "photo.JPG",
         {{"photo.JPG", "public.jpeg"}}},
        {"preferred extension of JPEG", {"public.jpeg"}, std::nullopt, {{"Image.jpeg", "public.jpeg"}}},
        {"HEIC", {"public.heic"}, "IMG_0001.HEIC", {{"IMG_0001.HEIC", "public.heic"}}},
        {"image name of another image type", {"public.png"}, "scan.gif", {{"scan.png", "public.png"}}},
        {"the last extension counts", {"public.png"}, "archive.tar.gz", {{"archive.tar.png", "public.png"}}},
        {"a leading dot is no extension", {"public.png"}, ".hidden", {{".hidden.png", "public.png"}}},
        {"unknown extension", {"public.png"}, "photo.xyz", {{"photo.png", "public.png"}}},
        {"abstract and unknown image types are passed over",
         {"public.image", "com.example.image", "public.camera-raw-image", "com.compuserve.gif"},
         std::nullopt,
         {{"Image.gif", "com.compuserve.gif"}}},
        {"identifiers in another case are known",
         {"PUBLIC.PNG"},
         std::nullopt,
         {{"Image.png", "PUBLIC.PNG"}}},
        {"a name at the limit still fits",
         {"public.png"},
         longBase + ".txt",
         {{longBase + ".png", "public.png"}}},
        {"a renamed name over the limit gives nothing", {"public.png"}, longBase + "a.md", std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        std::vector<ClipboardRepresentation> representations;
        for (const auto& identifier : testCase.identifiers)
            representations.push_back(representation(identifier));
        std::optional<std::string_view> proposed;
        if (testCase.proposed)
            proposed = *testCase.proposed;
        auto metadata = ClipboardFileMetadata::inferred(representations, proposed);
        ASSERT_EQ(metadata.has_value(), testCase.expected.has_value());
        if (metadata) {
            EXPECT_EQ(metadata->suggestedFilename(), testCase.expected->first);
            EXPECT_EQ(metadata->contentTypeIdentifier(), testCase.expected->second);
        }
    }
}

TEST(ClipboardUniformTypeTests, TheTableIsConsistent) {
    std::set<std::string> identifiers;
    std::set<std::string> extensions;
    std::set<std::string> mimeTypes;
    auto item = ClipboardUniformType::item();
    for (const auto& declaration : ClipboardUniformType::declarations()) {
        SCOPED_TRACE(std::string(declaration.identifier));
        EXPECT_TRUE(identifiers.insert(std::string(declaration.identifier)).second) << "identifier twice";
        for (auto parent : declaration.conformsTo)
            EXPECT_TRUE(ClipboardUniformType::withIdentifier(parent)) << parent;
        for (auto extension : declaration.filenameExtensions) {
            EXPECT_TRUE(extensions.insert(std::string(extension)).second) << "extension twice: " << extension;
        }
        if (!declaration.mimeType.empty()) {
            EXPECT_TRUE(mimeTypes.insert(std::string(declaration.mimeType)).second) << declaration.mimeType;
        }
        auto type = ClipboardUniformType::withIdentifier(declaration.identifier);
        ASSERT_TRUE(type);
        EXPECT_TRUE(type->conforms(item));
        EXPECT_TRUE(type->conforms(*type));
        if (auto extension = type->preferredFilenameExtension()) {
            EXPECT_EQ(ClipboardUniformType::withFilenameExtension(*extension, item), type);
        }
        if (auto mime = type->preferredMimeType()) {
            EXPECT_EQ(ClipboardUniformType::withMimeType(*mime), type);
        }
    }
}

TEST(ClipboardUniformTypeTests, LooksUpAndRelatesTypes) {
    auto type = [](std::string_view identifier) { return *ClipboardUniformType::withIdentifier(identifier); };
    EXPECT_EQ(ClipboardUniformType::utf8PlainText().identifier(), "public.utf8-plain-text");
    EXPECT_EQ(ClipboardUniformType::url().identifier(), "public.url");
    EXPECT_EQ(ClipboardUniformType::fileURL().identifier(), "public.file-url");
    EXPECT_EQ(ClipboardUniformType::png().preferredMimeType(), "image/png");
    EXPECT_EQ(type("public.jpeg").filenameExtensions().size(), 3u);
    EXPECT_EQ(type("public.jpeg").preferredFilenameExtension(), "jpeg");
    EXPECT_FALSE(ClipboardUniformType::image().preferredFilenameExtension());
    EXPECT_FALSE(ClipboardUniformType::withIdentifier("com.example.unknown"));
    EXPECT_FALSE(ClipboardUniformType::withIdentifier(""));

    const std::tuple<std::string_view, std::string_view, bool> conformances[] = {
        {"public.png", "public.image", true},
        {"public.png", "public.data", true},
        {"public.png", "public.content", true},
        {"public.png", "public.text", false},
        {"public.image", "public.png", false},
        {"public.heic", "public.image", true},
        {"public.utf8-plain-text", "public.plain-text", true},
        {"public.utf8-plain-text", "public.text", true},
        {"public.html", "public.plain-text", false},
        {"public.file-url", "public.url", true},
        {"public.file-url", "public.data", true},
        {"public.url", "public.file-url", false},
        {"org.openxmlformats.wordprocessingml.document", "public.zip-archive", true},
        {"com.adobe.pdf", "public.image", false},
    };
    for (const auto& [subtype, supertype, expected] : conformances) {
        EXPECT_EQ(type(subtype).conforms(type(supertype)), expected) << subtype << " " << supertype;
    }

    auto data = ClipboardUniformType::data();
    EXPECT_EQ(ClipboardUniformType::withFilenameExtension("PNG", data), ClipboardUniformType::png());
    EXPECT_EQ(ClipboardUniformType::withFilenameExtension("tif", data), type("public.tiff"));
    EXPECT_EQ(ClipboardUniformType::withFilenameExtension("txt", data), type("public.plain-text"));
    EXPECT_FALSE(ClipboardUniformType::withFilenameExtension("txt", ClipboardUniformType::image()));
    EXPECT_FALSE(ClipboardUniformType::withFilenameExtension("", data));
    EXPECT_FALSE(ClipboardUniformType::withFilenameExtension("xyz", data));
    EXPECT_EQ(ClipboardUniformType::withMimeType("IMAGE/JPEG"), type("public.jpeg"));
    EXPECT_EQ(ClipboardUniformType::withMimeType("text/plain;charset=utf-8"),
              ClipboardUniformType::utf8PlainText());
    EXPECT_FALSE(ClipboardUniformType::withMimeType("application/x-unknown"));
}

TEST(ClipboardUniformTypeTests, FileLikePasteboardTypesAreTheTenReferenceTypes) {
    const std::set<std::string> expected{
        "NSFilenamesPboardType",
        "com.apple.alias-file",
        "com.apple.bookmark",
        "com.apple.pasteboard.promised-file-content-type",
        "com.apple.pasteboard.promised-file-name",
        "com.apple.pasteboard.promised-suggested-file-name",
        "com.apple.pasteboard.promised-file-url",
        "com.apple.NSFilePromiseItemMetaData",
        "com.apple.pasteboard.NSFilePromiseID",
        "public.file-url",
    };
    EXPECT_EQ(fileLikePasteboardTypes(), expected);
    EXPECT_TRUE(isFileLikePasteboardType("com.apple.alias-file"));
    EXPECT_FALSE(isFileLikePasteboardType("public.url"));
    EXPECT_FALSE(isFileLikePasteboardType("public.png"));
}

}  // namespace
}  // namespace quillbridge
