#pragma once
// A made-up sysfs tree, mount table and device nodes, so the safety rules can be tried on disks
// this machine does not have. Device nodes are made with mknod (root only); they are stat()ed,
// never opened.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/block_device.h"
#include "test_support.h"

namespace orvik::card_format::testing {

class FakeSystem {
  public:
    FakeSystem() {
        std::filesystem::create_directories(root() + "/sys/dev/block");
        std::filesystem::create_directories(root() + "/dev");
        std::ofstream(root() + "/mountinfo");
        std::ofstream(root() + "/swaps") << "Filename Type Size Used Priority\n";
        view_.sysRoot = root() + "/sys";
        view_.devRoot = root() + "/dev";
        view_.mountInfo = root() + "/mountinfo";
        view_.swaps = root() + "/swaps";
    }
    std::string root() const { return dir_.str(); }
    const platform::SystemView& view() const { return view_; }

    // A disk `name` with device number maj:min; its partitions get min+1, min+2…
    void addDisk(const std::string& name, unsigned maj, unsigned min, bool removable,
                 std::uint64_t sectors = 62521344, const std::string& mmcType = "") {
        const std::string d = root() + "/sys/block/" + name;
        std::filesystem::create_directories(d + "/holders");
        std::ofstream(d + "/dev") << maj << ":" << min << "\n";
        std::ofstream(d + "/removable") << (removable ? "1\n" : "0\n");
        std::ofstream(d + "/size") << sectors << "\n";
        if (!mmcType.empty()) {
            std::filesystem::create_directories(d + "/device");
            std::ofstream(d + "/device/type") << mmcType << "\n";
        }
        link(maj, min, d);
        makeNode(name, maj, min);
    }
    void addPartition(const std::string& disk, const std::string& name, int number, unsigned maj,
                      unsigned min, std::uint64_t start, std::uint64_t sectors) {
        const std::string p = root() + "/sys/block/" + disk + "/" + name;
        std::filesystem::create_directories(p + "/holders");
        std::ofstream(p + "/dev") << maj << ":" << min << "\n";
        std::ofstream(p + "/partition") << number << "\n";
        std::ofstream(p + "/start") << start << "\n";
        std::ofstream(p + "/size") << sectors << "\n";
        link(maj, min, p);
        makeNode(name, maj, min);
    }
    void addHolder(const std::string& sysPath, const std::string& holder) {
        std::filesystem::create_directories(root() + "/sys/block/" + sysPath + "/holders/" +
                                            holder);
    }
    void mount(unsigned maj, unsigned min, const std::string& point, const std::string& source) {
        std::ofstream(root() + "/mountinfo", std::ios::app)
            << "40 1 " << maj << ":" << min << " / " << point << " rw,relatime shared:1 - vfat "
            << source << " rw\n";
    }
    void swapOn(const std::string& name) {
        std::ofstream(root() + "/swaps", std::ios::app) << node(name) << " partition 1 0 -2\n";
    }
    std::string node(const std::string& name) const { return root() + "/dev/" + name; }
    bool nodesWork() const { return nodesWork_; }

  private:
    void link(unsigned maj, unsigned min, const std::string& target) {
        std::error_code ec;
        std::filesystem::create_directory_symlink(
            target, root() + "/sys/dev/block/" + std::to_string(maj) + ":" + std::to_string(min),
            ec);
    }
    void makeNode(const std::string& name, unsigned maj, unsigned min) {
        std::error_code ec;
        if (std::filesystem::exists(
                "/sys/dev/block/" + std::to_string(maj) + ":" + std::to_string(min), ec))
            nodesWork_ = false;  // a real device has these numbers: never point a test at it
        if (::mknod(node(name).c_str(), S_IFBLK | 0600, makedev(maj, min)) != 0)
            nodesWork_ = false;
    }
    TempDir dir_;
    platform::SystemView view_;
    bool nodesWork_ = true;
};

}  // namespace orvik::card_format::testing
