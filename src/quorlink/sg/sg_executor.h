// The real executor: drive indexes name the USB drives quorlink.conf allows
// (drive_map.h), every command one SG_IO.
#pragma once

#include "executor.h"
#include "quorlink_conf.h"
#include "sg_system.h"
#include "sysfs_device.h"

#include <chrono>
#include <memory>
#include <optional>

namespace quorlink::sg {

// A hung drive ends as a failed command after this long ([Timeouts] of
// quorlink.conf); an erase through the vendor block may legitimately take
// seconds.
std::chrono::milliseconds commandTimeout(CommandClass cls, const Timeouts& timeouts = {});

// `trace`: what the library traces when $QUORLINK_TRACE does not say;
// `conf`: quorlink.conf as loaded: which drives it may touch and where they
// sit (the defaults, and a file with an error, allow no drive); its
// timeouts.ready is how long a drive becoming ready is waited for.
std::unique_ptr<Executor> makeSgExecutor(Roots roots, std::shared_ptr<SgSystem> system,
                                         std::optional<TraceTarget> trace = std::nullopt,
                                         const QuorlinkConf& conf = QuorlinkConf{});
// The same with the load's error kept, for quorlink_config_notice.
std::unique_ptr<Executor> makeSgExecutor(Roots roots, std::shared_ptr<SgSystem> system,
                                         std::optional<TraceTarget> trace, ConfLoad conf);

} // namespace quorlink::sg
