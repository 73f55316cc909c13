#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "camera_extension/CameraDeviceHost.hpp"
#include "camera_extension/CameraFrameMirror.hpp"

namespace quillbridge {

// A consumed sink buffer for tests; counts how many are still held.
class FakeCameraSinkSampleBuffer final : public CameraSinkSampleBuffer {
public:
    FakeCameraSinkSampleBuffer(std::shared_ptr<int> liveCount, std::optional<std::int64_t> presentationTime,
                               bool hasImage)
        : liveCount_(std::move(liveCount)), presentationTime_(presentationTime), hasImage_(hasImage) {
        ++*liveCount_;
    }
    ~FakeCameraSinkSampleBuffer() override { --*liveCount_; }

    std::optional<CameraImage> image() const override {
        if (!hasImage_)
            return std::nullopt;
        static const std::uint8_t pixel = 0;
        return CameraImage{&pixel, 0, &pixel, 0};
    }
    std::optional<std::int64_t> presentationTimeNanoseconds() const override { return presentationTime_; }

private:
    std::shared_ptr<int> liveCount_;
    std::optional<std::int64_t> presentationTime_;
    bool hasImage_;
};

// The sink stream for tests: the test sets the streaming clients, sees every consume request and completes
// them itself, and reads the acknowledgements.
class FakeCameraSinkStream final : public CameraSinkStream {
public:
    struct Request {
        CameraStreamClientID client;
        ConsumeCompletion completion;
    };
    struct Acknowledgement {
        std::uint64_t sequenceNumber;
        std::uint64_t hostTimeNanoseconds;
        bool operator==(const Acknowledgement&) const = default;
    };

    std::vector<CameraStreamClientID> streamingClients() const override { return clients; }
    void consumeSampleBuffer(CameraStreamClientID client, ConsumeCompletion completion) override {
        requests.push_back(Request{client, std::move(completion)});
        ++requestCount;
    }
    void notifyScheduledOutputChanged(std::uint64_t sequenceNumber,
                                      std::uint64_t hostTimeNanoseconds) override {
        acknowledgements.push_back({sequenceNumber, hostTimeNanoseconds});
    }

    // A result carrying a buffer (held by the result until it is released).
    CameraSinkConsumeResult buffer(std::uint64_t sequenceNumber,
                                   std::optional<std::int64_t> presentationTime = {}, bool hasMore = false,
                                   bool hasImage = true) {
        CameraSinkConsumeResult result;
        result.sampleBuffer =
            std::make_shared<FakeCameraSinkSampleBuffer>(heldBufferCount, presentationTime, hasImage);
        result.sequenceNumber = sequenceNumber;
        result.hasMoreSampleBuffers = hasMore;
        return result;
    }
    static CameraSinkConsumeResult failure(std::string description) {
        CameraSinkConsumeResult result;
        result.error = std::move(description);
        return result;
    }

    // Completes the oldest outstanding request.
    void complete(CameraSinkConsumeResult result) {
        auto request = std::move(requests.front());
        requests.pop_front();
        request.completion(std::move(result));
    }

    std::vector<CameraStreamClientID> clients{41};
    std::deque<Request> requests;
    int requestCount = 0;
    std::vector<Acknowledgement> acknowledgements;
    std::shared_ptr<int> heldBufferCount = std::make_shared<int>(0);
};

class FakeCameraSourceSampleBuffer final : public CameraSourceSampleBuffer {
public:
    explicit FakeCameraSourceSampleBuffer(std::int64_t presentationTime)
        : presentationTimeNanoseconds(presentationTime) {}
    std::int64_t presentationTimeNanoseconds;
};

// The source stream for tests: records what was sent; making a buffer fails while `failToMake` is set.
class FakeCameraSourceStream final : public CameraSourceStream {
public:
    struct Sent {
        std::int64_t presentationTimeNanoseconds;
        std::uint32_t discontinuityFlags;
        std::uint64_t hostTimeNanoseconds;
        bool operator==(const Sent&) const = default;
    };

    std::shared_ptr<CameraSourceSampleBuffer> makeSampleBuffer(
        const CameraSinkSampleBuffer&, std::int64_t presentationTimeNanoseconds) override {
        if (failToMake)
            return nullptr;
        return std::make_shared<FakeCameraSourceSampleBuffer>(presentationTimeNanoseconds);
    }
    void sendSampleBuffer(const std::shared_ptr<CameraSourceSampleBuffer>& sampleBuffer,
                          std::uint32_t discontinuityFlags, std::uint64_t hostTimeNanoseconds) override {
        auto& sample = static_cast<const FakeCameraSourceSampleBuffer&>(*sampleBuffer);
        sent.push_back({sample.presentationTimeNanoseconds, discontinuityFlags, hostTimeNanoseconds});
        lastSent = sampleBuffer;
    }

    bool failToMake = false;
    std::vector<Sent> sent;
    std::weak_ptr<CameraSourceSampleBuffer> lastSent;
};

// The platform's device for tests: each step fails when the test says so, and the test starts and stops the
// streams as apps and the host would.
class FakeCameraDeviceHost final : public CameraDeviceHost {
public:
    int makeStreamFormat() override { return formatStatus; }
    std::optional<std::string> addStreams(
        std::weak_ptr<PersonaCameraStreamSource> sourceStreamSource,
        std::weak_ptr<PersonaCameraStreamSource> sinkStreamSource) override {
        source = std::move(sourceStreamSource);
        sink = std::move(sinkStreamSource);
        return streamsFailure;
    }
    void removeStreams() override { ++removeStreamsCount; }
    std::optional<std::string> addDevice() override { return deviceFailure; }
    CameraSourceStream& sourceStream() override { return sourceStreamFake; }
    CameraSinkStream& sinkStream() override { return sinkStreamFake; }

    void startSource() { source.lock()->startStream(); }
    void stopSource() { source.lock()->stopStream(); }
    void startSink() { sink.lock()->startStream(); }
    void stopSink() { sink.lock()->stopStream(); }

    int formatStatus = 0;
    std::optional<std::string> streamsFailure;
    std::optional<std::string> deviceFailure;
    int removeStreamsCount = 0;
    std::weak_ptr<PersonaCameraStreamSource> source;
    std::weak_ptr<PersonaCameraStreamSource> sink;
    FakeCameraSourceStream sourceStreamFake;
    FakeCameraSinkStream sinkStreamFake;
};

class RecordingCameraFrameMirror final : public CameraFrameMirror {
public:
    void write(const CameraImage&) override { ++writeCount; }
    int writeCount = 0;
};

}  // namespace quillbridge
