// Real drives: block-disk events from udev, turned into plain records.
#pragma once

#include "monitor/device_filter.h"

#include <memory>
#include <string>
#include <vector>

struct udev;
struct udev_device;
struct udev_monitor;

namespace ufd {

// Copies what the filter needs from a libudev device: itself and every
// parent up to the root, each with subsystem, devtype, driver and (for the
// device itself) its properties.
DeviceEvent DescribeDevice(udev_device* device);

// Whether a device is still in sysfs.
bool DevicePresent(const std::string& devpath);

// Where events come from; tests script one.
class DeviceEventSource {
public:
    virtual ~DeviceEventSource() = default;
    // A descriptor that turns readable when events wait; -1 for none.
    virtual int Descriptor() const = 0;
    // Every event that waits now, without blocking.
    virtual std::vector<DeviceEvent> Drain() = 0;
    // The devpaths of USB disks already attached.
    virtual std::vector<std::string> PresentUsbDisks() = 0;
    virtual bool Present(const std::string& devpath) = 0;
};

class UdevEventSource final : public DeviceEventSource {
public:
    // Nothing (and the reason in *error) when udev cannot be reached.
    static std::unique_ptr<UdevEventSource> Open(std::string* error);
    ~UdevEventSource() override;

    int Descriptor() const override;
    std::vector<DeviceEvent> Drain() override;
    std::vector<std::string> PresentUsbDisks() override;
    bool Present(const std::string& devpath) override;

private:
    UdevEventSource(udev* context, udev_monitor* monitor);
    udev* context_;
    udev_monitor* monitor_;
};

} // namespace ufd
