#pragma once

#include <vector>

struct WmaLosslessLmsStage {
    int order = 16;  // multiple of 16, at most 256
    int scaling = 0; // coefficients are fixed point with this many fraction bits
};

// Tools the encoder uses; the defaults are the tuned ones, the rest is for tests and benchmarks.
struct WmaLosslessSettings {
    bool compress = true; // false: every tile is raw PCM
    // Fewest frames between tiles that reset the predictors. 1: the first
    // frame begun in each packet, so that a seek resumes within a packet.
    int seekableInterval = 1;
    bool interChannel = true; // mid/side for stereo, where the trials find it pays
    // Fixed pre-filter, pred = sum(c * x) >> acScaling with each c in 1 .. 2^acScaling;
    // empty switches it off. A first difference leaves the LMS stages a flatter
    // signal; each seekable tile still leaves it out where it would not.
    int acScaling = 0;
    std::vector<int> acCoefs{1};
    // Cascades a seekable tile chooses from, by coding itself with each. Tuned
    // against flac -5: the first suits music and recordings, the second very
    // predictable tones (finer first-stage steps); longer filters adapt too slowly.
    std::vector<std::vector<WmaLosslessLmsStage>> lmsCandidates{{{32, 12}, {16, 10}, {16, 10}},
                                                                {{16, 15}, {16, 12}, {16, 10}}};
    std::vector<WmaLosslessLmsStage> lms; // not empty: the only cascade
    int moveAverageScaling = -1;          // -1: chosen per seekable tile
    int blockAlign = 0;                   // 0: room for one raw frame
    // The source starts with more digital silence than the first packet takes
    // frames: that packet's last frames go raw, so that it fills.
    bool silentStart = false;
    // The frame length against the one the sample rate implies, as a power
    // of two from -2 to 1: 1 (4096 samples at 44.1 kHz) where the decoders'
    // frame buffer holds such frames (up to 48 kHz), else 0.
    int frameShift = 1;
};
