// When a failed command is asked again: only when the drive said it did not
// run it, and never past a bounded wait. An ioctl that failed after the
// command may have reached the drive is never repeated.
#pragma once

#include "sense.h"

#include <chrono>
#include <string>

namespace quorlink::sg {

// A drive reports a reset or a medium change (UNIT ATTENTION) instead of
// running the command, and may have several such conditions queued.
inline constexpr int kUnitAttentionRetries = 3;
// NOT READY "becoming ready" is asked again after these pauses, doubling.
inline constexpr std::chrono::milliseconds kFirstReadyPause{100};
inline constexpr std::chrono::milliseconds kLongestReadyPause{500};

// Why a failed SG_IO ioctl (errno `err`) ends the command. Only errors the
// kernel gives before it sends anything say "not sent"; the others (EINTR
// above all) leave the command possibly run.
std::string ioctlFailure(int err);

// Follows the attempts of one command.
class RetryPolicy {
public:
    explicit RetryPolicy(std::chrono::milliseconds readyBudget) : budget_(readyBudget) {}

    struct Step {
        bool again = false;
        std::chrono::milliseconds pause{0}; // before the next attempt
        std::string note;                   // appended to the reason when giving up
    };
    // After an attempt the drive answered with `sense`, `elapsed` after the
    // first attempt went out.
    Step next(const Sense& sense, std::chrono::milliseconds elapsed);

private:
    std::chrono::milliseconds budget_;
    std::chrono::milliseconds pause_ = kFirstReadyPause;
    int attentions_ = 0;
};

} // namespace quorlink::sg
