// The fields a channel read from XML must carry, by its layout and flags.
#include "chan_internal.h"

#include "exdll.h"

#include <cstring>

namespace {
namespace A = ChannelAnalog;
namespace D = ChannelDigital;

struct Check {
    const char *names;
    bool ok = true;
    // False once a field is missing; later calls do nothing.
    bool need(const char *field) {
        if (ok) ok = chan_CheckRequired(names, field) != 0;
        return ok;
    }
};

void digitalFields(Check &c, const ChannelRecord &r) {
    if (c.need("EventEnable") && chrec_TestFlag(r, D::EventEnable)) c.need("EventState");
    c.need("LowStateText");
    c.need("HighStateText");
    if (c.need("AlarmEnable") && chrec_TestFlag(r, D::AlarmEnable)) {
        for (const char *f :
             {"AlarmDriveCommon", "AlarmState", "AlarmPriority", "AlarmDelay", "AlarmText"})
            c.need(f);
    }
}

void alarmSide(Check &c, const ChannelRecord &r, const char *side, int enable, int warning,
               int deadband) {
    std::string s = side;
    if (!c.need((s + "AlarmEnable").c_str()) || !chrec_TestFlag(r, enable)) return;
    c.need((s + "AlarmDriveCommon").c_str());
    c.need((s + "AlarmLimit").c_str());
    if (c.need((s + "WarningEnable").c_str()) && chrec_TestFlag(r, warning))
        c.need((s + "WarningLimit").c_str());
    if (c.need((s + "AlarmDeadbandEnable").c_str()) && chrec_TestFlag(r, deadband))
        c.need((s + "AlarmDeadband").c_str());
    c.need((s + "AlarmPriority").c_str());
    c.need((s + "AlarmDelay").c_str());
    c.need((s + "AlarmText").c_str());
}

void analogFields(Check &c, const ChannelRecord &r) {
    if (c.need("EventEnable") && chrec_TestFlag(r, A::EventEnable)) {
        if (c.need("LowEventLimit") && c.need("HighEventLimit") &&
            chrec_Get(r, A::LowEventLimit) > chrec_Get(r, A::HighEventLimit)) {
            xml_SetError(XML_E_FAIL, "LowEventLimiit > HighEventLimit");
            c.ok = false;
        }
    }
    c.need("Units");
    c.need("MaximumUnits");
    c.need("MinimumUnits");
    c.need("ReferenceEnable");
    if (c.need("SigChangeEnable") && chrec_TestFlag(r, A::SigChangeEnable))
        c.need("SigChangeValue");
    if (c.need("ScalingEnable") && chrec_TestFlag(r, A::ScalingEnable)) {
        c.need("Gain");
        c.need("Offset");
    }
    alarmSide(c, r, "Low", A::LowAlarmEnable, A::LowWarningEnable, A::LowAlarmDeadbandEnable);
    alarmSide(c, r, "High", A::HighAlarmEnable, A::HighWarningEnable, A::HighAlarmDeadbandEnable);
}
} // namespace

int chan_CheckRequired(const char *names, const char *field) {
    // names is ",A,B,...,": a field is there when it stands between two commas.
    const size_t length = strlen(field);
    for (const char *at = names != nullptr && length > 0 ? strstr(names, field) : nullptr;
         at != nullptr; at = strstr(at + 1, field))
        if (at > names && at[-1] == ',' && at[length] == ',') return 1;
    xml_SetErrorf(XML_E_FAIL, "<%s> Required", field);
    return 0;
}

int chan_ValidateCommon(const char *names, const ChannelRecord *record) {
    const ChannelRecord &r = *record;
    const bool digital = chrec_IsDigital(r) != 0;
    Check c{names};
    if (!c.need("Enable")) return -1;
    if (!chrec_TestFlag(r, digital ? int{D::Enable} : int{A::Enable})) return 0;
    c.need("Tag");
    c.need("Description");
    c.need("Type");
    if (c.need("ErrorAlarmEnable") &&
        chrec_TestFlag(r, digital ? int{D::ErrorAlarmEnable} : int{A::ErrorAlarmEnable})) {
        c.need("ErrorAlarmDriveCommon");
        c.need("ErrorAlarmPriority");
        c.need("ErrorAlarmDelay");
    }
    if (c.ok) {
        if (digital)
            digitalFields(c, r);
        else
            analogFields(c, r);
    }
    return c.ok ? 0 : -1;
}

int chan_ValidateWithConfig(intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e, intptr_t f,
                            intptr_t g) {
    std::string folder = cfg_CurrentFolder();
    ExModule ex(folder.c_str());
    if (ex.validateChanWithConfig == nullptr) return 0;
    char message[EX_MESSAGE_SIZE];
    exdll_BeginText(message, sizeof message);
    if (ex.validateChanWithConfig(a, b, c, d, e, f, g, message, sizeof message) != -1) return 0;
    exdll_EndText(message, sizeof message);
    xml_ClearError();
    cfg_SetContext(folder.c_str(), "");
    xml_SetError(XML_E_FAIL, message);
    return xml_ReportError();
}
