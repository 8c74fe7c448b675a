// The Windows USB listing against an injected device list (what SetupAPI would
// give): which COM ports are instruments, the entries' text, and the setup
// layer's rewrite on top of it, through the public calls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "comm.h"
#include "mxx_comm.h"

namespace {

namespace fs = std::filesystem;

class ComPortListing : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ofstream(list_) <<
            // Port name, instance id, parent instance id.
            "COM3\tUSB\\VID_1781&PID_0C44\\SN-A\tUSB\\ROOT_HUB30\\4&1\n"
            "COM4\tUSB\\VID_1781&PID_0C45\\SN-B\n"
            // One interface of a composite device: the ids are the parent's.
            "COM12\tUSB\\VID_1781&PID_0C4D&MI_00\\6&2&0&0000\tUSB\\VID_1781&PID_0C4D\\SN-C\n"
            // No serial number: Windows made the last part up.
            "COM10\tUSB\\VID_1781&PID_0C44\\5&2F1A3B&0&2\n"
            "COM5\tFTDIBUS\\VID_0403+PID_6001+FT1\\0000\tUSB\\VID_0403&PID_6001\\FT1\n"
            "COM6\tUSB\\VID_1781&PID_0C4E\\SN-E\n" // past the range
            "COM1\tACPI\\PNP0501\\1\tACPI\\PNP0A08\\0\n"
            "\tUSB\\VID_1781&PID_0C44\\SN-F\n"; // no port name
        _putenv_s("VUXO_COM_DEVICES", list_.string().c_str());
    }
    void TearDown() override {
        _putenv_s("VUXO_COM_DEVICES", "");
        fs::remove(list_);
    }

    static std::vector<std::string> entries_of(const std::vector<char>& buf, int count) {
        std::vector<std::string> out;
        for (int i = 0; i < count; ++i) {
            out.emplace_back(buf.data() + 128 * i);
        }
        return out;
    }

    // One file per test: CTest runs them side by side.
    fs::path list_ = fs::temp_directory_path() /
                     (std::string("vuxo-com-devices-") +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
};

TEST_F(ComPortListing, ListsTheInstrumentsInNaturalOrder) {
    std::vector<char> buf(128 * 8, 'x');
    int count = -1;
    ASSERT_EQ(comm_list_devices_usb(0, buf.data(), 8, &count, "", "", 6017, 6017, 3140, 3149), 0);
    EXPECT_EQ(entries_of(buf, count),
              (std::vector<std::string>{"USBS:COM3/c44", "USBU:COM4/c45", "USBS:COM10/c44",
                                        "USBS:COM12/c4d"}));
    ASSERT_EQ(comm_list_devices_usb(0, buf.data(), 8, &count, "SN-C", "", 6017, 6017, 3140, 3149),
              0);
    EXPECT_EQ(entries_of(buf, count), std::vector<std::string>{"USBS:COM12/c4d"});
}

TEST_F(ComPortListing, TheSetupLayerMarksProduct3140) {
    std::vector<char> buf(128 * 8);
    int count = -1;
    ASSERT_EQ(MXX_list_usb_devices(buf.data(), 8, &count), 0);
    EXPECT_EQ(entries_of(buf, count),
              (std::vector<std::string>{"USBF:COM3/c44", "USBU:COM4/c45", "USBF:COM10/c44",
                                        "USBS:COM12/c4d"}));
}

TEST_F(ComPortListing, AStringWithoutAPortFindsItsDeviceBySerialNumber) {
    char port[128];
    char serial[128];
    int product = 0;
    ASSERT_EQ(comm_usb_describe("USBS:SN-C/c4d", port, serial, &product), 0);
    EXPECT_STREQ(port, "COM12");
    EXPECT_STREQ(serial, "SN-C");
    EXPECT_EQ(product, 0xC4D);
    EXPECT_EQ(comm_usb_describe("USBS:SN-X/c44", port, serial, &product), -COMM_ENODEV);
}

TEST(ComPortListingWithoutDevices, ListsNothing) {
    _putenv_s("VUXO_COM_DEVICES", "no-such-file.txt");
    std::vector<char> buf(128 * 2);
    int count = -1;
    EXPECT_EQ(comm_list_devices_usb(0, buf.data(), 2, &count, "", "", 6017, 6017, 3140, 3149), 0);
    EXPECT_EQ(count, 0);
    _putenv_s("VUXO_COM_DEVICES", "");
}

} // namespace
