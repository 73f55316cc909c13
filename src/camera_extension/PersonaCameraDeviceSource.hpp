#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "camera_extension/CameraDeviceHost.hpp"
#include "camera_extension/CameraExtensionLogger.hpp"
#include "camera_extension/CameraFrameMirror.hpp"
#include "camera_extension/CameraHostClock.hpp"
#include "camera_extension/CameraNotificationCenter.hpp"
#include "camera_extension/CameraStateQueue.hpp"
#include "camera_extension/PersonaCameraStreamSource.hpp"

namespace quillbridge {

// The camera device "Quillbridge Persona Camera": its two streams and the loop that moves every buffer the
// host enqueues on the sink stream to the apps on the source stream, acknowledges it to the host, and tells
// the host through the demand notifications whether any app records from the camera.
//
// All streaming state lives on the state queue. Platform callbacks (stream starts and stops, consume
// completions, demand queries) only queue work there; that work holds the device source weakly, so nothing
// runs once it is gone.
class PersonaCameraDeviceSource : public std::enable_shared_from_this<PersonaCameraDeviceSource> {
public:
    struct Environment {
        CameraDeviceHost& deviceHost;
        CameraNotificationCenter& notifications;
        CameraStateQueue& stateQueue;
        const CameraHostClock& hostClock;
        CameraExtensionLogger logger;
        CameraFrameMirror* frameMirror = nullptr;  // optional
    };

    static constexpr std::size_t retainedSourceBufferLimit = 10;
    static constexpr std::chrono::milliseconds initialRetryDelay{10};
    static constexpr std::chrono::milliseconds maximumRetryDelay{1000};
    static constexpr std::chrono::milliseconds sinkPollInterval{33};

    // Sets the device up: observes the demand query, makes the format, adds the source and then the sink
    // stream, and posts demand-stopped so that a host already running starts from no demand. Each failure is
    // logged and yields nothing. Call on the main thread.
    static std::shared_ptr<PersonaCameraDeviceSource> create(std::string_view localizedName,
                                                             Environment environment);

    // Stops observing the demand query and withdraws the streams.
    ~PersonaCameraDeviceSource();
    PersonaCameraDeviceSource(const PersonaCameraDeviceSource&) = delete;
    PersonaCameraDeviceSource& operator=(const PersonaCameraDeviceSource&) = delete;

    const std::string& localizedName() const { return localizedName_; }
    const std::shared_ptr<PersonaCameraStreamSource>& sourceStreamSource() const {
        return sourceStreamSource_;
    }
    const std::shared_ptr<PersonaCameraStreamSource>& sinkStreamSource() const { return sinkStreamSource_; }

    // From any thread: queue the matching step on the state queue.
    void queueStreamStarted(CameraStreamDirection direction);
    void queueStreamStopped(CameraStreamDirection direction);
    void queueDemandQuery();

    // Read on the state queue.
    std::size_t retainedSourceBufferCount() const { return retainedSourceBuffers_.size(); }

private:
    struct ConstructionKey {};

public:
    PersonaCameraDeviceSource(ConstructionKey, std::string_view localizedName, Environment environment);

private:
    bool setUp();
    void queueStep(void (PersonaCameraDeviceSource::*step)());

    // State-queue steps.
    void sourceStarted();
    void sourceStopped();
    void answerDemandQuery();
    void sinkStarted();
    void sinkStopped();
    void requestNextSinkBuffer();
    void requestNextSinkBufferAfter(std::chrono::milliseconds delay);
    std::chrono::milliseconds takeRetryDelay();
    void handleConsumeCompletion(std::uint64_t generation, CameraSinkConsumeResult result);
    void deliverConsumedBuffer(const CameraSinkConsumeResult& result);
    void sendToSource(const CameraSinkSampleBuffer& consumed, const CameraSinkConsumeResult& result,
                      std::int64_t presentationTimeNanoseconds, std::uint64_t deliveryHostTimeNanoseconds);
    void logOnce(bool& flag, std::string_view message);

    std::string localizedName_;
    Environment environment_;
    bool didAddStreams_ = false;
    std::shared_ptr<PersonaCameraStreamSource> sourceStreamSource_;
    std::shared_ptr<PersonaCameraStreamSource> sinkStreamSource_;

    // Streaming state, touched only on the state queue.
    std::uint32_t sourceStreamingCount_ = 0;
    std::uint32_t sinkStreamingCount_ = 0;
    std::optional<CameraStreamClientID> sinkClient_;
    bool isWaitingForSinkBuffer_ = false;
    std::uint64_t sinkConsumptionGeneration_ = 0;
    bool didLogWaitingForSinkClient_ = false;
    bool didLogFirstConsumedBuffer_ = false;
    bool didLogFirstSentBuffer_ = false;
    bool didLogFirstScheduledOutput_ = false;
    // A source buffer that cannot be made fails again on every frame: logged once until one is sent or the
    // sink restarts.
    bool didLogSourcePreparationFailure_ = false;
    std::optional<std::string> lastLoggedSinkError_;
    std::deque<std::shared_ptr<CameraSourceSampleBuffer>> retainedSourceBuffers_;
    std::chrono::milliseconds sinkFailureRetryDelay_ = initialRetryDelay;
};

}  // namespace quillbridge
