#pragma once

#include <span>

namespace quillbridge {

// The frequency, on a grid of `stepHertz` between `lowestHertz` and `highestHertz`, where the
// Hann-windowed spectrum of `samples` is strongest.
double dominantFrequencyHertz(std::span<const float> samples, double sampleRate, double lowestHertz = 50,
                              double highestHertz = 8000, double stepHertz = 5);

// The amplitude of a sine at `frequencyHertz` in `samples` (Hann-windowed; about 0.5 for a sine of amplitude
// 0.5 whose frequency lies on the grid of sampleRate / samples.size(), less for one between two steps).
double toneAmplitude(std::span<const float> samples, double sampleRate, double frequencyHertz);

// The root mean square of the samples.
double rootMeanSquare(std::span<const float> samples);

}  // namespace quillbridge
