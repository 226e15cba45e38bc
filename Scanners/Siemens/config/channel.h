// The channel dialog: where one channel lives in the S5 controller (area, data block, address,
// data type and bit number), the 16-byte S5ChannelAddress inside its ChannelRecord.
#pragma once

#include "plat_dialog.h"
#include "s5types.h"

#include <cstdint>

struct ChannelRecord;

class CChannel : public PlatDialog {
public:
    enum : int {
        IDD = 130,
        IDC_AREA = 1000,
        IDC_DATA_TYPE = 1001,
        IDC_ADDRESS = 1002,
        IDC_ADDRESS_LABEL = 1003,
        IDC_DATA_BLOCK = 1004,
        IDC_BIT_NUMBER = 1005,
        IDC_DATA_TYPE_LABEL = 1006,
        IDC_BIT_LABEL = 1007,
        IDC_DATA_BLOCK_LABEL = 1008,
    };

    // The kind's bit 0, not the record's type byte, picks the address at 188 or 192.
    CChannel(void *parent, void *unused1, int kind, void *unused2, ChannelRecord *record,
             int *changed);
    ~CChannel() override = default;

    const S5ChannelAddress &Copy() const { return copy_; }

protected:
    void DoDataExchange(PlatDataExchange *dx) override;
    bool OnInitDialog() override;
    void OnOK() override;

private:
    void ShowArea(int area);
    void StoreDataType(int area);
    void FixTypeBits(int area);
    void OnSelchangeArea();
    void OnSelchangeDataType();
    void Help();
    int Area() const { return s5_TypeArea(copy_.type); }

    uint8_t *address_; // the caller's 16 bytes, at any alignment
    int *changed_;
    bool digital_;
    S5ChannelAddress copy_{};
    // Dialog data.
    uint8_t bitNumber_ = 0;
    unsigned address16_ = 0;
    unsigned dataBlock_ = 0;
};
