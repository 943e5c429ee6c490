// How far a phase of the media test has come: a share from 0 to 1.
#pragma once

#include <functional>

namespace ufd {

using MediaProgressFn = std::function<void(double share)>;

} // namespace ufd
