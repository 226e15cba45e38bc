#include "advanced.h"

#include "dll.h"
#include "plat_serial.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

namespace {

const char *const kParity[] = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};
const char *const kBaud[] = {"75",    "110",   "134",   "150",   "300",   "600",
                             "1200",  "1800",  "2400",  "4800",  "7200",  "9600",
                             "14400", "19200", "38400", "57600", "115200"};
const char *const kPriority[] = {"LOW", "HIGH"};
constexpr int kStatic = -1; // labels and groups carry no id of their own

// The port field: 8 bytes, NUL-terminated only when shorter.
std::string PortText(const S5PortSettings &s) {
    return std::string(s.port_name, strnlen(s.port_name, sizeof s.port_name));
}

void SetPortText(S5PortSettings *s, const std::string &text) {
    std::memset(s->port_name, 0, sizeof s->port_name);
    std::memcpy(s->port_name, text.data(), std::min(text.size(), sizeof s->port_name));
}

} // namespace

CAdvanced::CAdvanced(void *, uint16_t portNumber, S5PortSettings *settings, int *changed)
    : PlatDialog(IDD, "Advanced Device Specific Configuration"), settings_(settings),
      changed_(changed) {
    std::memcpy(&copy_, settings, sizeof copy_);
    if (copy_.port_name[0] == '\0') {
        SetPortText(&copy_, "COM" + std::to_string(portNumber));
        if (copy_.baud_rate == 0) {
            copy_.baud_rate = 9600;
            copy_.parity = 2;
            copy_.protocol_mode = 1;
            copy_.data_format = 1;
            copy_.char_delay_ms = 220;
            copy_.ack_timeout_ms = 2000;
            copy_.block_wait_ms = 4000;
            copy_.priority = 0;
            copy_.retries = 6;
        }
    }
    if (copy_.baud_rate == 0) copy_.baud_rate = 9600;

    AddControl(kStatic, PLAT_CTL_GROUP, "Com Settings");
    AddControl(kStatic, PLAT_CTL_STATIC, "&Port:");
    AddControl(IDC_PORT, PLAT_CTL_COMBO).items = {"COM88"};
    AddControl(kStatic, PLAT_CTL_STATIC, "Parit&y:");
    PlatControl &parity = AddControl(IDC_PARITY, PLAT_CTL_DROPLIST);
    parity.items.assign(std::begin(kParity), std::end(kParity));
    AddControl(kStatic, PLAT_CTL_STATIC, "&Baud Rate:");
    PlatControl &baud = AddControl(IDC_BAUD, PLAT_CTL_COMBO);
    baud.items.assign(std::begin(kBaud), std::end(kBaud));
    AddControl(kStatic, PLAT_CTL_STATIC, "Priority:");
    // Only the item index is stored: a typed text would show one priority and save another.
    PlatControl &priority = AddControl(IDC_PRIORITY, PLAT_CTL_DROPLIST);
    priority.items.assign(std::begin(kPriority), std::end(kPriority));
    AddControl(kStatic, PLAT_CTL_STATIC, "Protocol Mode:");
    AddControl(IDC_PROTOCOL_MODE, PLAT_CTL_EDIT);
    AddControl(kStatic, PLAT_CTL_STATIC, "Data Format:");
    AddControl(IDC_DATA_FORMAT, PLAT_CTL_EDIT);
    AddControl(kStatic, PLAT_CTL_STATIC, "Number of Retries:");
    AddControl(IDC_RETRIES, PLAT_CTL_EDIT);
    AddControl(kStatic, PLAT_CTL_GROUP, "Timeouts");
    AddControl(kStatic, PLAT_CTL_STATIC, "Character Delay Time:");
    AddControl(IDC_CHAR_DELAY, PLAT_CTL_EDIT);
    AddControl(kStatic, PLAT_CTL_STATIC, "Block Wait Time:");
    AddControl(IDC_BLOCK_WAIT, PLAT_CTL_EDIT);
    AddControl(kStatic, PLAT_CTL_STATIC, "Timeout");
    AddControl(IDC_TIMEOUT, PLAT_CTL_EDIT);
    AddControl(kStatic, PLAT_CTL_GROUP, "Output Scan Options");
    AddControl(IDC_READ_FIRST, PLAT_CTL_CHECK, "Read Outputs From Device On First Scan");
    AddControl(IDC_READ_BACK, PLAT_CTL_CHECK, "Read Outputs Back From Device If Not Writing");
    AddControl(PLAT_IDOK, PLAT_CTL_BUTTON, "&OK");
    AddControl(PLAT_IDCANCEL, PLAT_CTL_BUTTON, "&Cancel");
    AddControl(PLAT_ID_HELP, PLAT_CTL_BUTTON, "Help");
    OnHelpCommand([this] { Help(); });
}

void CAdvanced::DoDataExchange(PlatDataExchange *dx) {
    // The port and baud combos take typed entries too; only their texts are read back.
    if (dx->Saving()) {
        DDX_Text(dx, IDC_PORT, port_);
        DDV_MaxChars(dx, port_, static_cast<int>(sizeof copy_.port_name));
        DDX_Text(dx, IDC_BAUD, baud_);
    }
    DDX_Check(dx, IDC_READ_FIRST, readFirst_);
    DDX_Check(dx, IDC_READ_BACK, readBack_);
    DDX_Text(dx, IDC_PROTOCOL_MODE, protocolMode_);
    DDV_MinMaxByte(dx, protocolMode_, 1, 2);
    DDX_Text(dx, IDC_DATA_FORMAT, dataFormat_);
    DDV_MinMaxByte(dx, dataFormat_, 0, 8);
    DDX_Text(dx, IDC_RETRIES, retries_);
    // The record keeps 16 bits: a larger time-out is refused rather than cut.
    DDX_Text(dx, IDC_CHAR_DELAY, charDelay_);
    DDV_MinMaxUInt(dx, charDelay_, 0, 65535);
    DDX_Text(dx, IDC_BLOCK_WAIT, blockWait_);
    DDV_MinMaxUInt(dx, blockWait_, 0, 65535);
    DDX_Text(dx, IDC_TIMEOUT, timeout_);
    DDV_MinMaxUInt(dx, timeout_, 0, 65535);
}

bool CAdvanced::OnInitDialog() {
    PlatDialog::OnInitDialog();
    CenterWindow();

    std::string stored = PortText(copy_);
    std::vector<std::string> ports;
    if (plat_SerialEnumPorts(ports) < 0) {
        ComboAdd(IDC_PORT, stored);
    } else {
        bool found = false;
        for (const std::string &name : ports) {
            if (name.size() > 6) continue;
            ComboAdd(IDC_PORT, name);
            if (strcasecmp(name.c_str(), stored.c_str()) == 0) found = true;
        }
        if (!found) ComboAdd(IDC_PORT, stored);
    }
    ComboSetSel(IDC_PORT, ComboFindExact(IDC_PORT, stored));

    std::string baud = std::to_string(copy_.baud_rate);
    int baudIndex = ComboFindExact(IDC_BAUD, baud);
    if (baudIndex < 0) baudIndex = ComboAdd(IDC_BAUD, baud);
    ComboSetSel(IDC_BAUD, baudIndex);

    ComboSetSel(IDC_PARITY, copy_.parity);
    if (copy_.priority == 1) {
        ComboSetSel(IDC_PRIORITY, 1);
    } else {
        copy_.priority = 0;
        ComboSetSel(IDC_PRIORITY, 0);
    }

    readFirst_ = copy_.read_outputs_first != 0 ? 1 : 0;
    readBack_ = copy_.read_back_outputs != 0 ? 1 : 0;
    protocolMode_ = copy_.protocol_mode;
    dataFormat_ = copy_.data_format;
    retries_ = copy_.retries;
    charDelay_ = copy_.char_delay_ms;
    blockWait_ = copy_.block_wait_ms;
    timeout_ = copy_.ack_timeout_ms;
    UpdateData(false);
    return true;
}

void CAdvanced::OnOK() {
    if (!UpdateData(true)) return;
    SetPortText(&copy_, port_);
    copy_.baud_rate = baud_;
    // A stored parity beyond the list selects nothing; it is kept rather than turned into 255.
    int parity = ComboGetSel(IDC_PARITY);
    if (parity >= 0) copy_.parity = static_cast<uint8_t>(parity);
    copy_.priority = ComboGetSel(IDC_PRIORITY) == 1 ? 1 : 0;
    copy_.protocol_mode = protocolMode_;
    copy_.data_format = dataFormat_;
    copy_.retries = retries_;
    copy_.char_delay_ms = static_cast<uint16_t>(charDelay_);
    copy_.block_wait_ms = static_cast<uint16_t>(blockWait_);
    copy_.ack_timeout_ms = static_cast<uint16_t>(timeout_);
    copy_.read_outputs_first = readFirst_ != 0 ? 1 : 0;
    copy_.read_back_outputs = readBack_ != 0 ? 1 : 0;
    if (std::memcmp(&copy_, settings_, sizeof copy_) != 0) {
        std::memcpy(settings_, &copy_, sizeof copy_);
        *changed_ = 1;
    }
    EndDialog(PLAT_IDOK);
}

void CAdvanced::Help() {
    plat_ShowHelp(dll_HelpFile(), "::/html/toveltgk.htm");
}
