// Modal dialogs without a desktop: the controls and the data exchange of an MFC dialog, run
// by a driver that the host (or a test) registers in place of a user at a screen.
//
// A dialog builds its control table in code. DoModal runs the load exchange and OnInitDialog,
// then hands the dialog to the driver through DialogView, which offers only what a user could
// do: type into an edit, pick a combo item, tick a box, press a button. A dialog that the driver
// leaves open is cancelled. The data exchange parses and checks as MFC does and shows MFC's
// texts through plat_MessageBox.
#pragma once

#include "plat_prompt.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Commands and notifications, with the Windows values.
enum : int { PLAT_ID_HELP = 0xE146, PLAT_CBN_SELCHANGE = 1 };

enum PlatControlKind : int {
    PLAT_CTL_STATIC = 0,   // a label
    PLAT_CTL_EDIT = 1,     // a one-line edit
    PLAT_CTL_CHECK = 2,    // a check box
    PLAT_CTL_BUTTON = 3,   // a push button
    PLAT_CTL_COMBO = 4,    // a drop-down combo with an edit part
    PLAT_CTL_DROPLIST = 5, // a drop-down list: no edit part
    PLAT_CTL_GROUP = 6,    // a group frame
};

// The driver's side of a running dialog. Only virtual functions, so that a host in another
// module can drive a dialog without sharing its layout. Texts stay valid until the next action.
class DialogView {
public:
    virtual const char *Title() const = 0;
    virtual int ResourceId() const = 0;
    virtual int ControlCount() const = 0;
    virtual int ControlId(int index) const = 0; // -1 past the end
    virtual int ControlKind(int id) const = 0;  // -1 for an unknown id
    // The text of the control at an index; labels share the id -1, so they are read this way.
    virtual const char *TextAt(int index) const = 0;
    // The caption of a label, button or box; an edit's text; a combo's edit text.
    virtual const char *Text(int id) const = 0;
    virtual int Visible(int id) const = 0;
    virtual int Enabled(int id) const = 0;
    virtual int ItemCount(int id) const = 0;
    virtual const char *Item(int id, int index) const = 0; // null past the end
    virtual int Selection(int id) const = 0;               // -1 none
    virtual int Check(int id) const = 0;
    // User actions: 0 done, -1 refused (unknown, hidden or disabled control, or one that does
    // not take that action).
    virtual int Type(int id, const char *text) = 0;
    virtual int Choose(int id, int index) = 0;
    virtual int SetCheck(int id, int state) = 0;
    // PLAT_IDOK, PLAT_IDCANCEL or PLAT_ID_HELP: 1 once the dialog has ended, 0 while it is
    // open, -1 for another command or after the end.
    virtual int Press(int command) = 0;
    virtual int Ended() const = 0;

protected:
    ~DialogView() = default;
};

// The modal driver: runs once per dialog with the context given at registration. Without a
// driver every dialog is cancelled at once.
typedef int (*PlatModalDriver)(void *context, DialogView *dialog);
void plat_SetModalDriver(PlatModalDriver driver, void *context);

// The process-wide current resource module (where dialog templates and strings come from).
void *plat_SetResourceModule(void *module);
void *plat_ResourceModule();

// Sets the resource module for a scope and restores the one it found on every path.
class PlatResourceScope {
public:
    explicit PlatResourceScope(void *module) : saved_(plat_SetResourceModule(module)) {}
    ~PlatResourceScope() { plat_SetResourceModule(saved_); }
    PlatResourceScope(const PlatResourceScope &) = delete;
    PlatResourceScope &operator=(const PlatResourceScope &) = delete;

private:
    void *saved_;
};

class PlatDialog;

// One exchange between the controls and the dialog's members (MFC's CDataExchange). After
// the first failure every further step does nothing.
class PlatDataExchange {
public:
    PlatDataExchange(PlatDialog *dialog, bool save) : dialog_(dialog), save_(save) {}
    bool Saving() const { return save_; }
    bool Failed() const { return failed_; }
    int FailedControl() const { return failedId_; }
    PlatDialog *Dialog() const { return dialog_; }
    int LastControl() const { return lastId_; }
    void SetLastControl(int id) { lastId_ = id; }
    // Shows the message (OK, exclamation), remembers the control and stops the exchange.
    void Fail(const std::string &message);

private:
    PlatDialog *dialog_;
    bool save_;
    bool failed_ = false;
    int failedId_ = 0;
    int lastId_ = 0;
};

// Exchange of a control's text with a member. Numbers parse as MFC does: blanks around, an
// optional '+' (and '-' for int), decimal digits, 32 bits at most.
void DDX_Text(PlatDataExchange *dx, int id, uint8_t &value);
void DDX_Text(PlatDataExchange *dx, int id, unsigned &value);
void DDX_Text(PlatDataExchange *dx, int id, int &value);
void DDX_Text(PlatDataExchange *dx, int id, std::string &value);
void DDX_Check(PlatDataExchange *dx, int id, int &value);
void DDX_CBIndex(PlatDataExchange *dx, int id, int &value);
// Checks of the last control exchanged, on save only.
void DDV_MinMaxByte(PlatDataExchange *dx, uint8_t value, uint8_t min, uint8_t max);
void DDV_MinMaxUInt(PlatDataExchange *dx, unsigned value, unsigned min, unsigned max);
void DDV_MaxChars(PlatDataExchange *dx, const std::string &value, int count);

// MFC's parse rules, for code that reads a control's text itself: true with the value.
bool plat_ParseUnsigned(const std::string &text, unsigned *value);
bool plat_ParseInt(const std::string &text, int *value);

// The MFC texts of failed checks.
std::string plat_RangeMessage(long long min, long long max);
std::string plat_MaxCharsMessage(int count);
extern const char PLAT_MSG_PARSE_BYTE[];
extern const char PLAT_MSG_PARSE_UINT[];
extern const char PLAT_MSG_PARSE_INT[];

struct PlatControl {
    int id = 0;
    PlatControlKind kind = PLAT_CTL_STATIC;
    bool visible = true;
    bool enabled = true;
    std::string text; // caption, edit text, or combo edit text
    std::vector<std::string> items;
    int selection = -1;
    int check = 0;
};

// The base of every dialog (MFC's CDialog).
class PlatDialog : public DialogView {
public:
    PlatDialog(int resourceId, std::string title);
    virtual ~PlatDialog() = default;
    PlatDialog(const PlatDialog &) = delete;
    PlatDialog &operator=(const PlatDialog &) = delete;

    // PLAT_IDOK or PLAT_IDCANCEL.
    int DoModal();
    bool UpdateData(bool save);
    void EndDialog(int code);
    void CenterWindow() {}

    // ---- Controls, as the dialog's own code uses them ----
    PlatControl &AddControl(int id, PlatControlKind kind, std::string text = {});
    PlatControl *Find(int id);
    const PlatControl *Find(int id) const;
    void SetWindowText(int id, const std::string &text);
    std::string GetWindowText(int id) const;
    void ShowWindow(int id, bool show);
    void EnableWindow(int id, bool enable);
    void ComboReset(int id);
    int ComboAdd(int id, const std::string &item); // index of the new item
    // The index of the item equal to the text, case ignored; -1 when none is.
    int ComboFindExact(int id, const std::string &text) const;
    // Selects an item (-1 none) and shows its text in the edit part; -1 for a bad index.
    int ComboSetSel(int id, int index);
    int ComboGetSel(int id) const;
    std::string ComboItemText(int id, int index) const;

    // Handlers of CBN_SELCHANGE of a control and of the help command.
    void OnSelChange(int id, std::function<void()> handler);
    void OnHelpCommand(std::function<void()> handler);

    // ---- DialogView ----
    const char *Title() const override { return title_.c_str(); }
    int ResourceId() const override { return resourceId_; }
    int ControlCount() const override { return static_cast<int>(controls_.size()); }
    int ControlId(int index) const override;
    int ControlKind(int id) const override;
    const char *TextAt(int index) const override;
    const char *Text(int id) const override;
    int Visible(int id) const override;
    int Enabled(int id) const override;
    int ItemCount(int id) const override;
    const char *Item(int id, int index) const override;
    int Selection(int id) const override;
    int Check(int id) const override;
    int Type(int id, const char *text) override;
    int Choose(int id, int index) override;
    int SetCheck(int id, int state) override;
    int Press(int command) override;
    int Ended() const override { return ended_ ? 1 : 0; }

protected:
    virtual bool OnInitDialog();
    virtual void DoDataExchange(PlatDataExchange *dx);
    virtual void OnOK();
    virtual void OnCancel();

private:
    PlatControl *UserControl(int id);

    int resourceId_;
    std::string title_;
    std::vector<PlatControl> controls_;
    std::map<int, std::function<void()>> selChange_;
    std::function<void()> help_;
    bool ended_ = false;
    int result_ = PLAT_IDCANCEL;
};
