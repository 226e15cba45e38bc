#include "dm.h"
#include "fake_port.h"
#include "plat_error.h"
#include "s5.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace {

class OpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        link_ResetSettings();
        std::memset(&slot, 0, sizeof slot);
        slot.deviceNumber = 3;
    }
    void TearDown() override { link_ResetSettings(); }

    S5PortSettings Stored() const {
        S5PortSettings s;
        std::memcpy(&s, slot.deviceConfig + 4, sizeof s);
        return s;
    }
    void Set(const S5PortSettings &s) { std::memcpy(slot.deviceConfig + 4, &s, sizeof s); }

    FakePort port;
    FakePortScope scope{port};
    DeviceSlot slot;
};

TEST_F(OpenTest, EmptySettingsOpenComOfTheDeviceWithTheDefaultsWrittenBack) {
    ASSERT_EQ(0, s5_OpenDevice(&slot));
    EXPECT_EQ("COM3", port.opened_name);
    EXPECT_EQ(9600u, port.opened_line.baud);
    EXPECT_EQ(2, port.opened_line.parity);
    EXPECT_EQ(8, port.opened_line.byte_size);
    EXPECT_EQ(1, port.opened_line.parity_check);
    EXPECT_EQ(0, port.opened_line.stop_bits);
    EXPECT_EQ(1, link_Settings().bcc);

    S5PortSettings s = Stored();
    EXPECT_EQ(0, std::memcmp("COM3\0\0\0\0", s.port_name, 8));
    EXPECT_EQ(9600u, s.baud_rate);
    EXPECT_EQ(2, s.parity);
    EXPECT_EQ(1, s.protocol_mode);
    EXPECT_EQ(1, s.data_format);
    EXPECT_EQ(220, s.char_delay_ms);
    EXPECT_EQ(2000, s.ack_timeout_ms);
    EXPECT_EQ(4000, s.block_wait_ms);
    EXPECT_EQ(6, s.retries);
    EXPECT_EQ(0, s.priority);
}

TEST_F(OpenTest, EmptyPortWithABaudRateKeepsParityModeAndFormat) {
    S5PortSettings s{};
    s.baud_rate = 19200;
    s.parity = 1;
    s.protocol_mode = 2;
    s.data_format = 3;
    s.char_delay_ms = 100;
    s.ack_timeout_ms = 550;
    s.block_wait_ms = 1000;
    s.retries = 2;
    s.priority = 7;
    Set(s);
    ASSERT_EQ(0, s5_OpenDevice(&slot));
    EXPECT_EQ("COM3", port.opened_name);
    EXPECT_EQ(19200u, port.opened_line.baud);
    EXPECT_EQ(1, port.opened_line.parity);
    EXPECT_EQ(7, port.opened_line.byte_size);
    EXPECT_EQ(0, port.opened_line.parity_check);
    EXPECT_EQ(2, port.opened_line.stop_bits);
    EXPECT_EQ(0, link_Settings().bcc);
    EXPECT_EQ(100, link_Settings().char_delay);
    EXPECT_EQ(550, link_Settings().ack_timeout);
    EXPECT_EQ(1000, link_Settings().block_wait);
    EXPECT_EQ(2, link_Settings().retries);
    EXPECT_NE(0, link_Settings().priority);
    S5PortSettings after = Stored();
    EXPECT_EQ(1, after.parity);
    EXPECT_EQ(2, after.protocol_mode);
    EXPECT_EQ(3, after.data_format);
}

TEST_F(OpenTest, NamedPortWithoutBaudRateGetsOnly9600) {
    S5PortSettings s{};
    std::memcpy(s.port_name, "COM2", 4);
    s.parity = 0;
    s.data_format = 5;
    s.protocol_mode = 7; // neither on nor off: the block check stays on
    Set(s);
    ASSERT_EQ(0, s5_OpenDevice(&slot));
    EXPECT_EQ("COM2", port.opened_name);
    EXPECT_EQ(9600u, Stored().baud_rate);
    EXPECT_EQ(0, port.opened_line.parity);
    EXPECT_EQ(8, port.opened_line.byte_size);
    EXPECT_EQ(1, link_Settings().bcc);
    EXPECT_EQ(5, Stored().data_format);
}

TEST_F(OpenTest, PortNameFillsItsEightBytesWithoutReadingTheBaudRate) {
    slot.deviceNumber = 12345;
    S5PortSettings s{};
    s.baud_rate = 0x41414141; // "AAAA" right behind the name
    Set(s);
    ASSERT_EQ(0, s5_OpenDevice(&slot));
    EXPECT_EQ("COM12345", port.opened_name);
    EXPECT_EQ(0, std::memcmp("COM12345", Stored().port_name, 8));
    EXPECT_EQ(0x41414141u, Stored().baud_rate);
    // Opened again from the full field.
    ASSERT_EQ(0, s5_OpenDevice(&slot));
    EXPECT_EQ("COM12345", port.opened_name);
}

TEST_F(OpenTest, SettingsOutsideTheirTablesLeaveThePortAsItIs) {
    S5PortSettings s{};
    std::memcpy(s.port_name, "COM1", 4);
    s.baud_rate = 4800;
    s.data_format = 9;
    s.parity = 5;
    Set(s);
    ASSERT_EQ(0, s5_OpenDevice(&slot));
    EXPECT_EQ(4800u, port.opened_line.baud);
    EXPECT_EQ(0, port.opened_line.byte_size); // not a size: kept
    EXPECT_EQ(5, port.opened_line.parity);    // not a parity: kept
    EXPECT_GT(port.opened_line.stop_bits, 2); // not a code: kept
    EXPECT_EQ(9, Stored().data_format);
    EXPECT_EQ(5, Stored().parity);

    s.data_format = 6; // byte size 0: the port keeps its size
    Set(s);
    ASSERT_EQ(0, s5_OpenDevice(&slot));
    EXPECT_EQ(0, port.opened_line.byte_size);
    EXPECT_EQ(0, port.opened_line.stop_bits);
}

TEST_F(OpenTest, FailedOpenReportsTheWindowsError) {
    port.OpenFails(WERR_ACCESS_DENIED);
    errno = 0;
    EXPECT_EQ(-1, s5_OpenDevice(&slot));
    EXPECT_EQ(static_cast<int>(WERR_ACCESS_DENIED), errno);
    EXPECT_EQ(0, s5_CloseDevice());
}

} // namespace
