#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace kavelo {

// A fixed-capacity queue of 16-bit samples: written at the back, read and
// dropped at the front, indexed from the front. Never allocates after
// construction.
class SampleRing {
public:
    explicit SampleRing(int capacity) : samples_(static_cast<std::size_t>(capacity)) {}

    int size() const { return size_; }
    int capacity() const { return static_cast<int>(samples_.size()); }
    bool empty() const { return size_ == 0; }

    std::int16_t& operator[](int index) { return samples_[slot(index)]; }
    std::int16_t operator[](int index) const { return samples_[slot(index)]; }

    // Appends what fits; returns how many samples were taken.
    int write(std::span<const std::int16_t> in)
    {
        const int count = std::min(static_cast<int>(in.size()), capacity() - size_);
        for (int i = 0; i < count; ++i)
            samples_[slot(size_ + i)] = in[static_cast<std::size_t>(i)];
        size_ += count;
        return count;
    }

    // Appends up to `count` zero samples (none for a count below one).
    void writeSilence(int count)
    {
        count = std::clamp(count, 0, capacity() - size_);
        for (int i = 0; i < count; ++i)
            samples_[slot(size_ + i)] = 0;
        size_ += count;
    }

    // Moves up to out.size() samples from the front into `out`; returns how many.
    int read(std::span<std::int16_t> out)
    {
        const int count = std::min(static_cast<int>(out.size()), size_);
        for (int i = 0; i < count; ++i)
            out[static_cast<std::size_t>(i)] = samples_[slot(i)];
        drop(count);
        return count;
    }

    void drop(int count)
    {
        count = std::min(count, size_);
        head_ = slot(count);
        size_ -= count;
    }

    void clear()
    {
        head_ = 0;
        size_ = 0;
    }

private:
    std::size_t slot(int index) const
    {
        return (head_ + static_cast<std::size_t>(index)) % samples_.size();
    }

    std::vector<std::int16_t> samples_;
    std::size_t head_ = 0;
    int size_ = 0;
};

} // namespace kavelo
