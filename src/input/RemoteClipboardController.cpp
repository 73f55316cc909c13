#include "input/RemoteClipboardController.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <set>
#include <string>
#include <system_error>
#include <utility>

#include <asio/co_spawn.hpp>
#include <asio/use_awaitable.hpp>

#include "core/FileDescriptor.hpp"
#include "core/Logger.hpp"
#include "core/UnicodeText.hpp"
#include "input/BoundedFileReader.hpp"
#include "input/ClipboardURL.hpp"
#include "wire/ClipboardFileMetadata.hpp"
#include "wire/ClipboardLimits.hpp"
#include "wire/ClipboardRepresentation.hpp"
#include "wire/ClipboardUniformType.hpp"

namespace quillbridge {
namespace {

const Logger logger{"RemoteClipboardController"};

using CaptureKind = RemoteClipboardCaptureResult::Kind;
using FileKind = RemoteClipboardFileCaptureResult::Kind;

constexpr std::size_t maximumItems = ClipboardLimits::maximumItemCount;
constexpr std::size_t maximumRepresentationsPerItem = ClipboardLimits::maximumRepresentationCountPerItem;
constexpr std::size_t maximumRepresentations = ClipboardLimits::maximumRepresentationCountPerPayload;
constexpr std::size_t maximumRepresentationBytes = ClipboardLimits::maximumRepresentationDataByteCount;
constexpr std::size_t maximumPayloadBytes = ClipboardLimits::maximumPayloadDataByteCount;

constexpr std::string_view promisedFileNameType = "com.apple.pasteboard.promised-file-name";
constexpr std::string_view promisedSuggestedFileNameType =
    "com.apple.pasteboard.promised-suggested-file-name";

bool isType(std::string_view typeIdentifier, const ClipboardUniformType& type) {
    auto found = ClipboardUniformType::withIdentifier(typeIdentifier);
    return found && *found == type;
}

bool isStringType(std::string_view typeIdentifier) {
    return isType(typeIdentifier, ClipboardUniformType::utf8PlainText());
}

bool isURLType(std::string_view typeIdentifier) {
    return isType(typeIdentifier, ClipboardUniformType::url());
}

bool conformsToFileURL(std::string_view typeIdentifier) {
    auto found = ClipboardUniformType::withIdentifier(typeIdentifier);
    return found && found->conforms(ClipboardUniformType::fileURL());
}

// The value that a representation gives on the desktop clipboard: text for the string and URL types,
// bytes for the rest; nothing when it cannot be given.
std::optional<std::variant<std::string, Bytes>> pasteboardValue(const std::string& typeIdentifier,
                                                                const Bytes& data) {
    if (isStringType(typeIdentifier)) {
        auto text = asText(data);
        if (!isValidUtf8(text))
            return std::nullopt;
        return std::string(text);
    }
    if (isURLType(typeIdentifier)) {
        auto text = asText(data);
        if (!isValidUtf8(text))
            return std::nullopt;
        auto link = ClipboardURL::linkString(text);
        if (!link)
            return std::nullopt;
        return *link;
    }
    return data;
}

// The desktop clipboard values of an item's representations; nothing (logged) when one of them is a file
// reference sent as data or a value its type does not allow.
std::optional<std::vector<DesktopClipboardValue>> pasteboardValues(const ClipboardItem& item) {
    std::vector<DesktopClipboardValue> values;
    for (const auto& representation : item.representations()) {
        const auto& type = representation.typeIdentifier();
        if (isFileLikePasteboardType(type) || conformsToFileURL(type)) {
            logger.error("Refused a received clipboard that sends a file reference as data");
            return std::nullopt;
        }
        auto value = pasteboardValue(type, representation.data());
        if (!value) {
            logger.error("Refused a received clipboard with a value that its type does not allow");
            return std::nullopt;
        }
        values.push_back({type, std::move(*value)});
    }
    return values;
}

// What a snapshot has taken so far, against the payload's limits.
struct CaptureBudget {
    std::size_t byteTotal = 0;
    std::size_t representationTotal = 0;
    bool sizeLimitHit = false;
};

// The bytes a representation of the given type carries: valid UTF-8 text for the string types, the link
// for the URL types, the data for the rest; nothing when there is none to send.
std::optional<Bytes> representationValue(const DesktopClipboardItem& item, const std::string& type) {
    if (isStringType(type)) {
        auto text = item.string(type);
        if (text && !text->empty() && isValidUtf8(*text))
            return toBytes(*text);
        return std::nullopt;
    }
    if (isURLType(type)) {
        auto text = item.string(type);
        if (auto link = text ? ClipboardURL::linkString(*text) : std::nullopt)
            return toBytes(*link);
        return std::nullopt;
    }
    return item.data(type);
}

// Adds the item's data representations (every type not taken yet that may be sent) within the budget.
// True when the limits left some out.
bool takeDataRepresentations(const DesktopClipboardItem& item,
                             std::vector<ClipboardRepresentation>& representations,
                             std::set<std::string>& seenTypes, CaptureBudget& budget) {
    bool limited = false;
    for (const auto& type : item.types()) {
        if (isFileLikePasteboardType(type) || conformsToFileURL(type) || seenTypes.contains(type) ||
            !isValidClipboardTypeIdentifier(type))
            continue;
        if (representations.size() >= maximumRepresentationsPerItem ||
            budget.representationTotal >= maximumRepresentations) {
            limited = true;
            continue;
        }
        std::optional<Bytes> value = representationValue(item, type);
        if (!value || value->empty())
            continue;
        if (value->size() > maximumRepresentationBytes ||
            budget.byteTotal + value->size() > maximumPayloadBytes) {
            budget.sizeLimitHit = true;
            limited = true;
            continue;
        }
        std::size_t size = value->size();
        auto representation = ClipboardRepresentation::make(type, std::move(*value));
        if (!representation)
            continue;
        representations.push_back(std::move(*representation));
        seenTypes.insert(type);
        budget.byteTotal += size;
        budget.representationTotal += 1;
    }
    return limited;
}

FileKind refusalOfFileType(mode_t mode) {
    // Linux has no packages: a directory is the only unsupported kind; sockets, pipes and devices are
    // simply unavailable.
    return S_ISDIR(mode) ? FileKind::unsupported : FileKind::unavailable;
}

// Runs a plain function on an executor and resumes the awaiting coroutine with its result.
template <class Function>
asio::awaitable<std::invoke_result_t<Function&>> runOn(const asio::any_io_executor& executor,
                                                       Function function) {
    using Result = std::invoke_result_t<Function&>;
    auto body = [function = std::move(function)]() mutable -> asio::awaitable<Result> {
        co_return function();
    };
    co_return co_await asio::co_spawn(executor, std::move(body), asio::use_awaitable);
}

}  // namespace

RemoteClipboardController::RemoteClipboardController(const asio::any_io_executor& executor,
                                                     asio::any_io_executor mainExecutor,
                                                     asio::any_io_executor fileExecutor,
                                                     DesktopClipboard& clipboard,
                                                     const FileContentTypeDetector* typeDetector,
                                                     ReceivedFilesLocation receivedFilesLocation)
    : actor_(executor),
      mainExecutor_(std::move(mainExecutor)),
      fileExecutor_(std::move(fileExecutor)),
      clipboard_(clipboard),
      typeDetector_(typeDetector),
      receivedFilesLocation_(std::move(receivedFilesLocation)) {}

asio::awaitable<RemoteClipboardCaptureResult> RemoteClipboardController::captureClipboard() {
    // Function objects are named before they are awaited: GCC 12 destroys a temporary with captures in a
    // co_await expression twice.
    auto onMain = [this]() { return snapshot(); };
    auto onActor = [this, &onMain]() -> asio::awaitable<RemoteClipboardCaptureResult> {
        co_return co_await asio::co_spawn(mainExecutor_, std::move(onMain), asio::use_awaitable);
    };
    co_return co_await actor_.run(std::move(onActor));
}

asio::awaitable<RemoteClipboardCaptureResult> RemoteClipboardController::snapshot() {
    auto pasteboardItems = clipboard_.items();
    if (!pasteboardItems || pasteboardItems->empty())
        co_return RemoteClipboardCaptureResult::refused(CaptureKind::unavailable);
    if (pasteboardItems->size() > maximumItems)
        co_return RemoteClipboardCaptureResult::refused(CaptureKind::tooLarge);

    std::vector<ClipboardItem> items;
    CaptureBudget budget;

    for (const auto& pasteboardItem : *pasteboardItems) {
        std::optional<std::string> promisedFilename = pasteboardItem->string(promisedFileNameType);
        if (!promisedFilename)
            promisedFilename = pasteboardItem->string(promisedSuggestedFileNameType);

        std::vector<ClipboardRepresentation> representations;
        std::optional<ClipboardFileMetadata> fileMetadata;
        std::set<std::string> seenTypes;

        if (budget.representationTotal < maximumRepresentations) {
            auto file = co_await captureFileItem(*pasteboardItem, maximumPayloadBytes - budget.byteTotal);
            if (file) {
                switch (file->kind) {
                    case FileKind::tooLarge:
                        co_return RemoteClipboardCaptureResult::refused(CaptureKind::tooLarge);
                    case FileKind::unsupported:
                        co_return RemoteClipboardCaptureResult::refused(CaptureKind::unsupported);
                    case FileKind::unavailable:
                        co_return RemoteClipboardCaptureResult::refused(CaptureKind::unavailable);
                    case FileKind::captured: {
                        auto& representation = *file->representation;
                        fileMetadata =
                            ClipboardFileMetadata::make(file->filename, representation.typeIdentifier());
                        if (!fileMetadata)  // captureFile checked it; kept for safety
                            co_return RemoteClipboardCaptureResult::refused(CaptureKind::unavailable);
                        seenTypes.insert(representation.typeIdentifier());
                        budget.byteTotal += representation.data().size();
                        budget.representationTotal += 1;
                        representations.push_back(std::move(representation));
                        break;
                    }
                }
            }
        }

        bool itemLimited = budget.representationTotal > maximumRepresentations - 1;

        if (takeDataRepresentations(*pasteboardItem, representations, seenTypes, budget))
            itemLimited = true;

        if (!fileMetadata)
            fileMetadata = ClipboardFileMetadata::inferred(representations, promisedFilename);

        auto item = ClipboardItem::make(std::move(representations), std::move(fileMetadata));
        if (!item)
            co_return RemoteClipboardCaptureResult::refused(itemLimited ? CaptureKind::tooLarge
                                                                        : CaptureKind::unavailable);
        items.push_back(std::move(*item));
    }

    auto payload = ClipboardTransferPayload::make(std::move(items));
    if (!payload)
        co_return RemoteClipboardCaptureResult::refused(budget.sizeLimitHit ? CaptureKind::tooLarge
                                                                            : CaptureKind::unavailable);
    co_return RemoteClipboardCaptureResult::captured(std::move(*payload));
}

asio::awaitable<std::optional<RemoteClipboardFileCaptureResult>> RemoteClipboardController::captureFileItem(
    const DesktopClipboardItem& item, std::size_t byteLimit) {
    auto url = item.string(ClipboardUniformType::fileURL().identifier());
    if (!url || url->empty())
        co_return std::nullopt;
    auto path = ClipboardURL::filePath(*url);
    if (!path) {
        logger.error("The clipboard references a file by a URL that is not a local file: ",
                     privateValue(*url));
        co_return RemoteClipboardFileCaptureResult::refused(FileKind::unavailable);
    }
    auto read = [path = std::move(*path), byteLimit, detector = typeDetector_]() {
        return captureFile(path, byteLimit, detector);
    };
    co_return co_await runOn(fileExecutor_, std::move(read));
}

RemoteClipboardFileCaptureResult RemoteClipboardController::captureFile(
    const std::filesystem::path& path, std::size_t byteLimit, const FileContentTypeDetector* typeDetector) {
    if (byteLimit < 1)
        return RemoteClipboardFileCaptureResult::refused(FileKind::tooLarge);
    std::size_t limit = std::min(byteLimit, maximumRepresentationBytes);

    // Look before opening, so that opening never touches a device or waits on a pipe; then check the open
    // file again, in case the path was replaced in between.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        logger.error("Cannot read a copied file: ", std::generic_category().message(errno));
        return RemoteClipboardFileCaptureResult::refused(FileKind::unavailable);
    }
    if (!S_ISREG(status.st_mode))
        return RemoteClipboardFileCaptureResult::refused(refusalOfFileType(status.st_mode));
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0) {
        logger.error("Cannot open a copied file: ", std::generic_category().message(errno));
        return RemoteClipboardFileCaptureResult::refused(FileKind::unavailable);
    }
    if (!S_ISREG(status.st_mode))
        return RemoteClipboardFileCaptureResult::refused(refusalOfFileType(status.st_mode));
    if (status.st_size > 0 && static_cast<std::uintmax_t>(status.st_size) > limit)
        return RemoteClipboardFileCaptureResult::refused(FileKind::tooLarge);

    // The reported size is only a hint: the file may grow while it is read, and special files report 0.
    auto read = BoundedFileReader::readAtMost(file.get(), limit);
    if (!read) {
        logger.error("Cannot read a copied file: ", std::generic_category().message(errno));
        return RemoteClipboardFileCaptureResult::refused(FileKind::unavailable);
    }
    Bytes contents = std::move(*read);
    if (contents.empty())
        return RemoteClipboardFileCaptureResult::refused(FileKind::unavailable);
    if (contents.size() > limit)
        return RemoteClipboardFileCaptureResult::refused(FileKind::tooLarge);

    std::optional<std::string> typeIdentifier;
    if (typeDetector) {
        typeIdentifier = typeDetector->contentTypeIdentifier(path, contents);
        if (typeIdentifier && !isValidClipboardTypeIdentifier(*typeIdentifier))
            typeIdentifier.reset();
    }
    if (!typeIdentifier) {
        auto extension = path.extension().string();
        if (!extension.empty())
            extension.erase(0, 1);
        if (auto type = ClipboardUniformType::withFilenameExtension(extension, ClipboardUniformType::data()))
            typeIdentifier = std::string(type->identifier());
    }
    if (!typeIdentifier)
        typeIdentifier = std::string(ClipboardUniformType::data().identifier());

    auto representation = ClipboardRepresentation::make(*typeIdentifier, std::move(contents));
    if (!representation)
        return RemoteClipboardFileCaptureResult::refused(FileKind::unavailable);
    auto filename = path.filename().string();
    if (!ClipboardFileMetadata::make(filename, *typeIdentifier))
        return RemoteClipboardFileCaptureResult::refused(FileKind::unavailable);
    return RemoteClipboardFileCaptureResult::captured(std::move(*representation), std::move(filename));
}

asio::awaitable<bool> RemoteClipboardController::applyRemoteClipboard(ClipboardTransferPayload payload) {
    auto items = std::make_shared<const std::vector<ClipboardItem>>(std::move(payload).takeItems());
    auto onActor = [this, items]() { return applyOnActor(items); };
    co_return co_await actor_.run(std::move(onActor));
}

asio::awaitable<bool> RemoteClipboardController::applyOnActor(
    std::shared_ptr<const std::vector<ClipboardItem>> items) {
    std::optional<ClipboardMaterializedFiles> files;
    try {
        auto materialize =
            [items, location = receivedFilesLocation_]() -> std::optional<ClipboardMaterializedFiles> {
            bool hasFiles =
                std::ranges::any_of(*items, [](const auto& item) { return item.fileMetadata().has_value(); });
            if (!hasFiles)
                return std::nullopt;
            auto parent = location();
            if (!parent)
                throw std::filesystem::filesystem_error(
                    "No directory for received clipboard files",
                    std::make_error_code(std::errc::no_such_file_or_directory));
            return ClipboardMaterializedFiles::materialize(*items, *parent);
        };
        files = co_await runOn(fileExecutor_, std::move(materialize));
    } catch (const std::system_error& error) {
        if (error.code() == asio::error::operation_aborted)
            throw;
        logger.error("Cannot write the received clipboard files: ", error.what());
        co_return false;
    }

    auto writeOnMain = [this, items, &files]() { return writeToPasteboard(*items, files); };
    auto write = co_await runOn(mainExecutor_, std::move(writeOnMain));

    std::optional<ClipboardMaterializedFiles> obsolete;
    if (!write) {
        obsolete = std::move(files);
    } else if (*write > installedWrite_) {
        installedWrite_ = *write;
        obsolete = std::exchange(installedFiles_, std::move(files));
    } else {
        // A later apply has already replaced the clipboard and kept its own files: these are not needed.
        obsolete = std::move(files);
    }
    if (obsolete) {
        auto remove = [obsolete = std::move(*obsolete)]() { obsolete.removeDirectory(); };
        co_await runOn(fileExecutor_, std::move(remove));
    }
    co_return write.has_value();
}

std::optional<std::uint64_t> RemoteClipboardController::writeToPasteboard(
    const std::vector<ClipboardItem>& items, const std::optional<ClipboardMaterializedFiles>& files) {
    std::vector<DesktopClipboardWriteItem> writeItems;
    writeItems.reserve(items.size());
    for (std::size_t index = 0; index < items.size(); ++index) {
        const auto& item = items[index];
        DesktopClipboardWriteItem writeItem;
        if (!item.fileMetadata()) {
            auto values = pasteboardValues(item);
            if (!values)
                return std::nullopt;
            writeItem.values = std::move(*values);
        } else {
            if (!files || files->fileURLsByItemIndex.empty())
                return std::nullopt;
            auto file = files->fileURLsByItemIndex.find(index);
            if (file == files->fileURLsByItemIndex.end())
                return std::nullopt;
            auto values = pasteboardValues(item);
            if (!values)
                return std::nullopt;
            writeItem.values.push_back({std::string(ClipboardUniformType::fileURL().identifier()),
                                        ClipboardURL::fileURLString(file->second)});
            std::ranges::move(*values, std::back_inserter(writeItem.values));
            if (!item.representation(item.fileMetadata()->contentTypeIdentifier()))
                return std::nullopt;
        }
        writeItems.push_back(std::move(writeItem));
    }
    if (!clipboard_.write(std::move(writeItems))) {
        logger.error("The desktop clipboard refused the received items");
        return std::nullopt;
    }
    return ++writeCount_;
}

asio::awaitable<std::optional<std::filesystem::path>> RemoteClipboardController::installedFileDirectory()
    const {
    co_return co_await actor_.call([this]() -> std::optional<std::filesystem::path> {
        if (!installedFiles_)
            return std::nullopt;
        return installedFiles_->directoryURL;
    });
}

std::optional<std::filesystem::path> RemoteClipboardController::defaultReceivedFilesLocation() {
    auto absoluteDirectory = [](const char* value) -> std::optional<std::filesystem::path> {
        if (!value || *value == '\0')
            return std::nullopt;
        std::filesystem::path path(value);
        if (!path.is_absolute())
            return std::nullopt;
        return path;
    };
    if (auto runtime = absoluteDirectory(std::getenv("XDG_RUNTIME_DIR"))) {
        std::error_code error;
        if (std::filesystem::is_directory(*runtime, error))
            return runtime;
    }
    auto cache = absoluteDirectory(std::getenv("XDG_CACHE_HOME"));
    if (!cache) {
        auto home = absoluteDirectory(std::getenv("HOME"));
        if (!home)
            return std::nullopt;
        cache = *home / ".cache";
    }
    std::error_code error;
    std::filesystem::create_directories(*cache, error);
    auto directory = *cache / "quillbridge";
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
        return std::nullopt;
    // An existing directory of ours is made owner-only again; anything else there is not used.
    struct stat status {};
    if (::lstat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::getuid())
        return std::nullopt;
    if ((status.st_mode & 0777) != 0700 && ::chmod(directory.c_str(), 0700) != 0)
        return std::nullopt;
    return directory;
}

}  // namespace quillbridge
