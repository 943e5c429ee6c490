#include "retry_policy.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quorlink::sg {
namespace {

constexpr uint8_t kNotReady = 0x02;
constexpr uint8_t kUnitAttention = 0x06;

} // namespace

std::string ioctlFailure(int err) {
    switch (err) {
    case EINTR:
        return "interrupted; not sent again: it may have run";
    // Refused by the kernel while it set the command up.
    case EINVAL:
    case ENOMEM:
    case EPERM:
    case EACCES:
    case EBADF:
    case ENOTTY:
    case EDOM:
    case EAGAIN:
        return std::string("SG_IO failed: ") + std::strerror(err) + " (not sent)";
    default:
        return std::string("SG_IO failed: ") + std::strerror(err) +
               "; not sent again: it may have run";
    }
}

RetryPolicy::Step RetryPolicy::next(const Sense& sense, std::chrono::milliseconds elapsed) {
    if (sense.key == kUnitAttention) {
        if (attentions_ < kUnitAttentionRetries) {
            ++attentions_;
            return {true, {}, {}};
        }
        return {false, {}, " (" + std::to_string(attentions_ + 1) + " attempts)"};
    }
    // 04/01 only: a drive that needs a START UNIT (04/02) or has no medium
    // (3A) does not get ready by waiting.
    if (sense.key == kNotReady && sense.asc == 0x04 && sense.ascq == 0x01) {
        if (elapsed + pause_ > budget_) {
            return {false,
                    {},
                    " (not ready within " +
                        std::to_string(std::chrono::ceil<std::chrono::seconds>(budget_).count()) +
                        " s)"};
        }
        const Step step{true, pause_, {}};
        pause_ = std::min(pause_ * 2, kLongestReadyPause);
        return step;
    }
    return {};
}

} // namespace quorlink::sg
