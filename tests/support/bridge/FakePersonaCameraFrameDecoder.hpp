#pragma once

// A decoder that records what the camera receiver asks of it, for the receiver's tests. Used on the test's
// thread (the receiver's strand runs there); the record outlives the decoder, which the receiver owns.

#include <memory>
#include <vector>

#include "bridge/PersonaCameraFrameDecoder.hpp"

namespace quillbridge {

class FakePersonaCameraFrameDecoder final : public PersonaCameraFrameDecoder {
public:
    struct Record {
        bool preparesSucceed = true;
        std::vector<std::shared_ptr<const PersonaCameraFormatDescription>> prepared;
        std::vector<PersonaCameraSampleBuffer> decoded;
        int invalidationCount = 0;
    };

    explicit FakePersonaCameraFrameDecoder(std::shared_ptr<Record> record) : record_(std::move(record)) {}

    bool prepare(const std::shared_ptr<const PersonaCameraFormatDescription>& formatDescription) override {
        record_->prepared.push_back(formatDescription);
        return record_->preparesSucceed;
    }
    void decode(PersonaCameraSampleBuffer sample) override { record_->decoded.push_back(std::move(sample)); }
    void invalidate() override { ++record_->invalidationCount; }

private:
    std::shared_ptr<Record> record_;
};

}  // namespace quillbridge
