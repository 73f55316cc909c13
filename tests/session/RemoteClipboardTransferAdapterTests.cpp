// The session's clipboard transfers carried out by a real clipboard controller on an in-memory desktop
// clipboard.

#include "session/RemoteClipboardTransferAdapter.hpp"

#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/strand.hpp>
#include <asio/use_future.hpp>

#include "support/input/FakeDesktopClipboard.hpp"

namespace quillbridge {
namespace {

using CaptureKind = RemoteClipboardCaptureResult::Kind;

constexpr const char* textType = "public.utf8-plain-text";

class RemoteClipboardTransferAdapterTest : public ::testing::Test {
protected:
    template <class T>
    T run(asio::awaitable<T> awaitable) {
        auto future = asio::co_spawn(context, std::move(awaitable), asio::use_future);
        context.restart();
        context.run();
        return future.get();
    }

    static ClipboardTransferPayload textPayload(const std::string& text) {
        auto representation = ClipboardRepresentation::make(textType, Bytes(text.begin(), text.end()));
        auto item = ClipboardItem::make({std::move(representation).value()}, std::nullopt);
        return ClipboardTransferPayload::make({std::move(item).value()}).value();
    }

    asio::io_context context;
    FakeDesktopClipboard desktop;
    RemoteClipboardController controller{
        context.get_executor(),     asio::make_strand(context), asio::make_strand(context), desktop, nullptr,
        [] { return std::nullopt; }};
    RemoteClipboardTransferAdapter adapter{controller};
};

TEST_F(RemoteClipboardTransferAdapterTest, CaptureGivesTheDesktopClipboardOrTheControllersRefusal) {
    desktop.contents =
        std::vector<FakeDesktopClipboard::Item>{{{textType, std::string("copied on the host")}}};
    auto captured = run(adapter.captureClipboard());
    ASSERT_EQ(captured.kind, CaptureKind::captured);
    ASSERT_TRUE(captured.payload);
    const auto* text = captured.payload->items().at(0).representation(textType);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(asText(text->data()), "copied on the host");

    desktop.contents = std::vector<FakeDesktopClipboard::Item>(17, {{textType, std::string("x")}});
    auto refused = run(adapter.captureClipboard());
    EXPECT_EQ(refused.kind, CaptureKind::tooLarge);
    EXPECT_EQ(refused.resultCode(), ClipboardTransferResultCode::tooLarge);
    EXPECT_FALSE(refused.payload);
}

TEST_F(RemoteClipboardTransferAdapterTest, ApplyWritesThePasteAndReportsARefusedWrite) {
    EXPECT_TRUE(run(adapter.applyRemoteClipboard(textPayload("pasted from the headset"))));
    ASSERT_TRUE(desktop.contents);
    ASSERT_EQ(desktop.contents->size(), 1u);
    const auto& entry = desktop.contents->at(0).at(0);
    EXPECT_EQ(entry.typeIdentifier, textType);
    const auto written = std::holds_alternative<std::string>(entry.value)
                             ? std::get<std::string>(entry.value)
                             : std::string(asText(std::get<Bytes>(entry.value)));
    EXPECT_EQ(written, "pasted from the headset");

    desktop.refusesWrites = true;
    EXPECT_FALSE(run(adapter.applyRemoteClipboard(textPayload("refused"))));
    EXPECT_EQ(desktop.writes.size(), 2u);
}

}  // namespace
}  // namespace quillbridge
