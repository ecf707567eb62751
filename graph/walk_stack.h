// SPDX-License-Identifier: Apache-2.0
// An explicit stack for the graph walks (propagation, reset) that would
// otherwise recurse once per link: a chain of a million links must not exhaust
// the thread's stack. Small walks stay in the inline frames; deeper ones grow
// on the heap. Never throws: a failed growth is reported by push, and the
// caller then falls back to a plain recursive call for that step.
#ifndef EKS_GRAPH_WALK_STACK_H
#define EKS_GRAPH_WALK_STACK_H

#include <cstdlib>
#include <cstring>
#include <type_traits>

template <typename Frame>
class ekWalkStack {
    static_assert(std::is_trivially_copyable<Frame>::value, "frames are moved with memcpy");

public:
    ekWalkStack() : frames(inlineFrames), count(0), capacity(kInline) {}
    ~ekWalkStack() {
        if (frames != inlineFrames) std::free(frames);
    }
    ekWalkStack(const ekWalkStack&) = delete;
    ekWalkStack& operator=(const ekWalkStack&) = delete;

    // False, with nothing pushed, when no memory is left for the frame.
    bool push(const Frame& frame) {
        if (count == capacity && !grow()) return false;
        frames[count++] = frame;
        return true;
    }
    void pop() { --count; }
    bool empty() const { return count == 0; }
    // The top frame; valid until the next push.
    Frame& top() { return frames[count - 1]; }

private:
    static constexpr size_t kInline = 16;

    bool grow() {
        const size_t bigger = capacity * 2;
        void* fresh = std::malloc(bigger * sizeof(Frame));
        if (fresh == nullptr) return false;
        std::memcpy(fresh, frames, count * sizeof(Frame));
        if (frames != inlineFrames) std::free(frames);
        frames = static_cast<Frame*>(fresh);
        capacity = bigger;
        return true;
    }

    Frame inlineFrames[kInline];
    Frame* frames;
    size_t count;
    size_t capacity;
};

#endif  // EKS_GRAPH_WALK_STACK_H
