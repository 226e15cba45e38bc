// The advanced device dialog: the serial-line and 3964R settings of one S5 device.
#pragma once

#include "plat_dialog.h"
#include "s5types.h"

#include <cstdint>

class CAdvanced : public PlatDialog {
public:
    enum : int {
        IDD = 129,
        IDC_PORT = 601,
        IDC_BAUD = 602,
        IDC_PARITY = 603,
        IDC_PRIORITY = 604,
        IDC_PROTOCOL_MODE = 1000,
        IDC_DATA_FORMAT = 1001,
        IDC_RETRIES = 1002,
        IDC_CHAR_DELAY = 1003,
        IDC_BLOCK_WAIT = 1004,
        IDC_TIMEOUT = 1005,
        IDC_READ_FIRST = 1010,
        IDC_READ_BACK = 1011,
    };

    // Works on a copy of the 28 bytes, with the defaults applied; writes back only on OK and
    // only when a byte differs.
    CAdvanced(void *parent, uint16_t portNumber, S5PortSettings *settings, int *changed);
    ~CAdvanced() override = default;

    const S5PortSettings &Copy() const { return copy_; }

protected:
    void DoDataExchange(PlatDataExchange *dx) override;
    bool OnInitDialog() override;
    void OnOK() override;

private:
    void Help();

    S5PortSettings *settings_;
    int *changed_;
    S5PortSettings copy_{};
    // Dialog data.
    int readFirst_ = 0;
    int readBack_ = 0;
    uint8_t protocolMode_ = 0;
    uint8_t dataFormat_ = 0;
    uint8_t retries_ = 0;
    unsigned charDelay_ = 0;
    unsigned blockWait_ = 0;
    unsigned timeout_ = 0;
    std::string port_;
    unsigned baud_ = 0;
};
