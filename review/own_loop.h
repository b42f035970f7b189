#pragma once
// For the review window's own files only.
#include "review/review_window.h"

#include <utility>

namespace adcard {

// Held across anything that runs an event loop of its own with this window
// on the stack beneath it (a dialog's exec, an export's progress).
class ReviewWindow::OwnLoop {
public:
    explicit OwnLoop(ReviewWindow &w) : w_(w) { ++w_.ownLoops_; }
    ~OwnLoop()
    {
        if (--w_.ownLoops_ > 0)
            return;
        w_.closing_ = false;
        if (std::exchange(w_.deleteLater_, false))
            w_.deleteLater(); // posted from here, out of the loop that saw the close
    }
    OwnLoop(const OwnLoop &) = delete;
    OwnLoop &operator=(const OwnLoop &) = delete;

private:
    ReviewWindow &w_;
};

} // namespace adcard
