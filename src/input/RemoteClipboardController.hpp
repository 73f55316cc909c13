#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "core/Actor.hpp"
#include "input/DesktopClipboard.hpp"
#include "input/FileContentTypeDetector.hpp"
#include "input/RemoteClipboardCaptureResult.hpp"
#include "input/RemoteClipboardFileCaptureResult.hpp"
#include "wire/ClipboardItem.hpp"
#include "wire/ClipboardMaterializedFiles.hpp"
#include "wire/ClipboardTransferPayload.hpp"

namespace quillbridge {

// The host's one owner of clipboard traffic with the headset, an actor. Capture turns the desktop
// clipboard into a transfer payload (or a refusal) for a copy from the host; apply puts a received payload
// on the desktop clipboard for a paste to the host, writing its files first.
//
// Threads: the controller's own state lives on its strand; every clipboard call runs on the main actor;
// file reads and writes run on the file executor (a worker that may block), one file at a time.
class RemoteClipboardController {
public:
    // Where the directories of received files are created; nothing when there is no such place.
    using ReceivedFilesLocation = std::function<std::optional<std::filesystem::path>()>;

    // `clipboard` and `typeDetector` must outlive the controller; `typeDetector` may be null (files are
    // then typed by their extension).
    RemoteClipboardController(const asio::any_io_executor& executor, asio::any_io_executor mainExecutor,
                              asio::any_io_executor fileExecutor, DesktopClipboard& clipboard,
                              const FileContentTypeDetector* typeDetector,
                              ReceivedFilesLocation receivedFilesLocation = defaultReceivedFilesLocation);

    RemoteClipboardController(const RemoteClipboardController&) = delete;
    RemoteClipboardController& operator=(const RemoteClipboardController&) = delete;

    // Takes a snapshot of the desktop clipboard. Never fails: every problem becomes a refusal.
    asio::awaitable<RemoteClipboardCaptureResult> captureClipboard();

    // Replaces the desktop clipboard with the payload's items; true when the clipboard now holds them.
    // On false the clipboard and the files of the last successful apply are as they were.
    asio::awaitable<bool> applyRemoteClipboard(ClipboardTransferPayload payload);

    // The directory of the files of the last successful apply (read on the controller's strand).
    asio::awaitable<std::optional<std::filesystem::path>> installedFileDirectory() const;

    // Reads one referenced file against a byte limit, never more than limit + 1 bytes whatever size the
    // file system reports. Blocks: call it on a worker.
    static RemoteClipboardFileCaptureResult captureFile(const std::filesystem::path& path,
                                                        std::size_t byteLimit,
                                                        const FileContentTypeDetector* typeDetector);

    // $XDG_RUNTIME_DIR when it is set to an existing absolute directory, else "quillbridge" in the cache
    // directory ($XDG_CACHE_HOME or ~/.cache), created owner-only when missing. Blocks on the file system.
    static std::optional<std::filesystem::path> defaultReceivedFilesLocation();

private:
    asio::awaitable<RemoteClipboardCaptureResult> snapshot();
    asio::awaitable<bool> applyOnActor(std::shared_ptr<const std::vector<ClipboardItem>> items);
    asio::awaitable<std::optional<RemoteClipboardFileCaptureResult>> captureFileItem(
        const DesktopClipboardItem& item, std::size_t byteLimit);
    // On the main actor: builds every item first and writes only when all of them could be built. The
    // number of the write (counted on the main actor) on success, nothing on failure.
    std::optional<std::uint64_t> writeToPasteboard(const std::vector<ClipboardItem>& items,
                                                   const std::optional<ClipboardMaterializedFiles>& files);

    Actor actor_;
    asio::any_io_executor mainExecutor_;
    asio::any_io_executor fileExecutor_;
    DesktopClipboard& clipboard_;
    const FileContentTypeDetector* typeDetector_;
    ReceivedFilesLocation receivedFilesLocation_;

    // Main actor only: how many writes have reached the clipboard.
    std::uint64_t writeCount_ = 0;
    // Strand only: the files of the last successful apply, and the number of its write. Two applies may
    // interleave at their awaits; the later write wins, whichever apply finishes first.
    std::optional<ClipboardMaterializedFiles> installedFiles_;
    std::uint64_t installedWrite_ = 0;
};

}  // namespace quillbridge
