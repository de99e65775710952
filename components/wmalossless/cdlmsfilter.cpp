#include "cdlmsfilter.h"

#include <algorithm>
#include <cstring>

void CdlmsFilter::configure(int order, int scaling)
{
    order_ = std::clamp(order / 16 * 16, 16, MaxOrder);
    scaling_ = std::clamp(scaling, 0, 15);
    clear();
}

void CdlmsFilter::clear()
{
    std::memset(coefs_, 0, sizeof(coefs_));
    std::memset(prev_, 0, sizeof(prev_));
    std::memset(updates_, 0, sizeof(updates_));
    recent_ = order_;
}

// The decoder rescales the first `order` entries of the buffer, not the
// window at `recent`; the same entries are rescaled here.
void CdlmsFilter::doubleUpdates()
{
    for (int i = 0; i < order_; ++i)
        updates_[i] = static_cast<int16_t>(updates_[i] * 2);
}

void CdlmsFilter::halveUpdates()
{
    for (int i = 0; i < order_; ++i)
        updates_[i] = static_cast<int16_t>(updates_[i] / 2);
}

int32_t CdlmsFilter::encode(int32_t input, int updateSpeed)
{
    int16_t *coefs = coefs_;
    const int16_t *prev = prev_ + recent_;
    const int16_t *updates = updates_ + recent_;
    const int order = order_;

    uint32_t dot = 0;
    for (int i = 0; i < order; ++i)
        dot += static_cast<uint32_t>(coefs[i] * prev[i]);
    const uint32_t pred = ((1u << scaling_) >> 1) + dot;
    const int32_t residue = static_cast<int32_t>(
        static_cast<uint32_t>(input) - static_cast<uint32_t>(static_cast<int32_t>(pred) >> scaling_));

    const int mul = (residue > 0) - (residue < 0);
    if (mul != 0) {
        for (int i = 0; i < order; ++i)
            coefs[i] = static_cast<int16_t>(coefs[i] + mul * updates[i]);
    }
    update(input, updateSpeed);
    return residue;
}

void CdlmsFilter::update(int32_t input, int updateSpeed)
{
    const int order = order_;
    if (recent_ > 0) {
        --recent_;
    } else {
        std::memcpy(prev_ + order, prev_, sizeof(int16_t) * order);
        std::memcpy(updates_ + order, updates_, sizeof(int16_t) * order);
        recent_ = order - 1;
    }
    prev_[recent_] = static_cast<int16_t>(std::clamp(input, -32768, 32767));
    updates_[recent_] = static_cast<int16_t>(((input > 0) - (input < 0)) * updateSpeed);
    updates_[recent_ + (order >> 4)] = static_cast<int16_t>(updates_[recent_ + (order >> 4)] >> 2);
    updates_[recent_ + (order >> 3)] = static_cast<int16_t>(updates_[recent_ + (order >> 3)] >> 1);
    // Everything past this slot is already zero, so clearing it keeps the window's tail clean.
    updates_[recent_ + order] = 0;
}
