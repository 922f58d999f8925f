#include "platform/udisks.h"

#include <sys/statvfs.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>
#include <variant>

#include "platform/system_error.h"
#include "platform/volumes.h"

namespace orvik::platform {
namespace {

constexpr const char* kRootPath = "/org/freedesktop/UDisks2";
constexpr const char* kBlockIface = "org.freedesktop.UDisks2.Block";
constexpr const char* kFsIface = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* kDriveIface = "org.freedesktop.UDisks2.Drive";
constexpr const char* kObjectManagerIface = "org.freedesktop.DBus.ObjectManager";
// Listing answers at once; a change may wait for the user to authorise it (ChangeOptions).
constexpr std::uint64_t kQueryTimeoutUs = 5'000'000;

// The property values this client reads; others are skipped.
using Value = std::variant<std::monostate, bool, std::string, std::vector<std::string>>;
using Properties = std::map<std::string, Value>;       // name -> value
using Interfaces = std::map<std::string, Properties>;  // interface -> properties
using Objects = std::map<std::string, Interfaces>;     // object path -> interfaces

// Frees an sd_bus_message / sd_bus_error at scope end.
struct Message {
    sd_bus_message* m = nullptr;
    ~Message() { sd_bus_message_unref(m); }
};
struct BusError {
    sd_bus_error e = SD_BUS_ERROR_NULL;
    ~BusError() { sd_bus_error_free(&e); }
};

std::string errorText(const BusError& err, int rc) {
    if (err.e.message && *err.e.message)
        return err.e.message;
    if (err.e.name)
        return err.e.name;
    return systemErrorText(-rc);
}

// A byte-string property ("ay") without its terminating NUL.
std::string bytesToString(const void* data, std::size_t size) {
    std::string s(static_cast<const char*>(data), size);
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}

// Reads one variant at the message's position; unknown types are skipped.
int readVariant(sd_bus_message* m, Value& out) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0)
        return r;
    if (type != SD_BUS_TYPE_VARIANT || !contents)
        return -EBADMSG;
    const std::string_view sig(contents);
    if (sig == "b") {
        int b = 0;
        if ((r = sd_bus_message_read(m, "v", "b", &b)) < 0)
            return r;
        out = b != 0;
    } else if (sig == "s" || sig == "o") {
        const char* s = nullptr;
        if ((r = sd_bus_message_read(m, "v", contents, &s)) < 0)
            return r;
        out = std::string(s ? s : "");
    } else if (sig == "ay") {
        if ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, "ay")) < 0)
            return r;
        const void* data = nullptr;
        std::size_t size = 0;
        if ((r = sd_bus_message_read_array(m, 'y', &data, &size)) < 0)
            return r;
        out = bytesToString(data, size);
        return sd_bus_message_exit_container(m);
    } else if (sig == "aay") {
        if ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, "aay")) < 0)
            return r;
        if ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "ay")) < 0)
            return r;
        std::vector<std::string> list;
        while ((r = sd_bus_message_at_end(m, 0)) == 0) {
            const void* data = nullptr;
            std::size_t size = 0;
            if ((r = sd_bus_message_read_array(m, 'y', &data, &size)) < 0)
                return r;
            list.push_back(bytesToString(data, size));
        }
        if (r < 0)
            return r;
        out = std::move(list);
        if ((r = sd_bus_message_exit_container(m)) < 0)
            return r;
        return sd_bus_message_exit_container(m);
    } else {
        return sd_bus_message_skip(m, "v");
    }
    return 0;
}

// An array of dict entries `entry` (e.g. "sv"): the key, a string or object path, then the value
// that readValue(m, out[key]) takes off the message.
template <typename Map, typename ReadValue>
int readDict(sd_bus_message* m, const std::string& entry, Map& out, ReadValue readValue) {
    const std::string array = "{" + entry + "}";
    const char key[2] = {entry[0], '\0'};
    int r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, array.c_str());
    if (r < 0)
        return r;
    while ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, entry.c_str())) > 0) {
        const char* name = nullptr;
        if ((r = sd_bus_message_read(m, key, &name)) < 0)
            return r;
        if ((r = readValue(m, out[name])) < 0)
            return r;
        if ((r = sd_bus_message_exit_container(m)) < 0)
            return r;
    }
    if (r < 0)
        return r;
    return sd_bus_message_exit_container(m);
}

int readProperties(sd_bus_message* m, Properties& out) {
    return readDict(m, "sv", out, readVariant);
}

int readInterfaces(sd_bus_message* m, Interfaces& out) {
    return readDict(m, "sa{sv}", out, readProperties);
}

int readObjects(sd_bus_message* m, Objects& out) {
    return readDict(m, "oa{sa{sv}}", out, readInterfaces);
}

const Properties* find(const Interfaces& ifaces, const char* name) {
    auto it = ifaces.find(name);
    return it == ifaces.end() ? nullptr : &it->second;
}
bool boolOf(const Properties* p, const char* name) {
    if (!p)
        return false;
    auto it = p->find(name);
    return it != p->end() && std::holds_alternative<bool>(it->second) && std::get<bool>(it->second);
}
std::string stringOf(const Properties* p, const char* name) {
    if (!p)
        return {};
    auto it = p->find(name);
    return it != p->end() && std::holds_alternative<std::string>(it->second)
               ? std::get<std::string>(it->second)
               : std::string();
}
std::vector<std::string> listOf(const Properties* p, const char* name) {
    if (!p)
        return {};
    auto it = p->find(name);
    return it != p->end() && std::holds_alternative<std::vector<std::string>>(it->second)
               ? std::get<std::vector<std::string>>(it->second)
               : std::vector<std::string>();
}

}  // namespace

UDisksClient::UDisksClient(sd_bus* bus) : bus_(bus) {}

UDisksClient::~UDisksClient() {
    for (sd_bus_slot* s : slots_)
        sd_bus_slot_unref(s);
    sd_bus_flush_close_unref(bus_);
}

Result<std::unique_ptr<UDisksClient>> UDisksClient::connect() {
    sd_bus* bus = nullptr;
    const int r = sd_bus_open_system(&bus);
    if (r < 0)
        return makeError(std::string("cannot reach the system bus: ") + systemErrorText(-r));
    return std::unique_ptr<UDisksClient>(new UDisksClient(bus));
}

bool UDisksClient::serviceRunning() {
    Message call, reply;
    BusError err;
    int r = sd_bus_message_new_method_call(bus_, &call.m, "org.freedesktop.DBus",
                                           "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                           "NameHasOwner");
    if (r >= 0)
        r = sd_bus_message_append(call.m, "s", kUDisksService);
    // Not the library's default of 25 s: a bus that does not answer at once is as good as none.
    if (r >= 0)
        r = sd_bus_call(bus_, call.m, kQueryTimeoutUs, &err.e, &reply.m);
    int has = 0;
    return r >= 0 && sd_bus_message_read(reply.m, "b", &has) >= 0 && has;
}

namespace {
Result<Objects> managedObjects(sd_bus* bus) {
    Message call, reply;
    BusError err;
    int r = sd_bus_message_new_method_call(bus, &call.m, kUDisksService, kRootPath,
                                           kObjectManagerIface, "GetManagedObjects");
    if (r >= 0)
        r = sd_bus_call(bus, call.m, kQueryTimeoutUs, &err.e, &reply.m);
    if (r < 0)
        return makeError("the disk service did not list its devices: " + errorText(err, r));
    Objects objects;
    if ((r = readObjects(reply.m, objects)) < 0)
        return makeError(std::string("the disk service sent an unreadable device list: ") +
                         systemErrorText(-r));
    return objects;
}
}  // namespace

Result<std::vector<UDisksFileSystem>> UDisksClient::removableFileSystems() {
    auto objects = managedObjects(bus_);
    if (!objects)
        return makeError(objects.error());
    std::vector<UDisksFileSystem> out;
    for (const auto& [path, ifaces] : *objects) {
        const Properties* block = find(ifaces, kBlockIface);
        const Properties* fs = find(ifaces, kFsIface);
        if (!block || !fs)
            continue;
        if (boolOf(block, "HintIgnore") || boolOf(block, "HintSystem"))
            continue;
        const std::string drivePath = stringOf(block, "Drive");
        auto drive = objects->find(drivePath);
        if (drive == objects->end())
            continue;
        const Properties* d = find(drive->second, kDriveIface);
        if (!boolOf(d, "Removable") && !boolOf(d, "MediaRemovable"))
            continue;
        UDisksFileSystem f;
        f.objectPath = path;
        f.device = stringOf(block, "PreferredDevice");
        if (f.device.empty())
            f.device = stringOf(block, "Device");
        f.label = stringOf(block, "IdLabel");
        f.fsType = stringOf(block, "IdType");
        f.mountPoints = listOf(fs, "MountPoints");
        out.push_back(std::move(f));
    }
    return out;
}

Result<std::string> UDisksClient::objectForDevice(const std::string& device) {
    auto objects = managedObjects(bus_);
    if (!objects)
        return makeError(objects.error());
    std::error_code ec;
    const auto wanted = std::filesystem::weakly_canonical(device, ec);
    for (const auto& [path, ifaces] : *objects) {
        const Properties* block = find(ifaces, kBlockIface);
        if (!block)
            continue;
        for (const char* key : {"Device", "PreferredDevice"}) {
            const std::string dev = stringOf(block, key);
            if (dev.empty())
                continue;
            std::error_code ec2;
            if (dev == device || (!ec && std::filesystem::weakly_canonical(dev, ec2) == wanted))
                return path;
        }
    }
    return std::string();
}

namespace {
// Calls a Filesystem method whose last argument is an empty options dictionary; the user may be
// asked to authorise it when the options allow.
Result<void> callFilesystem(sd_bus* bus, const std::string& objectPath, const char* method,
                            const char* label, std::string* stringReply,
                            const ChangeOptions& options = {}) {
    Message call, reply;
    BusError err;
    int r = sd_bus_message_new_method_call(bus, &call.m, kUDisksService, objectPath.c_str(),
                                           kFsIface, method);
    if (r >= 0)
        r = sd_bus_message_set_allow_interactive_authorization(call.m, options.mayAskUser ? 1 : 0);
    if (r >= 0 && label)
        r = sd_bus_message_append(call.m, "s", label);
    if (r >= 0)
        r = sd_bus_message_append(call.m, "a{sv}", 0);
    if (r >= 0)
        r = sd_bus_call(bus, call.m, static_cast<std::uint64_t>(options.timeoutMs) * 1000, &err.e,
                        &reply.m);
    if (r < 0)
        return makeError(errorText(err, r));
    if (stringReply) {
        const char* s = nullptr;
        if (sd_bus_message_read(reply.m, "s", &s) < 0 || !s)
            return makeError("the disk service gave no mount point");
        *stringReply = s;
    }
    return {};
}
}  // namespace

Result<std::string> UDisksClient::mount(const std::string& objectPath) {
    std::string mountPoint;
    auto r = callFilesystem(bus_, objectPath, "Mount", nullptr, &mountPoint);
    if (!r)
        return makeError("cannot mount the card: " + r.error());
    return mountPoint;
}

Result<void> UDisksClient::unmount(const std::string& objectPath) {
    auto r = callFilesystem(bus_, objectPath, "Unmount", nullptr, nullptr);
    if (!r)
        return makeError("cannot unmount the card: " + r.error());
    return {};
}

Result<void> UDisksClient::setLabel(const std::string& objectPath, std::string_view label,
                                    const ChangeOptions& options) {
    const std::string l(label);
    auto r = callFilesystem(bus_, objectPath, "SetLabel", l.c_str(), nullptr, options);
    if (!r)
        return makeError("cannot label the card: " + r.error());
    return {};
}

Result<void> UDisksClient::watch(std::function<void(Change)> onChange, bool waitForBus) {
    for (sd_bus_slot* s : slots_)
        sd_bus_slot_unref(s);
    slots_.clear();
    onChange_ = std::move(onChange);

    // One handler for all three: it tells the owner change from the others by the member.
    static const char* const rules[] = {
        "type='signal',sender='org.freedesktop.UDisks2',"
        "interface='org.freedesktop.DBus.ObjectManager',path='/org/freedesktop/UDisks2'",
        "type='signal',sender='org.freedesktop.UDisks2',interface='org.freedesktop.DBus.Properties'"
        ","
        "member='PropertiesChanged',path_namespace='/org/freedesktop/UDisks2'",
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
        "member='NameOwnerChanged',arg0='org.freedesktop.UDisks2'",
    };
    for (const char* rule : rules) {
        sd_bus_slot* slot = nullptr;
        sd_bus_message_handler_t handler = [](sd_bus_message* m, void* userdata,
                                              sd_bus_error*) -> int {
            auto* self = static_cast<UDisksClient*>(userdata);
            if (!self->onChange_)
                return 0;
            if (std::strcmp(sd_bus_message_get_member(m), "NameOwnerChanged") == 0) {
                const char *name = nullptr, *before = nullptr, *after = nullptr;
                if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0)
                    return 0;
                self->onChange_(after && *after ? Change::ServiceStarted : Change::ServiceStopped);
            } else {
                self->onChange_(Change::ObjectsChanged);
            }
            return 0;
        };
        const int r = waitForBus
                          ? sd_bus_add_match(bus_, &slot, rule, handler, this)
                          : sd_bus_add_match_async(bus_, &slot, rule, handler, nullptr, this);
        if (r < 0)
            return makeError(std::string("cannot watch the disk service: ") + systemErrorText(-r));
        slots_.push_back(slot);
    }
    return {};
}

int UDisksClient::fd() const {
    return sd_bus_get_fd(bus_);
}

bool UDisksClient::processPending() {
    int r;
    while ((r = sd_bus_process(bus_, nullptr)) > 0) {
    }
    return r >= 0;
}

namespace {
template <typename Action>
auto onDevice(const std::string& device, Action action)
    -> decltype(action(std::declval<UDisksClient&>(), std::string())) {
    auto client = UDisksClient::connect();
    if (!client)
        return makeError(client.error());
    if (!(*client)->serviceRunning())
        return makeError("the disk service does not run");
    auto object = (*client)->objectForDevice(device);
    if (!object)
        return makeError(object.error());
    if (object->empty())
        return makeError("the disk service does not know " + device);
    return action(**client, *object);
}
}  // namespace

Result<std::string> mountThroughUDisks(const std::string& device) {
    return onDevice(device, [](UDisksClient& c, const std::string& o) { return c.mount(o); });
}

Result<void> unmountThroughUDisks(const std::string& device) {
    return onDevice(device, [](UDisksClient& c, const std::string& o) { return c.unmount(o); });
}

Result<void> setLabelThroughUDisks(const std::string& device, std::string_view label,
                                   const ChangeOptions& options) {
    return onDevice(device, [label, options](UDisksClient& c, const std::string& o) {
        return c.setLabel(o, label, options);
    });
}

Result<std::vector<Volume>> removableVolumesFromUDisks() {
    auto client = UDisksClient::connect();
    if (!client)
        return makeError(client.error());
    if (!(*client)->serviceRunning())
        return makeError("the disk service does not run");
    auto fileSystems = (*client)->removableFileSystems();
    if (!fileSystems)
        return makeError(fileSystems.error());
    std::vector<Volume> out;
    for (const auto& f : *fileSystems) {
        if (f.mountPoints.empty())
            continue;
        // The first mount point is the card's root; a second one (a bind mount) is the same card.
        std::string root = f.mountPoints.front();
        while (root.size() > 1 && root.back() == '/')
            root.pop_back();
        struct statvfs sv {};
        if (::statvfs(root.c_str(), &sv) != 0)
            continue;  // volume information cannot be read
        Volume v;
        v.mountPoint = root;
        v.device = f.device;
        v.fsType = f.fsType;
        v.label = f.label;
        out.push_back(std::move(v));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Volume& a, const Volume& b) { return a.mountPoint < b.mountPoint; });
    return out;
}

}  // namespace orvik::platform
