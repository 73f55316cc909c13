#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/async_result.hpp>
#include <asio/use_awaitable.hpp>

#include "capture/CaptureStream.hpp"
#include "capture/CaptureStreamError.hpp"
#include "capture/CaptureStreamFactory.hpp"
#include "core/PendingCompletion.hpp"

namespace quillbridge {

// A scriptable capture stream. Like some platforms, it ignores a stop that arrives while it is still
// starting: a start that completes after such a stop leaves it running.
class FakeCaptureStream final : public CaptureStream {
public:
    FakeCaptureStream(int number, std::shared_ptr<std::vector<std::string>> journal,
                      CaptureContentFilter filter, CaptureStreamConfiguration configuration,
                      std::shared_ptr<CaptureStreamOutput> output)
        : number(number),
          filter(std::move(filter)),
          configuration(std::move(configuration)),
          output(std::move(output)),
          journal_(std::move(journal)) {}

    const int number;
    CaptureContentFilter filter;
    CaptureStreamConfiguration configuration;
    std::shared_ptr<CaptureStreamOutput> output;
    std::vector<CaptureStreamOutputType> outputTypes;
    bool isRunning = false;

    // Scripting.
    std::optional<CaptureStreamOutputType> refusedOutputType;
    CaptureStreamFailure failure{"FakeDomain", -1, "fake failure"};
    bool holdsStart = false;
    bool failsStart = false;
    bool failsStop = false;
    bool failsConfigurationUpdate = false;

    bool isStartPending() const { return static_cast<bool>(pendingStart_); }
    void completeStart() { pendingStart_.complete(); }

    std::expected<void, CaptureStreamFailure> addStreamOutput(CaptureStreamOutputType type) override {
        record(type == CaptureStreamOutputType::screen ? "addScreenOutput" : "addAudioOutput");
        if (refusedOutputType == type) {
            return std::unexpected(failure);
        }
        outputTypes.push_back(type);
        return {};
    }

    asio::awaitable<void> startCapture() override {
        record("start");
        if (holdsStart) {
            co_await asio::async_initiate<const asio::use_awaitable_t<>&, void()>(
                [this](auto handler) { pendingStart_ = PendingCompletion<>(std::move(handler)); },
                asio::use_awaitable);
        }
        if (failsStart) {
            throw CaptureStreamError(failure);
        }
        isRunning = true;
        record("started");
    }

    asio::awaitable<void> stopCapture() override {
        record("stop");
        isRunning = false;
        if (failsStop) {
            throw CaptureStreamError(failure);
        }
        co_return;
    }

    asio::awaitable<void> updateConfiguration(const CaptureStreamConfiguration& next) override {
        record("updateConfiguration");
        if (failsConfigurationUpdate) {
            throw CaptureStreamError(failure);
        }
        configuration = next;
        co_return;
    }

    asio::awaitable<void> updateContentFilter(const CaptureContentFilter& next) override {
        record("updateContentFilter");
        filter = next;
        co_return;
    }

private:
    void record(const std::string& event) { journal_->push_back(event + "#" + std::to_string(number)); }

    std::shared_ptr<std::vector<std::string>> journal_;
    PendingCompletion<> pendingStart_;
};

class FakeCaptureStreamFactory final : public CaptureStreamFactory {
public:
    // Every call of every stream, in order: "make#1", "start#1", "stop#1", ...
    std::shared_ptr<std::vector<std::string>> journal = std::make_shared<std::vector<std::string>>();
    std::vector<std::shared_ptr<FakeCaptureStream>> streams;
    // Applied to each new stream before it is handed out.
    std::function<void(FakeCaptureStream&)> prepare;

    std::shared_ptr<CaptureStream> makeStream(const CaptureContentFilter& filter,
                                              const CaptureStreamConfiguration& configuration,
                                              std::shared_ptr<CaptureStreamOutput> output) override {
        const int number = static_cast<int>(streams.size()) + 1;
        journal->push_back("make#" + std::to_string(number));
        auto stream =
            std::make_shared<FakeCaptureStream>(number, journal, filter, configuration, std::move(output));
        if (prepare) {
            prepare(*stream);
        }
        streams.push_back(stream);
        return stream;
    }
};

}  // namespace quillbridge
