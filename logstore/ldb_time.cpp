// The stored dates of local times, and the registry switches of the logged-data database.
#include "ldb.h"

#include "lfile.h"
#include "plat_ado.h"
#include "plat_registry.h"
#include "reg.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <strings.h>

namespace {

// -1 unread, else 0 or 1; one per direction.
std::atomic<int> toDbSwitch{-1};
std::atomic<int> toLocalSwitch{-1};

bool readValue(const char *name, std::string *value) {
    char data[64] = {};
    uint32_t size = sizeof data - 1;
    uint32_t type = 0;
    if (reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, 1, name, &type, data, &size) != 0)
        return false;
    data[std::min<uint32_t>(size, sizeof data - 1)] = '\0';
    value->assign(data, strnlen(data, sizeof data));
    return true;
}

// A zone with daylight saving: its offsets on 1 January and 1 July of this year differ.
bool zoneHasDaylightSaving() {
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    struct tm jan = {}, jul = {};
    jan.tm_year = jul.tm_year = t.tm_year;
    jan.tm_mday = jul.tm_mday = 1;
    jul.tm_mon = 6;
    jan.tm_isdst = jul.tm_isdst = -1;
    time_t a = mktime(&jan), b = mktime(&jul);
    struct tm la, lb;
    localtime_r(&a, &la);
    localtime_r(&b, &lb);
    return la.tm_gmtoff != lb.tm_gmtoff;
}

bool utcMode(std::atomic<int> &cache) {
    int v = cache.load();
    if (v < 0) {
        std::string value;
        v = readValue("DatabaseUTC", &value) && strcasecmp(value.c_str(), "On") == 0 &&
                    zoneHasDaylightSaving()
                ? 1
                : 0;
        cache.store(v);
    }
    return v == 1;
}

uint32_t clamp32(int64_t s) {
    if (s < 0) return 0;
    if (s > 0xFFFFFFFFLL) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(s);
}

} // namespace

bool ldb_DigitalText(std::string *value) {
    std::string v;
    if (!readValue("DatabaseDigitalText", &v)) return false;
    if (v.size() > 20) v.resize(20);
    if (value) *value = v;
    return true;
}

void ldb_ResetSwitches() {
    toDbSwitch.store(-1);
    toLocalSwitch.store(-1);
}

int lstore_LocalToDbTime(int32_t time, double *date) {
    struct tm t = ts_GmTime(static_cast<uint32_t>(time));
    if (utcMode(toDbSwitch)) {
        // The wall-clock fields as local time, to UTC.
        t.tm_isdst = -1;
        time_t utc = mktime(&t);
        t = ts_GmTime(clamp32(static_cast<int64_t>(utc)));
    }
    *date =
        ado::OleFromParts(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    ado::DateParts back = ado::PartsFromOle(*date);
    return back.year == t.tm_year + 1900 && back.month == t.tm_mon + 1 && back.day == t.tm_mday &&
                   back.hour == t.tm_hour && back.minute == t.tm_min && back.second == t.tm_sec
               ? 1
               : 0;
}

int32_t lstore_DbTimeToLocal(double date, int invalid) {
    struct tm t = {};
    if (utcMode(toLocalSwitch)) {
        if (!invalid) {
            ado::DateParts p = ado::PartsFromOle(date);
            struct tm u = {};
            u.tm_year = p.year - 1900;
            u.tm_mon = p.month - 1;
            u.tm_mday = p.day;
            u.tm_hour = p.hour;
            u.tm_min = p.minute;
            u.tm_sec = p.second;
            time_t s = timegm(&u);
            localtime_r(&s, &t);
        }
    } else {
        if (invalid) return -1;
        ado::DateParts p = ado::PartsFromOle(date);
        t.tm_year = p.year - 1900;
        t.tm_mon = p.month - 1;
        t.tm_mday = p.day;
        t.tm_hour = p.hour;
        t.tm_min = p.minute;
        t.tm_sec = p.second;
    }
    t.tm_isdst = 0;
    return static_cast<int32_t>(clamp32(lfile_NormalizeTm(&t)));
}
