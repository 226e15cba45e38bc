// Alarm passes without messages: no alarm or logger process is fed yet.
#include "alm.h"

int alm_BeginDevice(ChannelTableHeader *) {
    return 0;
}

int alm_EndDevice() {
    return 0;
}

int alm_SendErrorAlarmEnd(int, uint32_t, const char *, const char *, const float *) {
    return 0;
}

int alm_SendErrorAlarm(int, uint32_t, int, int, int, const char *, const char *, const float *) {
    return 0;
}

int alm_SendLimitAlarm(int, uint32_t, int, const char *, const char *, const float *) {
    return 0;
}

int alm_SendLimitAlarmEnd(int, uint32_t, const char *, const char *, const float *) {
    return 0;
}

int alm_CountEventStart(int) {
    return 0;
}

int alm_CountEventEnd(int) {
    return 0;
}

int alm_CountSignificantChange(int) {
    return 0;
}
