#include "input/RemoteClipboardController.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <string>

#include <gtest/gtest.h>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/strand.hpp>
#include <asio/use_future.hpp>

#include "input/ClipboardURL.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/input/FakeDesktopClipboard.hpp"
#include "wire/ClipboardLimits.hpp"

namespace quillbridge {
namespace {

using CaptureKind = RemoteClipboardCaptureResult::Kind;
using FileKind = RemoteClipboardFileCaptureResult::Kind;
using Entry = FakeDesktopClipboard::Entry;
using Item = FakeDesktopClipboard::Item;

constexpr const char* stringType = "public.utf8-plain-text";
constexpr const char* urlType = "public.url";
constexpr const char* fileURLType = "public.file-url";
constexpr const char* pngType = "public.png";
constexpr const char* htmlType = "public.html";
constexpr std::size_t mebibyte = 1 << 20;

Bytes filled(std::size_t size, std::uint8_t value = 0x5A) {
    return Bytes(size, value);
}

// Types files by a fixed table of file names, as a desktop's MIME database would by content.
class TableTypeDetector final : public FileContentTypeDetector {
public:
    std::map<std::string, std::string> typesByFilename;
    std::optional<std::string> contentTypeIdentifier(const std::filesystem::path& path,
                                                     ByteView) const override {
        auto found = typesByFilename.find(path.filename().string());
        if (found == typesByFilename.end())
            return std::nullopt;
        return found->second;
    }
};

class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quillbridge-clipboard-test.XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TemporaryDirectory() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::filesystem::path writeFile(const std::filesystem::path& path, const Bytes& contents) {
    std::ofstream stream(path, std::ios::binary);
    stream.write(reinterpret_cast<const char*>(contents.data()),
                 static_cast<std::streamsize>(contents.size()));
    return path;
}

Entry fileEntry(const std::filesystem::path& path) {
    return {fileURLType, ClipboardURL::fileURLString(path)};
}

class RemoteClipboardControllerTest : public ::testing::Test {
protected:
    template <class T>
    T run(asio::awaitable<T> awaitable) {
        auto future = asio::co_spawn(context_, std::move(awaitable), asio::use_future);
        context_.restart();
        context_.run();
        return future.get();
    }

    RemoteClipboardCaptureResult capture() { return run(controller_.captureClipboard()); }
    bool apply(std::vector<ClipboardItem> items) {
        auto payload = ClipboardTransferPayload::make(std::move(items));
        EXPECT_TRUE(payload);
        return run(controller_.applyRemoteClipboard(std::move(*payload)));
    }
    std::optional<std::filesystem::path> installed() { return run(controller_.installedFileDirectory()); }

    // The directories that applies have left in the received-files location.
    std::vector<std::filesystem::path> receivedDirectories() const {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(received_.path()))
            found.push_back(entry.path());
        return found;
    }

    asio::io_context context_;
    FakeDesktopClipboard clipboard_;
    TableTypeDetector detector_;
    TemporaryDirectory files_;
    TemporaryDirectory received_;
    std::optional<std::filesystem::path> receivedLocation_ = received_.path();
    RemoteClipboardController controller_{context_.get_executor(),
                                          asio::make_strand(context_),
                                          asio::make_strand(context_),
                                          clipboard_,
                                          &detector_,
                                          [this] { return receivedLocation_; }};
};

// --- capture -------------------------------------------------------------------------------------------

TEST_F(RemoteClipboardControllerTest, RefusesClipboardsThatOfferNothingUsableOrTooMuch) {
    std::filesystem::create_directory(files_.path() / "folder");
    ::mkfifo((files_.path() / "pipe").c_str(), 0600);
    writeFile(files_.path() / "empty.txt", {});
    struct Case {
        const char* name;
        std::optional<std::vector<Item>> contents;
        CaptureKind expected;
    };
    const std::vector<Case> cases{
        {"clipboard reports nothing", std::nullopt, CaptureKind::unavailable},
        {"no items", std::vector<Item>{}, CaptureKind::unavailable},
        {"17 small items", std::vector<Item>(17, Item{{stringType, std::string("x")}}),
         CaptureKind::tooLarge},
        {"only file promises",
         std::vector<Item>{{{"com.apple.pasteboard.promised-file-url", std::string("file:///x")},
                            {"com.apple.NSFilePromiseItemMetaData", filled(4)}}},
         CaptureKind::unavailable},
        {"only an empty string", std::vector<Item>{{{stringType, std::string()}}}, CaptureKind::unavailable},
        {"a folder", std::vector<Item>{{fileEntry(files_.path() / "folder")}}, CaptureKind::unsupported},
        {"a pipe", std::vector<Item>{{fileEntry(files_.path() / "pipe")}}, CaptureKind::unavailable},
        {"a device", std::vector<Item>{{fileEntry("/dev/null")}}, CaptureKind::unavailable},
        {"a missing file", std::vector<Item>{{fileEntry(files_.path() / "gone.txt")}},
         CaptureKind::unavailable},
        {"an empty file", std::vector<Item>{{fileEntry(files_.path() / "empty.txt")}},
         CaptureKind::unavailable},
        {"a remote file URL", std::vector<Item>{{{fileURLType, std::string("file://elsewhere/etc/hosts")}}},
         CaptureKind::unavailable},
        {"a web URL as the file",
         std::vector<Item>{{{fileURLType, std::string("https://example.com/a.txt")}}},
         CaptureKind::unavailable},
        // One bad file refuses the whole clipboard, good items before it included.
        {"good text then a folder",
         std::vector<Item>{{{stringType, std::string("kept?")}}, {fileEntry(files_.path() / "folder")}},
         CaptureKind::unsupported},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        clipboard_.contents = testCase.contents;
        auto result = capture();
        EXPECT_EQ(result.kind, testCase.expected);
        EXPECT_FALSE(result.payload);
    }
}

TEST_F(RemoteClipboardControllerTest, TakesTextAndLinksAsTheirBytesAndSkipsWhatTheirTypesDoNotAllow) {
    struct Case {
        const char* name;
        Entry entry;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases{
        {"text", {stringType, std::string("héllo")}, "héllo"},
        {"empty text", {stringType, std::string()}, std::nullopt},
        {"invalid UTF-8", {stringType, Bytes{0xC3, 0x28}}, std::nullopt},
        {"web link", {urlType, std::string("https://example.com/a?b=c")}, "https://example.com/a?b=c"},
        {"file link", {urlType, std::string("file:///etc/passwd")}, std::nullopt},
        {"text without a scheme", {urlType, std::string("example.com")}, std::nullopt},
        {"link with a space", {urlType, std::string("https://exa mple.com")}, std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        clipboard_.contents = std::vector<Item>{{testCase.entry, {htmlType, std::string("<b>x</b>")}}};
        auto result = capture();
        ASSERT_EQ(result.kind, CaptureKind::captured);
        const auto& item = result.payload->items().at(0);
        const auto* representation = item.representation(testCase.entry.typeIdentifier);
        if (testCase.expected) {
            ASSERT_TRUE(representation);
            EXPECT_EQ(asText(representation->data()), *testCase.expected);
            EXPECT_EQ(item.representations().front().typeIdentifier(), testCase.entry.typeIdentifier);
        } else {
            EXPECT_FALSE(representation);
            EXPECT_EQ(item.representations().size(), 1u);
        }
    }
}

TEST_F(RemoteClipboardControllerTest, FileItemCarriesItsFileFirstTypedByContentThenExtensionThenAsData) {
    writeFile(files_.path() / "photo.png", filled(10, 1));
    writeFile(files_.path() / "notes.weird", filled(5, 2));
    writeFile(files_.path() / "report.bin", filled(7, 3));
    writeFile(files_.path() / "a b%.txt", filled(3, 4));
    detector_.typesByFilename["report.bin"] = "com.adobe.pdf";
    clipboard_.contents = std::vector<Item>{
        {{stringType, std::string("photo.png")},
         fileEntry(files_.path() / "photo.png"),
         {pngType, filled(99)}},
        {fileEntry(files_.path() / "notes.weird")},
        {fileEntry(files_.path() / "report.bin"), {"com.apple.alias-file", filled(3)}},
        {fileEntry(files_.path() / "a b%.txt")},
    };
    auto result = capture();
    ASSERT_EQ(result.kind, CaptureKind::captured);
    const auto& items = result.payload->items();
    ASSERT_EQ(items.size(), 4u);

    // The file's representation comes first; the clipboard's own PNG is not added a second time, and the
    // file-URL type never travels.
    ASSERT_EQ(items[0].representations().size(), 2u);
    EXPECT_EQ(items[0].representations()[0].typeIdentifier(), pngType);
    EXPECT_EQ(items[0].representations()[0].data(), filled(10, 1));
    EXPECT_EQ(items[0].representations()[1].typeIdentifier(), stringType);
    EXPECT_EQ(items[0].fileMetadata(), ClipboardFileMetadata::make("photo.png", pngType));

    EXPECT_EQ(items[1].fileMetadata(), ClipboardFileMetadata::make("notes.weird", "public.data"));
    EXPECT_EQ(items[2].fileMetadata(), ClipboardFileMetadata::make("report.bin", "com.adobe.pdf"));
    EXPECT_EQ(items[2].representations().size(), 1u);
    EXPECT_EQ(items[3].fileMetadata(), ClipboardFileMetadata::make("a b%.txt", "public.plain-text"));
}

TEST_F(RemoteClipboardControllerTest, ImageDataWithoutAFileGetsAFileNameFromThePromisedName) {
    clipboard_.contents = std::vector<Item>{
        {{"com.apple.pasteboard.promised-file-name", std::string("Holiday.jpeg")}, {pngType, filled(8)}},
        {{pngType, filled(8)}},
    };
    auto result = capture();
    ASSERT_EQ(result.kind, CaptureKind::captured);
    EXPECT_EQ(result.payload->items()[0].fileMetadata(), ClipboardFileMetadata::make("Holiday.png", pngType));
    EXPECT_EQ(result.payload->items()[1].fileMetadata(), ClipboardFileMetadata::make("Image.png", pngType));
    EXPECT_EQ(result.payload->items()[0].representations().size(), 1u);
}

TEST_F(RemoteClipboardControllerTest, KeepsTheFirst32TypesOfAnItemAndTheFirst64OverAll) {
    Item wide;
    for (int index = 0; index < 40; ++index)
        wide.push_back({"com.example.type" + std::to_string(index), filled(1)});
    clipboard_.contents = std::vector<Item>{wide};
    auto result = capture();
    ASSERT_EQ(result.kind, CaptureKind::captured);
    const auto& representations = result.payload->items()[0].representations();
    ASSERT_EQ(representations.size(), 32u);
    EXPECT_EQ(representations.back().typeIdentifier(), "com.example.type31");
    // Types past the limit are not even read.
    EXPECT_FALSE(clipboard_.readCounts->contains("com.example.type32"));

    // Two full items use the 64 representations; a third item has nothing left and is cut by the limit.
    clipboard_.contents = std::vector<Item>{wide, wide, {{stringType, std::string("late")}}};
    EXPECT_EQ(capture().kind, CaptureKind::tooLarge);
    clipboard_.contents = std::vector<Item>{wide, wide};
    result = capture();
    ASSERT_EQ(result.kind, CaptureKind::captured);
    EXPECT_EQ(result.payload->representationCount(), 64u);
}

TEST_F(RemoteClipboardControllerTest, FilesAreReadAgainstTheBudgetThatEarlierItemsLeft) {
    const std::size_t maximum = ClipboardLimits::maximumPayloadDataByteCount;
    writeFile(files_.path() / "exact.bin", filled(maximum));
    writeFile(files_.path() / "over.bin", filled(maximum + 1));
    writeFile(files_.path() / "small.txt", filled(1));
    struct Case {
        const char* name;
        std::vector<Item> contents;
        CaptureKind expected;
    };
    const std::vector<Case> cases{
        {"exactly 64 MiB alone", {{fileEntry(files_.path() / "exact.bin")}}, CaptureKind::captured},
        {"one byte more", {{fileEntry(files_.path() / "over.bin")}}, CaptureKind::tooLarge},
        {"a file after 64 MiB of data",
         {{{pngType, filled(maximum - 1)}},
          {{stringType, std::string("t")}},
          {fileEntry(files_.path() / "small.txt")}},
         CaptureKind::tooLarge},
        {"data after 64 MiB of file",
         {{fileEntry(files_.path() / "exact.bin")},
          {{stringType, std::string("t")}, {htmlType, std::string("h")}}},
         CaptureKind::tooLarge},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        clipboard_.contents = testCase.contents;
        EXPECT_EQ(capture().kind, testCase.expected);
    }
}

TEST_F(RemoteClipboardControllerTest, RepresentationsThatDoNotFitAreSkippedAndTheRestTravels) {
    // Two items each offering a 40 MiB image: the second image does not fit, its text does.
    Item item{{pngType, filled(40 * mebibyte)}, {stringType, std::string("caption")}};
    clipboard_.contents = std::vector<Item>{item, item};
    auto result = capture();
    ASSERT_EQ(result.kind, CaptureKind::captured);
    const auto& items = result.payload->items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].representations().size(), 2u);
    ASSERT_EQ(items[1].representations().size(), 1u);
    EXPECT_EQ(items[1].representations()[0].typeIdentifier(), stringType);
    EXPECT_FALSE(items[1].fileMetadata());

    // When the skipped image was all the item had, the capture is refused as too large.
    clipboard_.contents = std::vector<Item>{item, {{pngType, filled(40 * mebibyte)}}};
    EXPECT_EQ(capture().kind, CaptureKind::tooLarge);
}

// --- reading one file -------------------------------------------------------------------------------

TEST_F(RemoteClipboardControllerTest, ReadsNoMoreThanTheLimitWhateverSizeTheFileReports) {
    // /proc files report size 0 and hold more: the read must stop one byte past the limit.
    auto status = RemoteClipboardController::captureFile("/proc/self/status", 16, nullptr);
    EXPECT_EQ(status.kind, FileKind::tooLarge);

    writeFile(files_.path() / "ten.txt", filled(10));
    struct Case {
        std::size_t limit;
        FileKind expected;
    };
    for (auto [limit, expected] : {Case{0, FileKind::tooLarge}, Case{9, FileKind::tooLarge},
                                   Case{10, FileKind::captured}, Case{11, FileKind::captured}}) {
        SCOPED_TRACE(limit);
        auto result = RemoteClipboardController::captureFile(files_.path() / "ten.txt", limit, nullptr);
        EXPECT_EQ(result.kind, expected);
        if (expected == FileKind::captured) {
            EXPECT_EQ(result.representation->data(), filled(10));
            EXPECT_EQ(result.filename, "ten.txt");
        }
    }
}

// --- apply ---------------------------------------------------------------------------------------------

ClipboardItem textItem(std::string_view text) {
    return *ClipboardItem::make({*ClipboardRepresentation::make(stringType, toBytes(text))}, std::nullopt);
}

ClipboardItem fileItem(std::string name, Bytes contents, std::string type = pngType) {
    return *ClipboardItem::make({*ClipboardRepresentation::make(type, std::move(contents)),
                                 *ClipboardRepresentation::make(stringType, toBytes(name))},
                                ClipboardFileMetadata::make(name, type));
}

TEST_F(RemoteClipboardControllerTest, AppliesTextAndLinksAsTextAndOtherTypesAsBytes) {
    auto item =
        *ClipboardItem::make({*ClipboardRepresentation::make(stringType, toBytes("hello")),
                              *ClipboardRepresentation::make(urlType, toBytes("https://example.com/")),
                              *ClipboardRepresentation::make(htmlType, toBytes("<i>hello</i>"))},
                             std::nullopt);
    ASSERT_TRUE(apply({item, textItem("second")}));
    ASSERT_EQ(clipboard_.writes.size(), 1u);
    std::vector<DesktopClipboardWriteItem> expected{
        {{{stringType, std::string("hello")},
          {urlType, std::string("https://example.com/")},
          {htmlType, toBytes("<i>hello</i>")}}},
        {{{stringType, std::string("second")}}},
    };
    EXPECT_EQ(clipboard_.writes[0], expected);
    EXPECT_FALSE(installed());
    EXPECT_TRUE(receivedDirectories().empty());
}

TEST_F(RemoteClipboardControllerTest, RefusedAppliesNeverTouchTheClipboard) {
    clipboard_.contents = std::vector<Item>{{{stringType, std::string("before")}}};
    auto single = [](std::string type, Bytes data) {
        return *ClipboardItem::make({*ClipboardRepresentation::make(std::move(type), std::move(data))},
                                    std::nullopt);
    };
    struct Case {
        const char* name;
        std::vector<ClipboardItem> items;
    };
    const std::vector<Case> cases{
        {"invalid UTF-8 text", {single(stringType, Bytes{0xFF, 0xFE})}},
        {"a file link", {single(urlType, toBytes("file:///etc/passwd"))}},
        {"a link without a scheme", {single(urlType, toBytes("example.com"))}},
        {"an alias file", {single("com.apple.alias-file", filled(4))}},
        {"a file URL as data", {single(fileURLType, toBytes("file:///etc/passwd"))}},
        {"a good item then a bad one", {textItem("fine"), single("com.apple.bookmark", filled(2))}},
        {"a file item with a file URL",
         {*ClipboardItem::make({*ClipboardRepresentation::make(pngType, filled(3)),
                                *ClipboardRepresentation::make(fileURLType, toBytes("file:///x"))},
                               ClipboardFileMetadata::make("a.png", pngType))}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_FALSE(apply(testCase.items));
        EXPECT_TRUE(clipboard_.writes.empty());
        EXPECT_TRUE(receivedDirectories().empty());
    }
    EXPECT_EQ(std::get<std::string>(clipboard_.contents->at(0).at(0).value), "before");
}

TEST_F(RemoteClipboardControllerTest, FileItemsBecomeOwnerOnlyFilesOfferedByURLBeforeTheirData) {
    ASSERT_TRUE(apply(
        {textItem("first"), fileItem("picture.png", filled(6, 7)), fileItem("picture.png", filled(2, 8))}));
    auto directory = installed();
    ASSERT_TRUE(directory);
    EXPECT_EQ(directory->parent_path(), received_.path());
    EXPECT_TRUE(directory->filename().string().starts_with("QuillbridgeClipboard-"));

    const auto& written = clipboard_.writes.at(0);
    ASSERT_EQ(written.size(), 3u);
    for (std::size_t index : {1u, 2u}) {
        SCOPED_TRACE(index);
        const auto& values = written[index].values;
        ASSERT_EQ(values.size(), 3u);
        EXPECT_EQ(values[0].typeIdentifier, fileURLType);
        auto path = ClipboardURL::filePath(std::get<std::string>(values[0].value));
        ASSERT_TRUE(path);
        EXPECT_EQ(*path, *directory / ("item-" + std::to_string(index)) / "picture.png");
        EXPECT_EQ(values[1].typeIdentifier, pngType);
        EXPECT_EQ(values[2].typeIdentifier, stringType);

        struct stat status {};
        ASSERT_EQ(::stat(path->c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
        ASSERT_EQ(::stat(path->parent_path().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u);
    }
    struct stat status {};
    ASSERT_EQ(::stat(directory->c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

TEST_F(RemoteClipboardControllerTest, APasteComesBackInACopyAsTheDesktopKeptIt) {
    // The desktop holds one item: the first is kept whole, the others add their files and the formats the
    // first lacks (here the image), not their text.
    ASSERT_TRUE(apply({textItem("first"), fileItem("a.png", filled(6, 7)), fileItem("b.png", filled(2, 8))}));
    auto result = capture();
    ASSERT_EQ(result.kind, CaptureKind::captured);
    const auto& items = result.payload->items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].fileMetadata(), ClipboardFileMetadata::make("a.png", pngType));
    ASSERT_EQ(items[0].representations().size(), 2u);
    EXPECT_EQ(items[0].representations()[0].data(), filled(6, 7));
    EXPECT_EQ(items[0].representations()[1].typeIdentifier(), stringType);
    EXPECT_EQ(asText(items[0].representations()[1].data()), "first");
    EXPECT_EQ(items[1].fileMetadata(), ClipboardFileMetadata::make("b.png", pngType));
    ASSERT_EQ(items[1].representations().size(), 1u);
    EXPECT_EQ(items[1].representations()[0].data(), filled(2, 8));

    // Items without files become one.
    ASSERT_TRUE(apply({textItem("one"), textItem("two")}));
    result = capture();
    ASSERT_EQ(result.kind, CaptureKind::captured);
    ASSERT_EQ(result.payload->items().size(), 1u);
    EXPECT_EQ(asText(result.payload->items()[0].representation(stringType)->data()), "one");
}

TEST_F(RemoteClipboardControllerTest, KeepsOnlyTheFilesOfTheLastSuccessfulApply) {
    ASSERT_TRUE(apply({fileItem("one.png", filled(4))}));
    auto first = installed();
    ASSERT_TRUE(first);

    ASSERT_TRUE(apply({fileItem("two.png", filled(4))}));
    auto second = installed();
    ASSERT_TRUE(second);
    EXPECT_NE(*first, *second);
    EXPECT_FALSE(std::filesystem::exists(*first));
    EXPECT_TRUE(std::filesystem::exists(*second / "item-0" / "two.png"));

    // A refused write removes its own new files and keeps the files that the clipboard still offers.
    clipboard_.refusesWrites = true;
    EXPECT_FALSE(apply({fileItem("three.png", filled(4))}));
    EXPECT_EQ(installed(), second);
    EXPECT_EQ(receivedDirectories(), std::vector<std::filesystem::path>{*second});

    // So does a failure to write the files at all (no place for them), before the clipboard is touched.
    clipboard_.refusesWrites = false;
    receivedLocation_ = std::nullopt;
    auto writesBefore = clipboard_.writes.size();
    EXPECT_FALSE(apply({fileItem("four.png", filled(4))}));
    EXPECT_EQ(clipboard_.writes.size(), writesBefore);
    EXPECT_EQ(installed(), second);
    EXPECT_TRUE(std::filesystem::exists(*second / "item-0" / "two.png"));

    // A successful apply without files removes the old directory and keeps none.
    EXPECT_TRUE(apply({textItem("plain")}));
    EXPECT_FALSE(installed());
    EXPECT_TRUE(receivedDirectories().empty());
}

// --- where received files go ---------------------------------------------------------------------------

TEST(RemoteClipboardFilesLocationTest, UsesTheRuntimeDirectoryElseAnOwnerOnlyFolderInTheCache) {
    TemporaryDirectory home;
    auto runtime = home.path() / "runtime";
    std::filesystem::create_directory(runtime);
    {
        ScopedEnvironment runtimeVariable("XDG_RUNTIME_DIR", runtime.c_str());
        EXPECT_EQ(RemoteClipboardController::defaultReceivedFilesLocation(), runtime);
    }
    ScopedEnvironment homeVariable("HOME", home.path().c_str());
    ScopedEnvironment cacheVariable("XDG_CACHE_HOME", nullptr);
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/path"}) {
        SCOPED_TRACE(value ? value : "unset");
        ScopedEnvironment runtimeVariable("XDG_RUNTIME_DIR", value);
        auto location = RemoteClipboardController::defaultReceivedFilesLocation();
        ASSERT_EQ(location, home.path() / ".cache" / "quillbridge");
        struct stat status {};
        ASSERT_EQ(::stat(location->c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u);
        ::chmod(location->c_str(), 0755);  // an existing folder is made owner-only again
    }
}

}  // namespace
}  // namespace quillbridge
