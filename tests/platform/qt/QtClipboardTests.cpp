#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QMimeData>
#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include "core/MainActorExecutor.hpp"
#include "core/ManualClock.hpp"
#include "input/ClipboardMimeMapping.hpp"
#include "input/ClipboardURL.hpp"
#include "input/MacKeyboardInputSourceSwitcher.hpp"
#include "input/MacKeyboardLockController.hpp"
#include "input/RemoteClipboardController.hpp"
#include "input/RemoteKeyboardController.hpp"
#include "platform/linux/qt/QtDesktopClipboard.hpp"
#include "platform/linux/qt/QtFileContentTypeDetector.hpp"
#include "platform/linux/qt/QtMainThreadQueue.hpp"
#include "platform/linux/x11/XTestInputPoster.hpp"
#include "platform/linux/x11/XkbKeyboardLayouts.hpp"
#include "platform/linux/x11/XkbKeyboardLockPort.hpp"
#include "support/FakeDefaultsStore.hpp"
#include "support/PipedChildProcess.hpp"

namespace quillbridge {
namespace {

using namespace std::chrono_literals;

// Generous bound for anything that waits on another process or the X server.
constexpr auto patience = 20s;

// Runs Qt's event loop on this (the GUI) thread until the condition holds or the bound passes.
template <class Condition>
bool processEventsUntil(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::yield();
    }
    return true;
}

// The test helper program as a child process: lines from its standard output, and it quits when its
// standard input closes.
class HelperProcess {
public:
    explicit HelperProcess(std::vector<std::string> arguments) {
        const auto child = startPipedChild(std::getenv("QUILLBRIDGE_CLIPBOARD_HELPER"), std::move(arguments));
        pid_ = child.pid;
        toChild_ = child.toChild;
        fromChild_ = child.fromChild;
    }

    ~HelperProcess() {
        if (toChild_ >= 0)
            ::close(toChild_);
        if (pid_ > 0) {
            // It quits when its input closes; if it does not within the bound, it is killed.
            auto deadline = std::chrono::steady_clock::now() + patience;
            while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > deadline) {
                    ::kill(pid_, SIGKILL);
                    ::waitpid(pid_, nullptr, 0);
                    break;
                }
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            }
        }
        if (fromChild_ >= 0)
            ::close(fromChild_);
    }

    // Waits (serving our own X11 requests meanwhile) for a line that starts with the prefix.
    std::optional<std::string> waitForLine(std::string_view prefix) {
        std::optional<std::string> found;
        processEventsUntil([&] {
            pollfd descriptor{fromChild_, POLLIN, 0};
            while (::poll(&descriptor, 1, 0) > 0) {
                char buffer[256];
                auto count = ::read(fromChild_, buffer, sizeof buffer);
                if (count <= 0)
                    return true;  // the helper is gone
                pending_.append(buffer, static_cast<std::size_t>(count));
            }
            for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
                auto line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                if (line.starts_with(prefix)) {
                    found = line;
                    return true;
                }
            }
            return false;
        });
        return found;
    }

private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string pending_;
};

// Runs a shell command on a worker and returns its standard output, serving our X11 requests meanwhile
// (the command may be a client reading the clipboard that we own).
std::optional<std::string> outputOf(const std::string& command) {
    auto result = std::async(std::launch::async, [command] {
        std::string output;
        FILE* pipe = ::popen(("timeout 15 " + command).c_str(), "r");
        if (!pipe)
            return output;
        char buffer[4096];
        std::size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, count);
        ::pclose(pipe);
        return output;
    });
    if (!processEventsUntil([&] { return result.wait_for(0s) == std::future_status::ready; }))
        return std::nullopt;
    return result.get();
}

std::string readClipboardTarget(const std::string& target) {
    return outputOf("xclip -selection clipboard -o -t " + target).value_or("<timed out>");
}

Bytes pngImage() {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(bytes.begin(), bytes.end());
}

void writeFile(const std::filesystem::path& path, ByteView contents) {
    std::ofstream stream(path, std::ios::binary);
    stream.write(reinterpret_cast<const char*>(contents.data()),
                 static_cast<std::streamsize>(contents.size()));
}

class QtClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qApp)
            GTEST_SKIP() << "needs an X server: run under tests/support/run-desktop-services.sh --x11";
        if (!std::getenv("QUILLBRIDGE_CLIPBOARD_HELPER"))
            GTEST_SKIP() << "QUILLBRIDGE_CLIPBOARD_HELPER names no helper program";
        char pattern[] = "/tmp/quillbridge-qt-clipboard.XXXXXX";
        directory_ = ::mkdtemp(pattern);
        worker_ = std::thread([this] { context_.run(); });
    }

    void TearDown() override {
        if (!worker_.joinable())
            return;
        workGuard_.reset();
        worker_.join();
        std::error_code error;
        std::filesystem::remove_all(directory_, error);
    }

    // Runs the awaitable on the controller's context while this thread serves the main actor.
    template <class T>
    std::optional<T> await(asio::awaitable<T> awaitable) {
        auto future = asio::co_spawn(context_, std::move(awaitable), asio::use_future);
        if (!processEventsUntil([&] { return future.wait_for(0s) == std::future_status::ready; }))
            return std::nullopt;
        return future.get();
    }

    std::filesystem::path directory_;
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> workGuard_{context_.get_executor()};
    std::thread worker_;
    QtDesktopClipboard clipboard_;
    QtFileContentTypeDetector detector_;
    RemoteClipboardController controller_{context_.get_executor(),
                                          MainActorExecutor(std::make_shared<QtMainThreadQueue>(), context_),
                                          context_.get_executor(), clipboard_, &detector_};
};

TEST_F(QtClipboardTest, CaptureSeesTextHtmlImageAndFilesThatAnotherClientOffers) {
    auto png = pngImage();
    writeFile(directory_ / "image.png", png);
    writeFile(directory_ / "notes.txt", asBytes("first file"));
    writeFile(directory_ / "data one.csv", asBytes("a,b\n1,2\n"));
    HelperProcess helper({"offer", "--text", "hello from X11", "--html", "<b>hello</b>", "--png",
                          (directory_ / "image.png").string(), "--file", (directory_ / "notes.txt").string(),
                          "--file", (directory_ / "data one.csv").string()});
    ASSERT_TRUE(helper.waitForLine("ready"));
    // Our process learns of the new owner through its event queue.
    ASSERT_TRUE(processEventsUntil([] {
        const auto* data = QGuiApplication::clipboard()->mimeData();
        return data && data->hasFormat("image/png") && data->hasFormat("text/uri-list");
    }));

    auto result = await(controller_.captureClipboard());
    ASSERT_TRUE(result);
    ASSERT_EQ(result->kind, RemoteClipboardCaptureResult::Kind::captured);
    const auto& items = result->payload->items();
    ASSERT_EQ(items.size(), 2u);

    // The first file item carries its file first, then the clipboard's other formats.
    EXPECT_EQ(items[0].fileMetadata(), ClipboardFileMetadata::make("notes.txt", "public.plain-text"));
    ASSERT_GE(items[0].representations().size(), 4u);
    EXPECT_EQ(items[0].representations()[0].typeIdentifier(), "public.plain-text");
    EXPECT_EQ(asText(items[0].representations()[0].data()), "first file");
    const auto* text = items[0].representation("public.utf8-plain-text");
    ASSERT_TRUE(text);
    EXPECT_EQ(asText(text->data()), "hello from X11");
    const auto* html = items[0].representation("public.html");
    ASSERT_TRUE(html);
    EXPECT_NE(asText(html->data()).find("<b>hello</b>"), std::string_view::npos);
    const auto* image = items[0].representation("public.png");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->data(), png);
    for (const auto& representation : items[0].representations())
        EXPECT_NE(representation.typeIdentifier(), "public.file-url");

    EXPECT_EQ(items[1].fileMetadata(),
              ClipboardFileMetadata::make("data one.csv", "public.comma-separated-values-text"));
    ASSERT_EQ(items[1].representations().size(), 1u);
    EXPECT_EQ(asText(items[1].representations()[0].data()), "a,b\n1,2\n");
}

TEST_F(QtClipboardTest, ApplyOffersTextImageAndFilesThatAnotherClientReads) {
    auto png = pngImage();
    auto textItem = *ClipboardItem::make(
        {*ClipboardRepresentation::make("public.utf8-plain-text", toBytes("héllo desktop")),
         *ClipboardRepresentation::make("public.png", png)},
        std::nullopt);
    auto fileItem = [](std::string name, std::string contents) {
        return *ClipboardItem::make({*ClipboardRepresentation::make("public.plain-text", toBytes(contents))},
                                    ClipboardFileMetadata::make(name, "public.plain-text"));
    };
    auto payload = ClipboardTransferPayload::make(
        {textItem, fileItem("one.txt", "file one"), fileItem("two words.txt", "file two")});
    ASSERT_TRUE(payload);
    auto applied = await(controller_.applyRemoteClipboard(std::move(*payload)));
    ASSERT_TRUE(applied);
    ASSERT_TRUE(*applied);

    EXPECT_EQ(readClipboardTarget("UTF8_STRING"), "héllo desktop");
    auto readPng = readClipboardTarget("image/png");
    EXPECT_EQ(Bytes(readPng.begin(), readPng.end()), png);

    auto uriList = readClipboardTarget("text/uri-list");
    auto urls = ClipboardMimeMapping::listedURLs("text/uri-list", uriList);
    ASSERT_EQ(urls.size(), 2u) << uriList;
    const std::vector<std::pair<std::string, std::string>> expected{{"one.txt", "file one"},
                                                                    {"two words.txt", "file two"}};
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    for (std::size_t index = 0; index < urls.size(); ++index) {
        SCOPED_TRACE(urls[index]);
        auto path = ClipboardURL::filePath(urls[index]);
        ASSERT_TRUE(path);
        EXPECT_EQ(path->filename(), expected[index].first);
        std::ifstream stream(*path);
        std::string contents((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        EXPECT_EQ(contents, expected[index].second);
        // The item folder and the clipboard folder above it are owner-only.
        for (auto folder : {path->parent_path(), path->parent_path().parent_path()}) {
            struct stat status {};
            ASSERT_EQ(::stat(folder.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, 0700u) << folder;
        }
        if (runtime) {
            EXPECT_EQ(path->parent_path().parent_path().parent_path(), std::filesystem::path(runtime));
        }
    }
    auto copied = readClipboardTarget("x-special/gnome-copied-files");
    EXPECT_EQ(ClipboardMimeMapping::listedURLs("x-special/gnome-copied-files", copied), urls);
}

TEST_F(QtClipboardTest, PasteChordPastesAppliedTextIntoTheFocusedField) {
    auto payload = ClipboardTransferPayload::make({*ClipboardItem::make(
        {*ClipboardRepresentation::make("public.utf8-plain-text", toBytes("pasted by chord"))},
        std::nullopt)});
    auto applied = await(controller_.applyRemoteClipboard(std::move(*payload)));
    ASSERT_TRUE(applied && *applied);

    // The remote keyboard on the real XTest poster, as the session has it.
    auto poster = XTestInputPoster::open();
    ASSERT_TRUE(poster);
    auto layouts = XkbKeyboardLayouts::open();
    ASSERT_TRUE(layouts);
    ManualClock clock;
    FakeDefaultsStore defaults;
    RemoteKeyboardController keyboard(RemoteKeyboardController::Dependencies{
        *poster,
        *poster,
        *layouts,
        clock,
        std::make_unique<MacKeyboardLockController>(std::make_unique<XkbKeyboardLockPort>()),
        std::make_unique<MacKeyboardInputSourceSwitcher>(*layouts, defaults),
        {}});

    HelperProcess field({"paste-field"});
    ASSERT_TRUE(field.waitForLine("ready"));
    // The session's paste chord, command+V, which the desktop receives as Control+V.
    const RemoteKeyboardKey pasteChord[] = {RemoteKeyboardKey::command, RemoteKeyboardKey::v};
    keyboard.eventQueue().sync([&] { keyboard.pressChord(pasteChord); });
    auto line = field.waitForLine("text:");
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "text:pasted by chord");
}

}  // namespace
}  // namespace quillbridge

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QApplication> application;
    if (std::getenv("QUILLBRIDGE_TEST_X11") && std::getenv("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        application = std::make_unique<QApplication>(argc, argv);
    }
    return RUN_ALL_TESTS();
}
