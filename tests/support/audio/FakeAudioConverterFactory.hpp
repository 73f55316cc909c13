#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "core/Bytes.hpp"
#include "session/AudioConverter.hpp"
#include "session/AudioConverterFactory.hpp"

namespace quillbridge {

// What one conversion of a FakeAudioConverterFactory's converter gives.
struct FakeAudioConversion {
    AudioConverterOutputStatus status = AudioConverterOutputStatus::haveData;
    Bytes data;
    std::vector<AudioPacketDescription> packetDescriptions;
};

// An in-memory audio converter factory: it records what it is asked for, refuses when told to, and its
// converters answer each conversion from a script shared by all of them. It must outlive its converters.
class FakeAudioConverterFactory final : public AudioConverterFactory {
public:
    struct ConverterRequest {
        AudioPCMFormat inputFormat;
        AudioCompressionSettings settings;
    };

    struct ConversionCall {
        // Which converter (by the order of the requests that built one) was asked.
        std::size_t converterIndex = 0;
        AudioPCMFormat inputFormat;
        std::uint32_t frameLength = 0;
        std::size_t packetCapacity = 0;
        std::size_t maximumPacketSize = 0;
    };

    // What the converters built from now on report.
    bool refusesConverters = false;
    std::size_t maximumOutputPacketSize = 400;
    std::optional<Bytes> magicCookie = Bytes{0x03, 0x19, 0x00, 0x00, 0x00};

    // Answers for the coming conversions, oldest first; once they run out, each conversion gives
    // `defaultConversion`.
    std::deque<FakeAudioConversion> scriptedConversions;
    FakeAudioConversion defaultConversion{AudioConverterOutputStatus::haveData, Bytes(100, 0xA5), {}};

    // Every request, refused ones included, and every conversion, in order.
    std::vector<ConverterRequest> requests;
    std::vector<ConversionCall> conversions;
    std::size_t builtConverterCount = 0;
    std::size_t liveConverterCount = 0;

    std::unique_ptr<AudioConverter> makeConverter(const AudioPCMFormat& inputFormat,
                                                  const AudioCompressionSettings& settings) override {
        requests.push_back({inputFormat, settings});
        if (refusesConverters)
            return nullptr;
        return std::make_unique<Converter>(*this, builtConverterCount++, settings);
    }

private:
    class Converter final : public AudioConverter {
    public:
        Converter(FakeAudioConverterFactory& factory, std::size_t index,
                  const AudioCompressionSettings& settings)
            : factory_(factory),
              index_(index),
              outputFormat_{settings.codec, settings.sampleRate, settings.channelCount},
              maximumOutputPacketSize_(factory.maximumOutputPacketSize),
              magicCookie_(factory.magicCookie) {
            ++factory_.liveConverterCount;
        }
        ~Converter() override { --factory_.liveConverterCount; }

        AudioCompressedFormat outputFormat() const override { return outputFormat_; }
        std::size_t maximumOutputPacketSize() const override { return maximumOutputPacketSize_; }
        std::optional<Bytes> magicCookie() const override { return magicCookie_; }

        AudioConverterOutputStatus convert(const AudioPCMBuffer& input,
                                           AudioCompressedBuffer& output) override {
            factory_.conversions.push_back(
                {index_, input.format, input.frameLength, output.packetCapacity, output.maximumPacketSize});
            FakeAudioConversion answer = factory_.defaultConversion;
            if (!factory_.scriptedConversions.empty()) {
                answer = std::move(factory_.scriptedConversions.front());
                factory_.scriptedConversions.pop_front();
            }
            output.data = std::move(answer.data);
            output.packetDescriptions = std::move(answer.packetDescriptions);
            return answer.status;
        }

    private:
        FakeAudioConverterFactory& factory_;
        std::size_t index_;
        AudioCompressedFormat outputFormat_;
        std::size_t maximumOutputPacketSize_;
        std::optional<Bytes> magicCookie_;
    };
};

}  // namespace quillbridge
