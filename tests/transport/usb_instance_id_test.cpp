// Windows names a USB device by its instance id; the listing reads vendor,
// product and serial number from it.
#include "usb_instance_id.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* id;
    bool usb;
    int vid;
    int pid;
    const char* serial;
};

TEST(UsbInstanceId, ReadsVendorProductAndSerial) {
    const Case cases[] = {
        {"USB\\VID_1781&PID_0C44\\A1B2C3", true, 0x1781, 0x0C44, "A1B2C3"},
        {"usb\\vid_1781&pid_0c45\\x9", true, 0x1781, 0x0C45, "x9"},
        // Windows makes up the last part of a device with no serial number.
        {"USB\\VID_1781&PID_0C44\\5&2F1A3B&0&2", true, 0x1781, 0x0C44, ""},
        // One interface of a composite device: the parent holds the serial.
        {"USB\\VID_1781&PID_0C44&MI_00\\6&1234&0&0000", false, 0, 0, ""},
        {"FTDIBUS\\VID_0403+PID_6001+A1\\0000", false, 0, 0, ""},
        {"USB\\VID_17&PID_0C44\\A1", false, 0, 0, ""},
        {"USB\\VID_1781&PID_0C44", false, 0, 0, ""},
        {"", false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        comm::UsbIds ids;
        ASSERT_EQ(comm::parse_usb_instance_id(c.id, &ids), c.usb) << c.id;
        if (c.usb) {
            EXPECT_EQ(ids.vid, c.vid) << c.id;
            EXPECT_EQ(ids.pid, c.pid) << c.id;
            EXPECT_EQ(ids.serial, c.serial) << c.id;
        }
    }
}

} // namespace
