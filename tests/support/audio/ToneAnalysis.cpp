#include "support/audio/ToneAnalysis.hpp"

#include <cmath>
#include <numbers>
#include <vector>

namespace quillbridge {
namespace {

std::vector<double> hannWindowed(std::span<const float> samples) {
    const std::size_t count = samples.size();
    std::vector<double> windowed(count);
    for (std::size_t index = 0; index < count; ++index) {
        const double window = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * index / (count - 1));
        windowed[index] = samples[index] * window;
    }
    return windowed;
}

// Goertzel's recurrence: the power of one frequency in a few multiplications per sample.
double goertzelPower(const std::vector<double>& windowed, double sampleRate, double frequency) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / sampleRate);
    double previous = 0;
    double beforePrevious = 0;
    for (double sample : windowed) {
        const double current = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
}

}  // namespace

double dominantFrequencyHertz(std::span<const float> samples, double sampleRate, double lowestHertz,
                              double highestHertz, double stepHertz) {
    const std::vector<double> windowed = hannWindowed(samples);
    double bestFrequency = 0;
    double bestPower = -1;
    for (double frequency = lowestHertz; frequency <= highestHertz; frequency += stepHertz) {
        const double power = goertzelPower(windowed, sampleRate, frequency);
        if (power > bestPower) {
            bestPower = power;
            bestFrequency = frequency;
        }
    }
    return bestFrequency;
}

double toneAmplitude(std::span<const float> samples, double sampleRate, double frequencyHertz) {
    if (samples.size() < 2) {
        return 0;
    }
    // A sine of amplitude A gives a Goertzel magnitude of A times half the window's sum (N / 2 for Hann).
    const double magnitude = std::sqrt(goertzelPower(hannWindowed(samples), sampleRate, frequencyHertz));
    return magnitude / (static_cast<double>(samples.size()) / 4);
}

double rootMeanSquare(std::span<const float> samples) {
    if (samples.empty())
        return 0;
    double sum = 0;
    for (float sample : samples)
        sum += double(sample) * sample;
    return std::sqrt(sum / samples.size());
}

}  // namespace quillbridge
