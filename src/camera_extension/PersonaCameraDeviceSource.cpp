#include "camera_extension/PersonaCameraDeviceSource.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {

std::shared_ptr<PersonaCameraDeviceSource> PersonaCameraDeviceSource::create(std::string_view localizedName,
                                                                             Environment environment) {
    auto deviceSource =
        std::make_shared<PersonaCameraDeviceSource>(ConstructionKey{}, localizedName, std::move(environment));
    if (!deviceSource->setUp())
        return nullptr;
    return deviceSource;
}

PersonaCameraDeviceSource::PersonaCameraDeviceSource(ConstructionKey, std::string_view localizedName,
                                                     Environment environment)
    : localizedName_(localizedName), environment_(std::move(environment)) {}

PersonaCameraDeviceSource::~PersonaCameraDeviceSource() {
    environment_.notifications.removeObserver(CameraNotifications::demandQuery);
    if (didAddStreams_)
        environment_.deviceHost.removeStreams();
}

bool PersonaCameraDeviceSource::setUp() {
    std::weak_ptr<PersonaCameraDeviceSource> weakSelf = weak_from_this();
    environment_.notifications.observe(CameraNotifications::demandQuery, [weakSelf] {
        if (auto self = weakSelf.lock())
            self->queueDemandQuery();
    });

    if (int status = environment_.deviceHost.makeStreamFormat(); status != 0) {
        environment_.logger.error("Could not create the Persona camera format: " + std::to_string(status));
        return false;
    }

    sourceStreamSource_ =
        std::make_shared<PersonaCameraStreamSource>(CameraStreamDirection::source, weakSelf);
    sinkStreamSource_ = std::make_shared<PersonaCameraStreamSource>(CameraStreamDirection::sink, weakSelf);
    if (auto failure = environment_.deviceHost.addStreams(sourceStreamSource_, sinkStreamSource_)) {
        environment_.logger.error("Could not add the Persona camera streams: " + *failure);
        environment_.deviceHost.removeStreams();
        return false;
    }
    didAddStreams_ = true;
    // A host that is already running starts from no demand.
    environment_.notifications.post(CameraNotifications::demandStopped);
    return true;
}

void PersonaCameraDeviceSource::queueStep(void (PersonaCameraDeviceSource::*step)()) {
    environment_.stateQueue.async([weakSelf = weak_from_this(), step] {
        if (auto self = weakSelf.lock())
            ((*self).*step)();
    });
}

void PersonaCameraDeviceSource::queueStreamStarted(CameraStreamDirection direction) {
    queueStep(direction == CameraStreamDirection::source ? &PersonaCameraDeviceSource::sourceStarted
                                                         : &PersonaCameraDeviceSource::sinkStarted);
}

void PersonaCameraDeviceSource::queueStreamStopped(CameraStreamDirection direction) {
    queueStep(direction == CameraStreamDirection::source ? &PersonaCameraDeviceSource::sourceStopped
                                                         : &PersonaCameraDeviceSource::sinkStopped);
}

void PersonaCameraDeviceSource::queueDemandQuery() {
    queueStep(&PersonaCameraDeviceSource::answerDemandQuery);
}

void PersonaCameraDeviceSource::sourceStarted() {
    if (++sourceStreamingCount_ != 1)
        return;
    environment_.logger.info("Persona camera source stream started");
    environment_.notifications.post(CameraNotifications::demandStarted);
}

void PersonaCameraDeviceSource::sourceStopped() {
    if (sourceStreamingCount_ > 0)
        --sourceStreamingCount_;
    if (sourceStreamingCount_ != 0)
        return;
    environment_.logger.info("Persona camera source stream stopped");
    retainedSourceBuffers_.clear();
    environment_.notifications.post(CameraNotifications::demandStopped);
}

void PersonaCameraDeviceSource::answerDemandQuery() {
    environment_.notifications.post(sourceStreamingCount_ > 0 ? CameraNotifications::demandStarted
                                                              : CameraNotifications::demandStopped);
}

void PersonaCameraDeviceSource::sinkStarted() {
    if (sinkStreamingCount_ == 0) {
        ++sinkConsumptionGeneration_;
        sinkFailureRetryDelay_ = initialRetryDelay;
    }
    ++sinkStreamingCount_;
    environment_.logger.info("Persona camera sink stream started; visible clients: " +
                             std::to_string(environment_.deviceHost.sinkStream().streamingClients().size()));
    requestNextSinkBuffer();
}

void PersonaCameraDeviceSource::sinkStopped() {
    if (sinkStreamingCount_ > 0)
        --sinkStreamingCount_;
    if (sinkStreamingCount_ != 0)
        return;
    ++sinkConsumptionGeneration_;
    isWaitingForSinkBuffer_ = false;
    environment_.logger.info("Persona camera sink stream stopped");
    sinkClient_.reset();
    didLogWaitingForSinkClient_ = false;
    didLogFirstConsumedBuffer_ = false;
    didLogFirstSentBuffer_ = false;
    didLogFirstScheduledOutput_ = false;
    didLogSourcePreparationFailure_ = false;
    lastLoggedSinkError_.reset();
    sinkFailureRetryDelay_ = initialRetryDelay;
}

std::chrono::milliseconds PersonaCameraDeviceSource::takeRetryDelay() {
    auto delay = sinkFailureRetryDelay_;
    sinkFailureRetryDelay_ = std::min(delay * 2, maximumRetryDelay);
    return delay;
}

void PersonaCameraDeviceSource::requestNextSinkBufferAfter(std::chrono::milliseconds delay) {
    environment_.stateQueue.asyncAfter(
        delay, [weakSelf = weak_from_this(), generation = sinkConsumptionGeneration_] {
            auto self = weakSelf.lock();
            if (self && generation == self->sinkConsumptionGeneration_ && self->sinkStreamingCount_ > 0)
                self->requestNextSinkBuffer();
        });
}

void PersonaCameraDeviceSource::requestNextSinkBuffer() {
    if (sinkStreamingCount_ == 0 || isWaitingForSinkBuffer_)
        return;
    CameraSinkStream& sinkStream = environment_.deviceHost.sinkStream();
    if (!sinkClient_) {
        auto clients = sinkStream.streamingClients();
        if (clients.empty()) {
            logOnce(didLogWaitingForSinkClient_,
                    "Waiting for CoreMediaIO to publish the Persona sink client");
            requestNextSinkBufferAfter(takeRetryDelay());
            return;
        }
        sinkClient_ = clients.front();
        if (didLogWaitingForSinkClient_) {
            sinkFailureRetryDelay_ = initialRetryDelay;
            didLogWaitingForSinkClient_ = false;
            environment_.logger.info("Resolved the Persona camera sink client");
        }
    }

    isWaitingForSinkBuffer_ = true;
    std::weak_ptr<PersonaCameraDeviceSource> weakSelf = weak_from_this();
    CameraStateQueue& stateQueue = environment_.stateQueue;
    sinkStream.consumeSampleBuffer(
        *sinkClient_,
        [weakSelf, &stateQueue, generation = sinkConsumptionGeneration_](CameraSinkConsumeResult result) {
            auto self = weakSelf.lock();
            if (!self)
                return;
            stateQueue.async([self = std::move(self), generation, result = std::move(result)]() mutable {
                self->handleConsumeCompletion(generation, std::move(result));
            });
        });
}

void PersonaCameraDeviceSource::handleConsumeCompletion(std::uint64_t generation,
                                                        CameraSinkConsumeResult result) {
    if (generation != sinkConsumptionGeneration_ || sinkStreamingCount_ == 0)
        return;
    isWaitingForSinkBuffer_ = false;

    if (result.error) {
        if (lastLoggedSinkError_ != result.error) {
            lastLoggedSinkError_ = result.error;
            environment_.logger.error("Persona camera sink failed: " + *result.error);
        }
        requestNextSinkBufferAfter(takeRetryDelay());
        return;
    }

    sinkFailureRetryDelay_ = initialRetryDelay;
    if (result.sampleBuffer)
        deliverConsumedBuffer(result);
    // The sink buffer goes back to the host before the next one is asked for.
    result.sampleBuffer.reset();

    if (result.hasMoreSampleBuffers)
        requestNextSinkBuffer();
    else
        requestNextSinkBufferAfter(sinkPollInterval);
}

void PersonaCameraDeviceSource::deliverConsumedBuffer(const CameraSinkConsumeResult& result) {
    const CameraSinkSampleBuffer& consumed = *result.sampleBuffer;
    lastLoggedSinkError_.reset();
    logOnce(didLogFirstConsumedBuffer_,
            "Consumed first Persona sink buffer, sequence " + std::to_string(result.sequenceNumber));

    const std::int64_t nowNanoseconds = environment_.hostClock.nowNanoseconds();
    const std::uint64_t deliveryHostTimeNanoseconds = nowNanoseconds < 0 ? 0 : std::uint64_t(nowNanoseconds);
    const std::int64_t presentationTimeNanoseconds =
        consumed.presentationTimeNanoseconds().value_or(nowNanoseconds);

    if (sourceStreamingCount_ > 0)
        sendToSource(consumed, result, presentationTimeNanoseconds, deliveryHostTimeNanoseconds);
    if (environment_.frameMirror) {
        if (auto image = consumed.image())
            environment_.frameMirror->write(*image);
    }

    // Sent or not, the host hears that the buffer was output, so that its queue keeps moving.
    environment_.deviceHost.sinkStream().notifyScheduledOutputChanged(result.sequenceNumber,
                                                                      deliveryHostTimeNanoseconds);
    logOnce(didLogFirstScheduledOutput_, "Acknowledged first Persona scheduled output");
}

void PersonaCameraDeviceSource::sendToSource(const CameraSinkSampleBuffer& consumed,
                                             const CameraSinkConsumeResult& result,
                                             std::int64_t presentationTimeNanoseconds,
                                             std::uint64_t deliveryHostTimeNanoseconds) {
    CameraSourceStream& sourceStream = environment_.deviceHost.sourceStream();
    auto sampleBuffer = sourceStream.makeSampleBuffer(consumed, presentationTimeNanoseconds);
    if (!sampleBuffer) {
        if (!didLogSourcePreparationFailure_) {
            didLogSourcePreparationFailure_ = true;
            environment_.logger.error("Could not prepare Persona sink buffer for source delivery");
        }
        return;
    }
    didLogSourcePreparationFailure_ = false;
    sourceStream.sendSampleBuffer(sampleBuffer, result.discontinuityFlags, deliveryHostTimeNanoseconds);
    retainedSourceBuffers_.push_back(std::move(sampleBuffer));
    while (retainedSourceBuffers_.size() > retainedSourceBufferLimit)
        retainedSourceBuffers_.pop_front();
    logOnce(didLogFirstSentBuffer_, "Sent first Persona buffer to camera source clients");
}

void PersonaCameraDeviceSource::logOnce(bool& flag, std::string_view message) {
    if (flag)
        return;
    flag = true;
    environment_.logger.info(message);
}

}  // namespace quillbridge
