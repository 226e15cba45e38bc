#include "channel.h"

#include "chrec.h"
#include "dll.h"

#include <cstring>
#include <string>

namespace {

const char *const kDataTypes[] = {
    "Bit",           "Signed Byte",     "Unsigned Byte",    "Signed Word",
    "Unsigned Word", "Signed Byte MSB", "Unsigned Byte MSB"};
constexpr int kStatic = -1;

bool IsBlockArea(int area) {
    return area == S5_AREA_D || area == S5_AREA_X;
}

// The area's word, or "" for an index past the table.
const char *AreaWord(int area) {
    return area >= 0 && area < S5_AREA_COUNT ? S5_AREA_WORDS[area] : "";
}

} // namespace

CChannel::CChannel(void *, void *, int kind, void *, ChannelRecord *record, int *changed)
    : PlatDialog(IDD, "Channel Device Specific Configuration"), changed_(changed),
      digital_((kind & 1) != 0) {
    address_ = record->bytes + (digital_ ? ChannelDigital::DevicePart : ChannelAnalog::DevicePart);
    std::memcpy(&copy_, address_, sizeof copy_);

    AddControl(kStatic, PLAT_CTL_STATIC, "Type :");
    AddControl(IDC_AREA, PLAT_CTL_DROPLIST).enabled = false;
    AddControl(IDC_DATA_BLOCK_LABEL, PLAT_CTL_STATIC, "Data Block:");
    AddControl(IDC_DATA_BLOCK, PLAT_CTL_EDIT);
    AddControl(IDC_ADDRESS_LABEL, PLAT_CTL_STATIC, "Data Address:");
    AddControl(IDC_ADDRESS, PLAT_CTL_EDIT);
    AddControl(IDC_DATA_TYPE_LABEL, PLAT_CTL_STATIC, "Data Type:");
    AddControl(IDC_DATA_TYPE, PLAT_CTL_DROPLIST);
    AddControl(IDC_BIT_LABEL, PLAT_CTL_STATIC, "Data Bit Number :");
    AddControl(IDC_BIT_NUMBER, PLAT_CTL_EDIT);
    AddControl(PLAT_IDOK, PLAT_CTL_BUTTON, "&OK");
    AddControl(PLAT_IDCANCEL, PLAT_CTL_BUTTON, "&Cancel");
    AddControl(PLAT_ID_HELP, PLAT_CTL_BUTTON, "&Help");
    OnSelChange(IDC_AREA, [this] { OnSelchangeArea(); });
    OnSelChange(IDC_DATA_TYPE, [this] { OnSelchangeDataType(); });
    OnHelpCommand([this] { Help(); });
}

void CChannel::DoDataExchange(PlatDataExchange *dx) {
    // The record keeps a byte of block and of word for D and X, 16 bits elsewhere: larger
    // numbers are refused rather than cut. The limits follow the area the edits show.
    bool block = IsBlockArea(Area());
    unsigned limit = block ? 255 : 65535;
    DDX_Text(dx, IDC_DATA_BLOCK, dataBlock_);
    if (block) DDV_MinMaxUInt(dx, dataBlock_, 0, 255);
    DDX_Text(dx, IDC_ADDRESS, address16_);
    DDV_MinMaxUInt(dx, address16_, 0, limit);
    DDX_Text(dx, IDC_BIT_NUMBER, bitNumber_);
    DDV_MinMaxByte(dx, bitNumber_, 0, 15);
}

bool CChannel::OnInitDialog() {
    PlatDialog::OnInitDialog();
    ComboReset(IDC_AREA);
    for (const char *name : S5_AREA_NAMES)
        ComboAdd(IDC_AREA, name);
    ComboReset(IDC_DATA_TYPE);
    for (const char *type : kDataTypes)
        ComboAdd(IDC_DATA_TYPE, type);
    int area = Area();
    ComboSetSel(IDC_AREA, area < S5_AREA_COUNT ? area : -1);
    bitNumber_ = copy_.bit_number;
    ShowArea(area);
    UpdateData(false);
    return true;
}

void CChannel::ShowArea(int area) {
    if (IsBlockArea(area)) {
        ShowWindow(IDC_DATA_BLOCK, true);
        ShowWindow(IDC_DATA_BLOCK_LABEL, true);
        SetWindowText(IDC_DATA_BLOCK_LABEL, "Data Block :");
        dataBlock_ = copy_.address >> 8;
        address16_ = copy_.address & 0xFF;
    } else {
        ShowWindow(IDC_DATA_BLOCK, false);
        ShowWindow(IDC_DATA_BLOCK_LABEL, false);
        address16_ = copy_.address;
    }
    SetWindowText(IDC_ADDRESS_LABEL, std::string(AreaWord(area)) + " Address : ");
    SetWindowText(IDC_DATA_TYPE_LABEL, "Data Type :");
    const char *type;
    if (copy_.type & S5_TYPE_BIT) {
        ShowWindow(IDC_BIT_NUMBER, true);
        ShowWindow(IDC_BIT_LABEL, true);
        type = "Bit";
    } else {
        ShowWindow(IDC_BIT_NUMBER, false);
        ShowWindow(IDC_BIT_LABEL, false);
        bool sign = (copy_.type & S5_TYPE_SIGNED) != 0;
        if (copy_.type & S5_TYPE_WORD)
            type = sign ? "Signed Word" : "Unsigned Word";
        else if (copy_.byte_select == 1)
            type = sign ? "Signed Byte MSB" : "Unsigned Byte MSB";
        else
            type = sign ? "Signed Byte" : "Unsigned Byte";
    }
    ComboSetSel(IDC_DATA_TYPE, ComboFindExact(IDC_DATA_TYPE, type));
}

void CChannel::StoreDataType(int area) {
    std::string type = ComboItemText(IDC_DATA_TYPE, ComboGetSel(IDC_DATA_TYPE));
    uint8_t a = static_cast<uint8_t>(area);
    if (type == "Bit") {
        copy_.type |= S5_TYPE_BIT;
        copy_.bit_number = bitNumber_;
    } else if (type == "Signed Byte") {
        copy_.byte_select = 0;
        copy_.type = a | S5_TYPE_SIGNED;
    } else if (type == "Unsigned Byte") {
        copy_.byte_select = 0;
        copy_.type = a;
    } else if (type == "Signed Byte MSB") {
        copy_.byte_select = 1;
        copy_.type = a | S5_TYPE_SIGNED;
    } else if (type == "Unsigned Byte MSB") {
        copy_.byte_select = 1;
        copy_.type = a;
    } else if (type == "Signed Word") {
        copy_.type = a | S5_TYPE_SIGNED | S5_TYPE_WORD;
    } else if (type == "Unsigned Word") {
        copy_.type = a | S5_TYPE_WORD;
    }
    copy_.address = static_cast<uint16_t>(address16_ & 0xFFFF);
    if (IsBlockArea(area)) copy_.address |= static_cast<uint16_t>(dataBlock_ << 8);
}

void CChannel::FixTypeBits(int area) {
    uint8_t type = copy_.type & (S5_TYPE_AREA_MASK | S5_TYPE_WORD);
    if (digital_) type |= S5_TYPE_BIT;
    if (area >= 0 && area < S5_AREA_COUNT) {
        if (S5_ELEMENT_SIZE[area] == 1)
            type &= static_cast<uint8_t>(~S5_TYPE_WORD);
        else
            type |= S5_TYPE_WORD;
    }
    copy_.type = type;
}

void CChannel::OnSelchangeArea() {
    if (!UpdateData(true)) return;
    int selected = ComboGetSel(IDC_AREA);
    if (selected >= 0)
        copy_.type = static_cast<uint8_t>((copy_.type & ~S5_TYPE_AREA_MASK) | selected);
    int area = Area();
    FixTypeBits(area);
    StoreDataType(area);
    ShowArea(area);
    UpdateData(false);
}

void CChannel::OnSelchangeDataType() {
    if (!UpdateData(true)) return;
    int area = Area();
    StoreDataType(area);
    ShowArea(area);
    UpdateData(false);
}

void CChannel::OnOK() {
    if (!UpdateData(true)) return;
    // With no area selected (an index past the list), the copy keeps its area bits.
    int selected = ComboGetSel(IDC_AREA);
    if (selected >= 0)
        copy_.type = static_cast<uint8_t>((copy_.type & ~S5_TYPE_AREA_MASK) | selected);
    StoreDataType(Area());
    if (std::memcmp(&copy_, address_, sizeof copy_) != 0) {
        std::memcpy(address_, &copy_, sizeof copy_);
        *changed_ = 1;
    }
    EndDialog(PLAT_IDOK);
}

void CChannel::Help() {
    plat_ShowHelp(dll_HelpFile(), "::/html/kstrnxd8.htm");
}
