#pragma once
// A stand-in for the desktop's disk service for tests: a private D-Bus daemon (made the "system"
// bus of this process through DBUS_SYSTEM_BUS_ADDRESS) running python3-dbusmock with the
// UDisks2 template beside this file. Tests insert, mount and pull cards through it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/udisks.h"

namespace orvik::platform::testing {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Debian's own interpreter: the python3-dbusmock module lives there, whatever python3 comes
// first on PATH.
constexpr const char* kPython = "/usr/bin/python3";

// Starts a program; its stdout is readable through `out` when asked for.
inline pid_t spawn(const std::vector<std::string>& argv, int* out = nullptr) {
    int fds[2] = {-1, -1};
    if (out && ::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (out) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            ::close(fds[1]);
        }
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (out) {
        ::close(fds[1]);
        *out = fds[0];
    }
    return pid;
}

inline void stopProcess(pid_t& pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
}

// Blocks until `name` has an owner on the system bus or `limit` passes: it listens for the bus's
// NameOwnerChanged signal (subscribed before asking, so an owner arriving in between is not
// missed) instead of polling. Messages sent to the name afterwards are safe: the mock reads its
// bus only once its template is loaded.
inline bool waitForBusName(const char* name,
                           std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
        return false;
    bool owned = false;
    const std::string match =
        std::string(
            "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") +
        name + "'";
    sd_bus_message_handler_t onChange = [](sd_bus_message* m, void* owned, sd_bus_error*) {
        const char *n = nullptr, *before = nullptr, *after = nullptr;
        if (sd_bus_message_read(m, "sss", &n, &before, &after) >= 0 && after && *after)
            *static_cast<bool*>(owned) = true;
        return 0;
    };
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match(bus, &slot, match.c_str(), onChange, &owned) >= 0) {
        sd_bus_message* reply = nullptr;
        int has = 0;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s",
                               name) >= 0 &&
            sd_bus_message_read(reply, "b", &has) >= 0 && has)
            owned = true;
        sd_bus_message_unref(reply);
        const auto end = Clock::now() + limit;
        while (!owned) {
            const int r = sd_bus_process(bus, nullptr);
            if (r < 0)
                break;
            if (r > 0)
                continue;
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now());
            if (left.count() <= 0 || sd_bus_wait(bus, static_cast<uint64_t>(left.count())) < 0)
                break;
        }
    }
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(bus);
    return owned;
}

class UDisksMock : public ::testing::Test {
  public:
    // Whether the tools are there; SetUp skips the test when not.
    static bool available() {
        return ::access(kPython, X_OK) == 0 && ::access("/usr/bin/dbus-daemon", X_OK) == 0 &&
               std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") == 0;
    }

    void SetUp() override {
        if (!available())
            GTEST_SKIP() << "dbus-daemon or python3-dbusmock is missing";
        dir_ = fs::temp_directory_path() / ("orvik-udisks-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // A private bus stands in for the system bus: the client honours DBUS_SYSTEM_BUS_ADDRESS.
        int out = -1;
        busPid_ = spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1",
                         "--address=unix:path=" + (dir_ / "bus").string()},
                        &out);
        ASSERT_GT(busPid_, 0);
        std::string address;
        char c;
        while (::read(out, &c, 1) == 1 && c != '\n')
            address.push_back(c);
        ::close(out);
        ASSERT_FALSE(address.empty()) << "dbus-daemon gave no address";
        savedAddress_ =
            std::getenv("DBUS_SYSTEM_BUS_ADDRESS") ? std::getenv("DBUS_SYSTEM_BUS_ADDRESS") : "";
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        startService();
    }
    void TearDown() override {
        stopProcess(mockPid_);
        stopProcess(busPid_);
        if (savedAddress_.empty())
            ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        else
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", savedAddress_.c_str(), 1);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    void startService() {
        mockPid_ =
            spawn({kPython, "-m", "dbusmock", "--system", "--logfile", (dir_ / "mock.log").string(),
                   "--template", ORVIK_SOURCE_DIR "/tests/platform/udisks2_mock.py"});
        ASSERT_GT(mockPid_, 0);
        ASSERT_TRUE(waitForBusName(kUDisksService)) << "the mock service did not start";
        auto client = UDisksClient::connect();
        ASSERT_TRUE(client) << client.error();
        ASSERT_TRUE((*client)->serviceRunning());
    }

    // Calls one of the template's control methods on the mock.
    template <typename... Args>
    void control(const char* method, const char* signature, Args... args) {
        sd_bus* bus = nullptr;
        ASSERT_GE(sd_bus_open_system(&bus), 0);
        sd_bus_error err = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const int r = sd_bus_call_method(bus, kUDisksService, "/org/freedesktop/UDisks2",
                                         "org.freedesktop.UDisks2.Manager", method, &err, &reply,
                                         signature, args...);
        EXPECT_GE(r, 0) << method << ": " << (err.message ? err.message : "");
        sd_bus_error_free(&err);
        sd_bus_message_unref(reply);
        sd_bus_flush_close_unref(bus);
    }
    std::string folder(const std::string& name) {
        fs::create_directories(dir_ / name);
        return (dir_ / name).string();
    }
    // A card named like a kernel device ("sdb1") with its file system; mountedAt "" leaves it
    // unmounted, and Mount then mounts it at <temp>/<name>-mnt.
    void addCard(const std::string& name, const std::string& label, bool removable,
                 const std::string& mountedAt, const std::string& fsType = "vfat") {
        control("AddCard", "sssbss", name.c_str(), label.c_str(), fsType.c_str(), removable ? 1 : 0,
                mountedAt.c_str(), (dir_ / (name + "-mnt")).c_str());
    }

    fs::path dir_;
    pid_t busPid_ = -1;
    pid_t mockPid_ = -1;
    std::string savedAddress_;
};

}  // namespace orvik::platform::testing
