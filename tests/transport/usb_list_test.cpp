// The USB listing against a fake sysfs tree: which ttys are instruments, the
// entries' text, the capacity, and the setup layer's rewrite on top of it.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mxx_comm.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// class/tty/<name>/device links into devices/, as the kernel lays it out.
class FakeSysfs {
  public:
    FakeSysfs() {
        char pattern[] = "/tmp/vuxo-sysfs-XXXXXX";
        root_ = mkdtemp(pattern);
        fs::create_directories(root_ / "class/tty");
        setenv("VUXO_SYSFS_ROOT", root_.c_str(), 1);
    }
    ~FakeSysfs() {
        unsetenv("VUXO_SYSFS_ROOT");
        fs::remove_all(root_);
    }

    // A USB-serial tty under a USB device with these ids.
    void usb_tty(const std::string& name, const std::string& usb_dev, const std::string& vid,
                 const std::string& pid, const std::string& serial) {
        const fs::path dev = root_ / "devices/pci0000:00/usb1" / usb_dev;
        fs::create_directories(dev / (usb_dev + ":1.0") / name);
        write(dev / "idVendor", vid + "\n");
        write(dev / "idProduct", pid + "\n");
        write(dev / "serial", serial + "\n");
        link(name, dev / (usb_dev + ":1.0") / name);
    }
    // A tty with a device that is no USB device (an on-board UART).
    void platform_tty(const std::string& name) {
        const fs::path dev = root_ / "devices/platform/serial8250" / name;
        fs::create_directories(dev);
        link(name, dev);
    }
    // A tty without a device link (console, pty).
    void virtual_tty(const std::string& name) {
        fs::create_directories(root_ / "class/tty" / name);
    }

  private:
    static void write(const fs::path& file, const std::string& text) {
        std::ofstream(file) << text;
    }
    void link(const std::string& name, const fs::path& target) {
        fs::create_directories(root_ / "class/tty" / name);
        fs::create_symlink(target, root_ / "class/tty" / name / "device");
    }
    fs::path root_;
};

std::vector<std::string> entries_of(const std::vector<char>& buf, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        out.emplace_back(buf.data() + 128 * i);
    }
    return out;
}

class UsbListing : public ::testing::Test {
  protected:
    void SetUp() override {
        tree.usb_tty("ttyUSB0", "1-1", "1781", "0c44", "SN-A");
        tree.usb_tty("ttyUSB1", "1-2", "1781", "0c45", "SN-B");
        tree.usb_tty("ttyACM0", "1-3", "1781", "0c4d", "SN-C");
        tree.usb_tty("ttyUSB10", "1-4", "1781", "0C44", "SN-D");
        tree.usb_tty("ttyUSB2", "1-5", "0403", "6001", "FT-1"); // another vendor
        tree.usb_tty("ttyUSB3", "1-6", "1781", "0c4e", "SN-E"); // past the range
        tree.platform_tty("ttyS0");
        tree.virtual_tty("tty0");
        tree.virtual_tty("ptmx");
    }
    FakeSysfs tree;
};

TEST_F(UsbListing, ListsTheInstrumentsInNaturalOrder) {
    std::vector<char> buf(128 * 8, 'x');
    int count = -1;
    ASSERT_EQ(comm_list_devices_usb(0, buf.data(), 8, &count, "", "", 6017, 6017, 3140, 3149), 0);
    EXPECT_EQ(entries_of(buf, count),
              (std::vector<std::string>{"USBS:/dev/ttyACM0/c4d", "USBS:/dev/ttyUSB0/c44",
                                        "USBU:/dev/ttyUSB1/c45", "USBS:/dev/ttyUSB10/c44"}));
}

TEST_F(UsbListing, StopsAtTheCapacity) {
    std::vector<char> buf(128 * 2, 'x');
    int count = -1;
    ASSERT_EQ(comm_list_devices_usb(0, buf.data(), 2, &count, "", "", 6017, 6017, 3140, 3149), 0);
    EXPECT_EQ(count, 2);
    count = -1;
    ASSERT_EQ(comm_list_devices_usb(0, nullptr, 0, &count, "", "", 6017, 6017, 3140, 3149), 0);
    EXPECT_EQ(count, 0);
    count = -1;
    EXPECT_EQ(comm_list_devices_usb(0, nullptr, 3, &count, "", "", 6017, 6017, 3140, 3149),
              -EINVAL);
    EXPECT_EQ(count, 0) << "the count is always set";
}

TEST_F(UsbListing, FiltersBySerialNumberAndTtyName) {
    std::vector<char> buf(128 * 8);
    int count = -1;
    ASSERT_EQ(comm_list_devices_usb(0, buf.data(), 8, &count, "SN-B", "", 6017, 6017, 3140, 3149),
              0);
    EXPECT_EQ(entries_of(buf, count), std::vector<std::string>{"USBU:/dev/ttyUSB1/c45"});
    ASSERT_EQ(comm_list_devices_usb(0, buf.data(), 8, &count, "", "ttyACM", 6017, 6017, 3140, 3149),
              0);
    EXPECT_EQ(entries_of(buf, count), std::vector<std::string>{"USBS:/dev/ttyACM0/c4d"});
}

TEST_F(UsbListing, TheSetupLayerMarksProduct3140AndEveryEntryMakesAString) {
    std::vector<char> buf(128 * 8);
    int count = -1;
    ASSERT_EQ(MXX_list_usb_devices(buf.data(), 8, &count), 0);
    const auto entries = entries_of(buf, count);
    EXPECT_EQ(entries,
              (std::vector<std::string>{"USBS:/dev/ttyACM0/c4d", "USBF:/dev/ttyUSB0/c44",
                                        "USBU:/dev/ttyUSB1/c45", "USBF:/dev/ttyUSB10/c44"}));
    for (const std::string& entry : entries) {
        SCOPED_TRACE(entry);
        char out[128];
        ASSERT_EQ(MXX_make_usb_conn_string(out, entry.c_str(), 0), 0);
        EXPECT_EQ(std::string(out).substr(0, entry.rfind('/')), entry.substr(0, entry.rfind('/')));
    }
}

TEST_F(UsbListing, AStringWithoutAPathFindsItsDeviceBySerialNumber) {
    // The device node itself does not exist on this machine: the open fails
    // with ENOENT once the tty was found, with ENODEV when none matches.
    ttest::Recorder found;
    ttest::Recorder missing;
    ttest::Started started;
    int a = -1;
    int b = -1;
    ASSERT_EQ(comm_connect(&a, "USBS:SN-A/c44", ttest::Recorder::proc, 4096, 200, &found), 0);
    ASSERT_EQ(comm_connect(&b, "USBS:SN-X/c44", ttest::Recorder::proc, 4096, 200, &missing), 0);
    ASSERT_TRUE(found.wait_kind(COMM_EV_DISCONNECTED));
    ASSERT_TRUE(missing.wait_kind(COMM_EV_DISCONNECTED));
    EXPECT_EQ(found.snapshot().front().value, ENOENT);
    EXPECT_EQ(missing.snapshot().front().value, ENODEV);
}

TEST(UsbListingWithoutSysfs, ListsNothing) {
    setenv("VUXO_SYSFS_ROOT", "/nonexistent-vuxo-root", 1);
    std::vector<char> buf(128 * 2);
    int count = -1;
    EXPECT_EQ(comm_list_devices_usb(0, buf.data(), 2, &count, "", "", 6017, 6017, 3140, 3149), 0);
    EXPECT_EQ(count, 0);
    unsetenv("VUXO_SYSFS_ROOT");
}

} // namespace
