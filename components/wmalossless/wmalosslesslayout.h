#pragma once

#include <cstdint>

namespace wmalossless {

// How a stream is cut, fixed in the header before the first sample is coded:
// the frame length and the packet size.
struct StreamLayout {
    // The frame length against the one the sample rate implies, as a power
    // of two: -2 (a quarter) to 1 (twice).
    int frameShift = 1;
    int blockAlign = 0; // bytes per packet
};

// Samples per frame the decoder derives from the sample rate and the frame shift.
int frameSizeFor(int sampleRate, int frameShift);
// The smallest packet that holds a whole raw frame, and a bit more.
int minBlockAlign(int channels, int frameSize);
// Whether the decoder's frame buffer takes long frames in packets of `blockAlign` bytes.
bool longFramesFit(int sampleRate, int channels, int blockAlign);

// What a look at short stretches of float PCM (at 16 bits) tells of it.
struct SourceEstimate {
    // Rough coded bits per sample, from the size of the first differences:
    // silence comes out near 0, independent full-scale noise at 16.
    double bitsPerSample = 16.0;
    // Full-scale noise: nothing a short predictor of any order takes away.
    bool noise = false;
};
SourceEstimate estimateSource(const float *interleaved, int64_t frames, int channels);
// Frames of digital silence (as 16-bit samples) the source starts with.
int64_t silentStartFrames(const float *interleaved, int64_t frames, int channels);

// The layout for a stream of `frames` samples per channel expected to take
// `bitsPerSample` each. Every packet costs the container a header (about 30
// bytes) and the last one is padded to full size, half of it on average: the
// packet size that makes the two least grows with the root of the stream's
// size. Then it is trimmed so that an incompressible stream of that length
// fills its last packet. Noise has nothing to predict, so it loses nothing
// where a packet resets the predictors, and saves a header with every
// packet fewer: its packets grow to what the decoder's buffer takes.
StreamLayout layoutFor(int sampleRate, int channels, int64_t frames, double bitsPerSample,
                       bool noise = false);

} // namespace wmalossless
