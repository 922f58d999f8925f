#pragma once
// The desktop's disk service (UDisks2) over the system D-Bus, through sd-bus: the removable file
// systems it knows, mounting, unmounting and labelling them without root, and the signals it
// sends when a card comes or goes. Every call fails cleanly (an error, never a hang beyond its
// timeout) when there is no system bus or the service does not run; callers then fall back to
// /proc/self/mountinfo and sysfs.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

struct sd_bus;
struct sd_bus_slot;

namespace orvik::platform {

inline constexpr const char* kUDisksService = "org.freedesktop.UDisks2";

// How a change to a card may go: a label the user asked for in a dialog may wait for the desktop
// to ask them for authorisation; a change the viewer makes on its own (the start-up relabel) must
// never bring up a prompt, and gives up soon.
struct ChangeOptions {
    bool mayAskUser = true;
    int timeoutMs = 120'000;
    bool askDiskService = true;  // false once the service was asked and said no
};
inline constexpr ChangeOptions kQuietChange{false, 10'000, true};

// One file system on a removable drive, as UDisks2 describes it.
struct UDisksFileSystem {
    std::string objectPath;                // "/org/freedesktop/UDisks2/block_devices/sdb1"
    std::string device;                    // "/dev/sdb1"
    std::string label;                     // IdLabel, "" when none
    std::string fsType;                    // IdType: "vfat", "exfat", …
    std::vector<std::string> mountPoints;  // empty while not mounted
};

class UDisksClient {
  public:
    // Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set). An error when there is no
    // bus; a connection is returned even when UDisks2 does not run (see serviceRunning()).
    static Result<std::unique_ptr<UDisksClient>> connect();
    ~UDisksClient();
    UDisksClient(const UDisksClient&) = delete;
    UDisksClient& operator=(const UDisksClient&) = delete;

    // Whether the service currently owns its name on the bus.
    bool serviceRunning();

    // The file systems on removable drives (drive Removable or MediaRemovable), leaving out
    // those the service marks to be ignored or as system volumes, in the service's order.
    Result<std::vector<UDisksFileSystem>> removableFileSystems();
    // The object of a block device path ("/dev/sdb1", symlinks resolved); "" when unknown.
    Result<std::string> objectForDevice(const std::string& device);

    // Filesystem.Mount: returns the mount point the service chose.
    Result<std::string> mount(const std::string& objectPath);
    // Filesystem.Unmount.
    Result<void> unmount(const std::string& objectPath);
    // Filesystem.SetLabel.
    Result<void> setLabel(const std::string& objectPath, std::string_view label,
                          const ChangeOptions& options = {});

    // ---- change notification ----
    enum class Change { ObjectsChanged, ServiceStarted, ServiceStopped };
    // Subscribes to the service's added/removed/changed objects and to its name's owner; the
    // callback runs from processPending(). Replaces an earlier subscription. With `waitForBus`
    // false the subscription is only sent (a GUI thread must not wait for the bus); it is in
    // place once processPending() has run.
    Result<void> watch(std::function<void(Change)> onChange, bool waitForBus = true);
    // The connection's file descriptor: readable when processPending() has work.
    int fd() const;
    // Dispatches everything that has arrived; returns false when the connection broke.
    bool processPending();

  private:
    explicit UDisksClient(sd_bus* bus);
    sd_bus* bus_;
    std::vector<sd_bus_slot*> slots_;
    std::function<void(Change)> onChange_;
};

// One-call forms over a block device path, for code that knows the device, not the object.
// Each is an error when the service cannot be asked or does not know the device.
Result<std::string> mountThroughUDisks(const std::string& device);
Result<void> unmountThroughUDisks(const std::string& device);
Result<void> setLabelThroughUDisks(const std::string& device, std::string_view label,
                                   const ChangeOptions& options = {});

}  // namespace orvik::platform
