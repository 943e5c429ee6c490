#include "monitor/udev_events.h"

#include <libudev.h>

#include <sys/stat.h>

namespace ufd {

namespace {

std::string Text(const char* value) {
    return value != nullptr ? std::string(value) : std::string();
}

DeviceNode Node(udev_device* device, bool withProperties) {
    DeviceNode node;
    node.subsystem = Text(udev_device_get_subsystem(device));
    node.devtype = Text(udev_device_get_devtype(device));
    node.driver = Text(udev_device_get_driver(device));
    if (withProperties) {
        for (udev_list_entry* entry = udev_device_get_properties_list_entry(device);
             entry != nullptr; entry = udev_list_entry_get_next(entry)) {
            node.properties[Text(udev_list_entry_get_name(entry))] =
                Text(udev_list_entry_get_value(entry));
        }
    }
    return node;
}

struct EnumerateDeleter {
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};
struct DeviceDeleter {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

} // namespace

DeviceEvent DescribeDevice(udev_device* device) {
    DeviceEvent event;
    if (device == nullptr) {
        return event;
    }
    event.action = Text(udev_device_get_action(device));
    event.devpath = Text(udev_device_get_devpath(device));
    event.chain.push_back(Node(device, true));
    // Parents belong to the child; they are not unreferenced here.
    for (udev_device* parent = udev_device_get_parent(device); parent != nullptr;
         parent = udev_device_get_parent(parent)) {
        event.chain.push_back(Node(parent, false));
    }
    return event;
}

bool DevicePresent(const std::string& devpath) {
    if (devpath.empty()) {
        return false;
    }
    struct stat info {};
    return ::stat(("/sys" + devpath).c_str(), &info) == 0;
}

std::unique_ptr<UdevEventSource> UdevEventSource::Open(std::string* error) {
    udev* context = udev_new();
    if (context == nullptr) {
        *error = "udev is not available";
        return nullptr;
    }
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (monitor == nullptr) {
        udev_unref(context);
        *error = "cannot listen to udev events";
        return nullptr;
    }
    // Partitions and every other subsystem are dropped in the kernel filter.
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", "disk") < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        udev_unref(context);
        *error = "cannot receive udev block events";
        return nullptr;
    }
    return std::unique_ptr<UdevEventSource>(new UdevEventSource(context, monitor));
}

UdevEventSource::UdevEventSource(udev* context, udev_monitor* monitor)
    : context_(context), monitor_(monitor) {}

UdevEventSource::~UdevEventSource() {
    udev_monitor_unref(monitor_);
    udev_unref(context_);
}

int UdevEventSource::Descriptor() const {
    return udev_monitor_get_fd(monitor_);
}

std::vector<DeviceEvent> UdevEventSource::Drain() {
    std::vector<DeviceEvent> events;
    // The monitor's socket is non-blocking: nullptr means nothing is left.
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        std::unique_ptr<udev_device, DeviceDeleter> owned(device);
        events.push_back(DescribeDevice(device));
    }
    return events;
}

std::vector<std::string> UdevEventSource::PresentUsbDisks() {
    std::vector<std::string> disks;
    std::unique_ptr<udev_enumerate, EnumerateDeleter> enumerate(udev_enumerate_new(context_));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "block") < 0 ||
        udev_enumerate_add_match_property(enumerate.get(), "DEVTYPE", "disk") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return disks;
    }
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(enumerate.get()); entry != nullptr;
         entry = udev_list_entry_get_next(entry)) {
        std::unique_ptr<udev_device, DeviceDeleter> device(
            udev_device_new_from_syspath(context_, udev_list_entry_get_name(entry)));
        if (!device) {
            continue;
        }
        const DeviceEvent described = DescribeDevice(device.get());
        if (IsUsbStorageDisk(described.chain)) {
            disks.push_back(described.devpath);
        }
    }
    return disks;
}

bool UdevEventSource::Present(const std::string& devpath) {
    return DevicePresent(devpath);
}

} // namespace ufd
