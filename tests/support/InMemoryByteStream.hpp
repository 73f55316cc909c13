#pragma once

#include <algorithm>
#include <optional>
#include <system_error>

#include "wire/ByteStream.hpp"

namespace quillbridge {

// A byte stream over a fixed buffer: each receive takes up to the asked count; once the buffer is spent
// the stream reports its end, or, when `failure` is set, throws that error instead. Also records what
// is sent to it.
class InMemoryByteStream : public ByteStreamReader, public ByteStreamWriter {
public:
    explicit InMemoryByteStream(Bytes incoming = {}, std::optional<std::error_code> failure = std::nullopt)
        : incoming_(std::move(incoming)), failure_(failure) {}

    asio::awaitable<ReceivedBytes> receive(std::size_t count) override {
        ++receiveCount;
        std::size_t available = incoming_.size() - position_;
        if (available < count && failure_)
            throw std::system_error(*failure_);
        std::size_t taken = std::min(count, available);
        ReceivedBytes received;
        received.content.assign(incoming_.begin() + static_cast<std::ptrdiff_t>(position_),
                                incoming_.begin() + static_cast<std::ptrdiff_t>(position_ + taken));
        position_ += taken;
        received.endOfStream = position_ == incoming_.size();
        co_return received;
    }

    asio::awaitable<void> send(Bytes bytes, bool endOfStream) override {
        sentChunks.push_back(bytes);
        appendBytes(sent, bytes);
        finished = finished || endOfStream;
        co_return;
    }

    std::size_t bytesConsumed() const { return position_; }

    Bytes sent;
    std::vector<Bytes> sentChunks;
    bool finished = false;
    int receiveCount = 0;

private:
    Bytes incoming_;
    std::size_t position_ = 0;
    std::optional<std::error_code> failure_;
};

}  // namespace quillbridge
