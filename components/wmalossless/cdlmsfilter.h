#pragma once

#include <cstdint>

namespace wmalossless {

// One stage of the sign-sign LMS cascade. The decoder rebuilds the same state
// sample by sample, so its buffer layout and integer wrap-arounds are kept as
// they are there: a different history layout would drift after the first
// update-speed change.
class CdlmsFilter {
public:
    static constexpr int kMaxOrder = 256;

    void configure(int order, int scaling);
    int order() const { return m_order; }
    int scaling() const { return m_scaling; }

    // A seekable tile starts from zero coefficients and an empty history.
    void clear();
    void doubleUpdates();
    void halveUpdates();

    // Replaces each sample with the residual left after predicting it, adapting as it goes.
    void encode(int32_t *samples, int count, int updateSpeed);
    // The same through a cascade, the first stage first.
    static void encodeCascade(CdlmsFilter *stages, int stageCount, int32_t *samples, int count,
                              int updateSpeed);

private:
    void update(int32_t input, int updateSpeed);
    template <typename Kernel> void run(int32_t *samples, int count, int updateSpeed);
    void encodeAvx2(int32_t *samples, int count, int updateSpeed);
    static bool encodeCascadeAvx2(CdlmsFilter *stages, int32_t *samples, int count, int updateSpeed);

    int m_order = 16;
    int m_scaling = 0;
    int m_recent = 16;
    alignas(32) int16_t m_coefs[kMaxOrder + 16] = {};
    alignas(32) int16_t m_prev[kMaxOrder * 2 + 16] = {};
    alignas(32) int16_t m_updates[kMaxOrder * 2 + 16] = {};
};

} // namespace wmalossless
