#include "plat_dialog.h"

#include <atomic>
#include <mutex>
#include <strings.h>
#include <utility>

namespace {

std::mutex g_driverLock;
PlatModalDriver g_driver = nullptr;
void *g_driverContext = nullptr;

std::atomic<void *> g_resourceModule{nullptr};

} // namespace

void plat_SetModalDriver(PlatModalDriver driver, void *context) {
    std::lock_guard<std::mutex> lock(g_driverLock);
    g_driver = driver;
    g_driverContext = context;
}

void *plat_SetResourceModule(void *module) {
    return g_resourceModule.exchange(module);
}

void *plat_ResourceModule() {
    return g_resourceModule.load();
}

PlatDialog::PlatDialog(int resourceId, std::string title)
    : resourceId_(resourceId), title_(std::move(title)) {}

int PlatDialog::DoModal() {
    ended_ = false;
    result_ = PLAT_IDCANCEL;
    OnInitDialog();
    PlatModalDriver driver;
    void *context;
    {
        std::lock_guard<std::mutex> lock(g_driverLock);
        driver = g_driver;
        context = g_driverContext;
    }
    if (driver != nullptr && !ended_) driver(context, this);
    // Nobody left to press a button: the dialog closes as with the window's close box.
    if (!ended_) OnCancel();
    if (!ended_) EndDialog(PLAT_IDCANCEL);
    return result_;
}

bool PlatDialog::UpdateData(bool save) {
    PlatDataExchange dx(this, save);
    DoDataExchange(&dx);
    return !dx.Failed();
}

void PlatDialog::EndDialog(int code) {
    ended_ = true;
    result_ = code;
}

bool PlatDialog::OnInitDialog() {
    // As CDialog::OnInitDialog: the controls show the members.
    UpdateData(false);
    return true;
}

void PlatDialog::DoDataExchange(PlatDataExchange *) {}

void PlatDialog::OnOK() {
    if (!UpdateData(true)) return;
    EndDialog(PLAT_IDOK);
}

void PlatDialog::OnCancel() {
    EndDialog(PLAT_IDCANCEL);
}

// ---- Controls ----

PlatControl &PlatDialog::AddControl(int id, PlatControlKind kind, std::string text) {
    PlatControl c;
    c.id = id;
    c.kind = kind;
    c.text = std::move(text);
    controls_.push_back(std::move(c));
    return controls_.back();
}

PlatControl *PlatDialog::Find(int id) {
    for (PlatControl &c : controls_)
        if (c.id == id) return &c;
    return nullptr;
}

const PlatControl *PlatDialog::Find(int id) const {
    for (const PlatControl &c : controls_)
        if (c.id == id) return &c;
    return nullptr;
}

void PlatDialog::SetWindowText(int id, const std::string &text) {
    if (PlatControl *c = Find(id)) c->text = text;
}

std::string PlatDialog::GetWindowText(int id) const {
    const PlatControl *c = Find(id);
    return c != nullptr ? c->text : std::string();
}

void PlatDialog::ShowWindow(int id, bool show) {
    if (PlatControl *c = Find(id)) c->visible = show;
}

void PlatDialog::EnableWindow(int id, bool enable) {
    if (PlatControl *c = Find(id)) c->enabled = enable;
}

void PlatDialog::ComboReset(int id) {
    if (PlatControl *c = Find(id)) {
        c->items.clear();
        c->selection = -1;
        c->text.clear();
    }
}

int PlatDialog::ComboAdd(int id, const std::string &item) {
    PlatControl *c = Find(id);
    if (c == nullptr) return -1;
    c->items.push_back(item);
    return static_cast<int>(c->items.size()) - 1;
}

int PlatDialog::ComboFindExact(int id, const std::string &text) const {
    const PlatControl *c = Find(id);
    if (c == nullptr) return -1;
    for (size_t i = 0; i < c->items.size(); ++i)
        if (strcasecmp(c->items[i].c_str(), text.c_str()) == 0) return static_cast<int>(i);
    return -1;
}

int PlatDialog::ComboSetSel(int id, int index) {
    PlatControl *c = Find(id);
    if (c == nullptr) return -1;
    if (index < 0 || index >= static_cast<int>(c->items.size())) {
        c->selection = -1;
        if (c->kind == PLAT_CTL_DROPLIST) c->text.clear();
        return -1;
    }
    c->selection = index;
    c->text = c->items[index];
    return index;
}

int PlatDialog::ComboGetSel(int id) const {
    const PlatControl *c = Find(id);
    return c != nullptr ? c->selection : -1;
}

std::string PlatDialog::ComboItemText(int id, int index) const {
    const PlatControl *c = Find(id);
    if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return {};
    return c->items[index];
}

void PlatDialog::OnSelChange(int id, std::function<void()> handler) {
    selChange_[id] = std::move(handler);
}

void PlatDialog::OnHelpCommand(std::function<void()> handler) {
    help_ = std::move(handler);
}

// ---- DialogView ----

int PlatDialog::ControlId(int index) const {
    if (index < 0 || index >= static_cast<int>(controls_.size())) return -1;
    return controls_[index].id;
}

int PlatDialog::ControlKind(int id) const {
    const PlatControl *c = Find(id);
    return c != nullptr ? c->kind : -1;
}

const char *PlatDialog::TextAt(int index) const {
    if (index < 0 || index >= static_cast<int>(controls_.size())) return "";
    return controls_[index].text.c_str();
}

const char *PlatDialog::Text(int id) const {
    const PlatControl *c = Find(id);
    return c != nullptr ? c->text.c_str() : "";
}

int PlatDialog::Visible(int id) const {
    const PlatControl *c = Find(id);
    return c != nullptr && c->visible ? 1 : 0;
}

int PlatDialog::Enabled(int id) const {
    const PlatControl *c = Find(id);
    return c != nullptr && c->enabled ? 1 : 0;
}

int PlatDialog::ItemCount(int id) const {
    const PlatControl *c = Find(id);
    return c != nullptr ? static_cast<int>(c->items.size()) : 0;
}

const char *PlatDialog::Item(int id, int index) const {
    const PlatControl *c = Find(id);
    if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return nullptr;
    return c->items[index].c_str();
}

int PlatDialog::Selection(int id) const {
    return ComboGetSel(id);
}

int PlatDialog::Check(int id) const {
    const PlatControl *c = Find(id);
    return c != nullptr ? c->check : 0;
}

// A control a user can reach: known, shown and enabled, while the dialog is open.
PlatControl *PlatDialog::UserControl(int id) {
    PlatControl *c = Find(id);
    if (ended_ || c == nullptr || !c->visible || !c->enabled) return nullptr;
    return c;
}

int PlatDialog::Type(int id, const char *text) {
    PlatControl *c = UserControl(id);
    if (c == nullptr || text == nullptr) return -1;
    if (c->kind == PLAT_CTL_EDIT) {
        c->text = text;
        return 0;
    }
    if (c->kind == PLAT_CTL_COMBO) {
        c->text = text;
        c->selection = -1;
        return 0;
    }
    return -1;
}

int PlatDialog::Choose(int id, int index) {
    PlatControl *c = UserControl(id);
    if (c == nullptr || (c->kind != PLAT_CTL_COMBO && c->kind != PLAT_CTL_DROPLIST)) return -1;
    if (index < 0 || index >= static_cast<int>(c->items.size())) return -1;
    ComboSetSel(id, index);
    auto handler = selChange_.find(id);
    if (handler != selChange_.end() && handler->second) handler->second();
    return 0;
}

int PlatDialog::SetCheck(int id, int state) {
    PlatControl *c = UserControl(id);
    if (c == nullptr || c->kind != PLAT_CTL_CHECK) return -1;
    c->check = state != 0 ? 1 : 0;
    return 0;
}

int PlatDialog::Press(int command) {
    if (ended_) return -1;
    switch (command) {
    case PLAT_IDOK:
        OnOK();
        break;
    case PLAT_IDCANCEL:
        OnCancel();
        break;
    case PLAT_ID_HELP:
        if (help_) help_();
        break;
    default:
        return -1;
    }
    return ended_ ? 1 : 0;
}
