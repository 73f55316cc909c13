#pragma once

// An in-memory camera sink for the feeder's tests: it records connection attempts and queued frames and lets
// a test fail a step of connecting, fill the sink and acknowledge frames. Used on the test's thread.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "bridge/PersonaCameraSink.hpp"

namespace quillbridge {

struct FakePersonaCameraSinkState {
    int connectAttempts = 0;
    int openConnections = 0;
    int closedConnections = 0;
    std::optional<PersonaCameraSinkConnectError> connectFailure;
    std::uint32_t capacity = 3;
    int enqueueStatus = 0;
    std::vector<std::shared_ptr<const PersonaCameraSinkFrame>> enqueued;
    PersonaCameraSink::ScheduledOutputHandler scheduledOutput;
};

class FakePersonaCameraSinkConnection final : public PersonaCameraSinkConnection {
public:
    explicit FakePersonaCameraSinkConnection(std::shared_ptr<FakePersonaCameraSinkState> state)
        : state_(std::move(state)) {
        ++state_->openConnections;
    }
    ~FakePersonaCameraSinkConnection() override {
        --state_->openConnections;
        ++state_->closedConnections;
        state_->scheduledOutput = nullptr;
    }
    std::uint32_t capacity() const override { return state_->capacity; }
    int enqueue(std::shared_ptr<const PersonaCameraSinkFrame> frame) override {
        if (state_->enqueueStatus != 0)
            return state_->enqueueStatus;
        state_->enqueued.push_back(std::move(frame));
        return 0;
    }

private:
    std::shared_ptr<FakePersonaCameraSinkState> state_;
};

class FakePersonaCameraSink final : public PersonaCameraSink {
public:
    explicit FakePersonaCameraSink(std::shared_ptr<FakePersonaCameraSinkState> state)
        : state_(std::move(state)) {}

    std::expected<std::unique_ptr<PersonaCameraSinkConnection>, PersonaCameraSinkConnectError> connect(
        ScheduledOutputHandler scheduledOutput) override {
        ++state_->connectAttempts;
        if (state_->connectFailure)
            return std::unexpected(*state_->connectFailure);
        state_->scheduledOutput = std::move(scheduledOutput);
        return std::make_unique<FakePersonaCameraSinkConnection>(state_);
    }

private:
    std::shared_ptr<FakePersonaCameraSinkState> state_;
};

}  // namespace quillbridge
