// The clipboard between the host as the application builds it and a headset, both ways, over the real X11
// clipboard of the environment's Xvfb: Qt's application object runs its event loop on the process's main
// thread, which is where the host's main actor (and every desktop clipboard call) runs, while the tests run
// on a thread of their own. Other X11 clients (xclip, the clipboard test helper) stand for the desktop's
// applications. Run through run-e2e-environment.sh.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QMetaObject>

#include "EndToEndHostFixture.hpp"
#include "core/MainActorExecutor.hpp"
#include "input/ClipboardMimeMapping.hpp"
#include "input/ClipboardURL.hpp"
#include "platform/linux/qt/QtMainThreadQueue.hpp"
#include "support/PipedChildProcess.hpp"
#include "wire/ClipboardTransferPayload.hpp"
#include "wire/StreamControlMessage.hpp"

namespace quillbridge {
namespace {

using Case = StreamControlMessage::Case;
using Result = ClipboardTransferResultCode;

// The main actor on Qt's event loop, set by main() when the suite runs with an X display.
std::optional<asio::any_io_executor> qtMainActor;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& path, const Bytes& data) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// A PNG of noise, stored without compression: about 20 MB that no step can shrink.
const Bytes& largeImage() {
    static const Bytes image = [] {
        QImage picture(2240, 2240, QImage::Format_ARGB32);
        std::mt19937 random(2026);
        for (int row = 0; row < picture.height(); ++row) {
            auto* pixels = reinterpret_cast<std::uint32_t*>(picture.scanLine(row));
            std::generate(pixels, pixels + picture.width(),
                          [&] { return static_cast<std::uint32_t>(random()); });
        }
        QByteArray encoded;
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG", 100);
        return Bytes(encoded.begin(), encoded.end());
    }();
    return image;
}

// One X11 clipboard target as another client (xclip) reads it; nothing when it cannot be read.
std::optional<Bytes> desktopClipboard(const std::string& target) {
    const std::string command = "xclip -selection clipboard -o -t '" + target + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return std::nullopt;
    }
    Bytes data;
    char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
        data.insert(data.end(), buffer, buffer + count);
    }
    if (pclose(pipe.release()) != 0) {
        return std::nullopt;
    }
    return data;
}

// The clipboard test helper owning the X11 clipboard with the given formats until it is destroyed.
class ClipboardOwner {
public:
    explicit ClipboardOwner(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "offer");
        const auto child = startPipedChild(std::getenv("QUILLBRIDGE_CLIPBOARD_HELPER"), std::move(arguments));
        pid_ = child.pid;
        toChild_ = child.toChild;
        fromChild_ = child.fromChild;
    }

    ~ClipboardOwner() {
        if (toChild_ >= 0) {
            ::close(toChild_);
        }
        if (pid_ > 0) {
            // It quits when its input closes; if it does not within the bound, it is killed.
            if (!waitUntil([&] { return ::waitpid(pid_, nullptr, WNOHANG) != 0; })) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
        if (fromChild_ >= 0) {
            ::close(fromChild_);
        }
    }

    ClipboardOwner(const ClipboardOwner&) = delete;
    ClipboardOwner& operator=(const ClipboardOwner&) = delete;

    // Whether it announced that it owns the clipboard.
    bool waitUntilReady() {
        if (fromChild_ < 0) {
            return false;
        }
        std::string received;
        return waitUntil([&] {
            pollfd descriptor{fromChild_, POLLIN, 0};
            while (::poll(&descriptor, 1, 0) > 0) {
                char buffer[256];
                const auto count = ::read(fromChild_, buffer, sizeof buffer);
                if (count <= 0) {
                    return false;
                }
                received.append(buffer, static_cast<std::size_t>(count));
            }
            return received.find("ready\n") != std::string::npos;
        });
    }

private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
};

ClipboardRepresentation representation(std::string type, Bytes data) {
    return *ClipboardRepresentation::make(std::move(type), std::move(data));
}

ClipboardTransferPayload payloadOf(std::vector<ClipboardItem> items) {
    return *ClipboardTransferPayload::make(std::move(items));
}

class EndToEndClipboardTest : public EndToEndHostFixture {
protected:
    EndToEndClipboardTest() : EndToEndHostFixture(qtMainActor) {}

    void SetUp() override {
        if (!qtMainActor) {
            GTEST_SKIP()
                << "needs an X display for Qt's clipboard: run through tests/e2e/run-e2e-environment.sh";
        }
        EndToEndHostFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        // Reading 20 MB off the X11 clipboard takes a while under the sanitizers.
        HeadsetSimulator::Options options;
        options.responseTimeout = endToEndWaitBound;
        simulator = makeHeadset(std::move(options));
        onHeadset([&] { return simulator->connect(); });
        pair(*simulator);
        startStreaming(*simulator, StreamConfigurationMessage{});
    }

    void TearDown() override {
        if (simulator) {
            onHeadset([&] { return simulator->disconnect(); });
            simulator.reset();
        }
        EndToEndHostFixture::TearDown();
    }

    Result paste(const ClipboardTransferPayload& payload) {
        return onHeadset([&] { return simulator->pasteToHost(payload, ++transferID); });
    }

    HeadsetSimulator::ClipboardCopyResult copy() {
        return onHeadset([&] { return simulator->copyFromHost(++transferID); });
    }

    // The clipboard results the host sent for a transfer, in order.
    std::vector<Result> resultsFor(std::uint64_t transfer) {
        return readHeadset([&] {
            std::vector<Result> results;
            for (const auto& message : simulator->receivedMessages()) {
                const auto* result = message.get<Case::clipboardTransferResult>();
                if (result != nullptr && result->transferID == transfer) {
                    results.push_back(result->result);
                }
            }
            return results;
        });
    }

    Headset simulator;
    std::uint64_t transferID = 100;
};

TEST_F(EndToEndClipboardTest, HeadsetPastesTextFilesAndALargeImageOntoTheDesktop) {
    const std::string text = "Grüße from the headset ✓";
    ASSERT_EQ(paste(payloadOf({*ClipboardItem::make({representation("public.utf8-plain-text", bytesOf(text))},
                                                    std::nullopt)})),
              Result::succeeded);
    EXPECT_EQ(desktopClipboard("UTF8_STRING"), bytesOf(text));

    // Two files: written by the host, the clipboard lists them as file URLs.
    const Bytes notes = bytesOf("first file\nwith two lines\n");
    Bytes table = bytesOf("name,value\n");
    for (int row = 0; row < 20000; ++row) {
        table.push_back(static_cast<std::uint8_t>('a' + row % 26));
        table.push_back('\n');
    }
    ASSERT_EQ(
        paste(payloadOf({*ClipboardItem::make({representation("public.plain-text", notes)},
                                              ClipboardFileMetadata::make("notes.txt", "public.plain-text")),
                         *ClipboardItem::make({representation("public.comma-separated-values-text", table)},
                                              ClipboardFileMetadata::make(
                                                  "table.csv", "public.comma-separated-values-text"))})),
        Result::succeeded);
    const auto listed = desktopClipboard(std::string(ClipboardMimeMapping::uriListMimeType));
    ASSERT_TRUE(listed);
    const auto urls = ClipboardMimeMapping::listedURLs(ClipboardMimeMapping::uriListMimeType,
                                                       std::string(listed->begin(), listed->end()));
    ASSERT_EQ(urls.size(), 2u);
    const auto first = ClipboardURL::filePath(urls[0]);
    const auto second = ClipboardURL::filePath(urls[1]);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->filename().string(), "notes.txt");
    EXPECT_EQ(second->filename().string(), "table.csv");
    EXPECT_EQ(readFile(*first), notes);
    EXPECT_EQ(readFile(*second), table);

    // The image goes on as it came: the PNG's bytes.
    const Bytes& image = largeImage();
    ASSERT_GT(image.size(), 20'000'000u);
    ASSERT_EQ(paste(payloadOf({*ClipboardItem::make({representation("public.png", image)}, std::nullopt)})),
              Result::succeeded);
    const auto pasted = desktopClipboard("image/png");
    ASSERT_TRUE(pasted);
    EXPECT_EQ(pasted->size(), image.size());
    EXPECT_TRUE(*pasted == image);
}

TEST_F(EndToEndClipboardTest, HeadsetCopiesTextFilesAndALargeImageFromTheDesktop) {
    {
        const std::string text = "Copied on the desktop — 42 €";
        ClipboardOwner owner({"--text", text});
        ASSERT_TRUE(owner.waitUntilReady());
        const auto copied = copy();
        ASSERT_EQ(copied.result, Result::succeeded);
        ASSERT_TRUE(copied.payload);
        ASSERT_EQ(copied.payload->items().size(), 1u);
        const auto* value = copied.payload->items()[0].representation("public.utf8-plain-text");
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->data(), bytesOf(text));
    }
    {
        // Two files: each its own item, named and holding the file's bytes.
        const Bytes report = bytesOf("quarterly report\n");
        Bytes binary(300'000);
        std::mt19937 random(7);
        std::generate(binary.begin(), binary.end(), [&] { return static_cast<std::uint8_t>(random()); });
        writeFile(root / "report.txt", report);
        writeFile(root / "archive.bin", binary);
        ClipboardOwner owner(
            {"--file", (root / "report.txt").string(), "--file", (root / "archive.bin").string()});
        ASSERT_TRUE(owner.waitUntilReady());
        const auto copied = copy();
        ASSERT_EQ(copied.result, Result::succeeded);
        ASSERT_TRUE(copied.payload);
        std::vector<std::pair<std::string, Bytes>> files;
        for (const auto& item : copied.payload->items()) {
            if (item.fileMetadata()) {
                const auto* contents = item.representation(item.fileMetadata()->contentTypeIdentifier());
                ASSERT_NE(contents, nullptr);
                files.emplace_back(item.fileMetadata()->suggestedFilename(), contents->data());
            }
        }
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files[0].first, "report.txt");
        EXPECT_EQ(files[0].second, report);
        EXPECT_EQ(files[1].first, "archive.bin");
        EXPECT_TRUE(files[1].second == binary);
    }
    {
        const Bytes& image = largeImage();
        writeFile(root / "large.png", image);
        ClipboardOwner owner({"--png", (root / "large.png").string()});
        ASSERT_TRUE(owner.waitUntilReady());
        const auto copied = copy();
        ASSERT_EQ(copied.result, Result::succeeded);
        ASSERT_TRUE(copied.payload);
        ASSERT_FALSE(copied.payload->items().empty());
        const auto* png = copied.payload->items()[0].representation("public.png");
        ASSERT_NE(png, nullptr);
        EXPECT_EQ(png->data().size(), image.size());
        EXPECT_TRUE(png->data() == image);
    }
}

TEST_F(EndToEndClipboardTest, CopyCancelledWhileItFlowsIsAnsweredCancelledOnce) {
    writeFile(root / "large.png", largeImage());
    const std::uint64_t cancelled = ++transferID;
    {
        ClipboardOwner owner({"--png", (root / "large.png").string()});
        ASSERT_TRUE(owner.waitUntilReady());
        // The host opens the stream and starts sending; the headset reads nothing of it and cancels.
        onHeadset([&] {
            return simulator->send(StreamControlMessage::make<Case::clipboardTransferRequest>(
                ClipboardTransferRequestMessage{cancelled, ClipboardTransferOperation::copyFromMac}));
        });
        ASSERT_TRUE(waitUntil(
            [&] { return readHeadset([&] { return simulator->hasHostClipboardStream(cancelled); }); }));
        onHeadset([&] {
            return simulator->send(StreamControlMessage::make<Case::clipboardTransferCancel>(
                ClipboardTransferCancelMessage{cancelled, ClipboardTransferOperation::copyFromMac}));
        });
        ASSERT_TRUE(waitUntil([&] { return !resultsFor(cancelled).empty(); }));
    }

    // The next copy is accepted, so the cancelled one has been retired, and its answer was the only one.
    ClipboardOwner owner({"--text", "after the cancel"});
    ASSERT_TRUE(owner.waitUntilReady());
    const auto next = copy();
    EXPECT_EQ(next.result, Result::succeeded);
    EXPECT_EQ(resultsFor(cancelled), std::vector<Result>{Result::cancelled});
}

}  // namespace
}  // namespace quillbridge

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (std::getenv("QUILLBRIDGE_TEST_E2E") == nullptr || std::getenv("DISPLAY") == nullptr) {
        return RUN_ALL_TESTS();
    }
    // The real X11 clipboard of the display, never an off-screen one.
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QGuiApplication application(argc, argv);
    // Timers and I/O objects of the main actor keep their services on a loop of their own.
    quillbridge::EventLoopThread services;
    quillbridge::qtMainActor = asio::any_io_executor(
        quillbridge::MainActorExecutor(std::make_shared<quillbridge::QtMainThreadQueue>(), services.context));
    int status = 1;
    std::thread tests([&] {
        status = RUN_ALL_TESTS();
        QMetaObject::invokeMethod(
            &application, [] { QCoreApplication::exit(); }, Qt::QueuedConnection);
    });
    QGuiApplication::exec();
    tests.join();
    quillbridge::qtMainActor.reset();
    return status;
}
