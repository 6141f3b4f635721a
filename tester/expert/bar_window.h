// The last N bars, oldest first and contiguous, as the library takes them.
// Bars are appended to a buffer several windows long; when it is full the
// current window moves back to the front, so appending costs no allocation
// and a copy of the window only once every few windows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "market/bar_record.h"

namespace torvik::tester {

class BarWindow {
public:
    explicit BarWindow(size_t size) : size_(size < 1 ? 1 : size), storage_(size_ * 8) {}

    void Push(const BarRecord& bar)
    {
        if (end_ == storage_.size()) {
            std::copy(storage_.begin() + static_cast<std::ptrdiff_t>(begin_),
                      storage_.begin() + static_cast<std::ptrdiff_t>(end_), storage_.begin());
            end_ -= begin_;
            begin_ = 0;
        }
        storage_[end_++] = bar;
        if (end_ - begin_ > size_) ++begin_;
    }

    // The newest bar, to be rewritten in place while it forms.
    BarRecord& Newest() { return storage_[end_ - 1]; }
    const BarRecord* Data() const { return storage_.data() + begin_; }
    size_t Count() const { return end_ - begin_; }

private:
    size_t size_;
    std::vector<BarRecord> storage_;
    size_t begin_ = 0;
    size_t end_ = 0;
};

}  // namespace torvik::tester
