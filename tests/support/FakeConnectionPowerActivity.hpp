#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "session/ConnectionPowerActivity.hpp"
#include "session/DisplayWaker.hpp"

namespace quillbridge {

// Counts the activities begun and still held.
class FakeConnectionPowerActivity final : public ConnectionPowerActivity {
public:
    std::unique_ptr<Token> begin(std::string_view reason) override {
        reasons.emplace_back(reason);
        if (refuses) {
            return nullptr;
        }
        return std::make_unique<CountingToken>(heldCount);
    }

    std::vector<std::string> reasons;
    std::shared_ptr<int> heldCount = std::make_shared<int>(0);
    bool refuses = false;

private:
    class CountingToken final : public Token {
    public:
        explicit CountingToken(std::shared_ptr<int> count) : count_(std::move(count)) { ++*count_; }
        ~CountingToken() override { --*count_; }

    private:
        std::shared_ptr<int> count_;
    };
};

// Answers every wake with a chosen outcome and records the activity names.
class FakeDisplayWaker final : public DisplayWaker {
public:
    Outcome wakeDisplay(std::string_view activityName) override {
        names.emplace_back(activityName);
        return outcome;
    }

    Outcome outcome;
    std::vector<std::string> names;
};

}  // namespace quillbridge
