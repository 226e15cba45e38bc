#include "lgr_site.h"

#include <cstring>

namespace {
struct Place {
    const char *name;
    const char *code;
    float latitude;
    float longitude;
};

const Place kRegions[LGR_REGION_COUNT] = {
    {"ASIA", "A", 39.504f, 72.2461f},
    {"EUROPE CIS", "E", 54.3678f, 4.9219f},
    {"LATIN AMERICA", "L", -12.1253f, -76.9043f},
    {"MIDDLE EAST AND NORTH AFRICA", "M", 30.0691f, 42.4072f},
    {"NORTH AMERICA", "N", 48.8069f, -104.4141f},
    {"SOUTHERN AND WEST AFRICA", "S", 3.2502f, 17.9297f},
};

// ISO 3166-1 short names of 2006 in upper-case ASCII, alphabetical, with a representative point
// of each country; the null name ends the table.
const Place kCountries[LGR_COUNTRY_COUNT + 1] = {
    {"AFGHANISTAN", "AF", 33.0f, 65.0f},
    {"ALAND ISLANDS", "AX", 60.1167f, 19.9f},
    {"ALBANIA", "AL", 41.0f, 20.0f},
    {"ALGERIA", "DZ", 28.0f, 3.0f},
    {"AMERICAN SAMOA", "AS", -14.3333f, -170.0f},
    {"ANDORRA", "AD", 42.5f, 1.5f},
    {"ANGOLA", "AO", -12.5f, 18.5f},
    {"ANGUILLA", "AI", 18.25f, -63.1667f},
    {"ANTARCTICA", "AQ", -90.0f, 0.0f},
    {"ANTIGUA AND BARBUDA", "AG", 17.05f, -61.8f},
    {"ARGENTINA", "AR", -34.0f, -64.0f},
    {"ARMENIA", "AM", 40.0f, 45.0f},
    {"ARUBA", "AW", 12.5f, -69.9667f},
    {"AUSTRALIA", "AU", -27.0f, 133.0f},
    {"AUSTRIA", "AT", 47.3333f, 13.3333f},
    {"AZERBAIJAN", "AZ", 40.5f, 47.5f},
    {"BAHAMAS", "BS", 24.25f, -76.0f},
    {"BAHRAIN", "BH", 26.0f, 50.55f},
    {"BANGLADESH", "BD", 24.0f, 90.0f},
    {"BARBADOS", "BB", 13.1667f, -59.5333f},
    {"BELARUS", "BY", 53.0f, 28.0f},
    {"BELGIUM", "BE", 50.8333f, 4.0f},
    {"BELIZE", "BZ", 17.25f, -88.75f},
    {"BENIN", "BJ", 9.5f, 2.25f},
    {"BERMUDA", "BM", 32.3333f, -64.75f},
    {"BHUTAN", "BT", 27.5f, 90.5f},
    {"BOLIVIA", "BO", -17.0f, -65.0f},
    {"BOSNIA AND HERZEGOVINA", "BA", 44.0f, 18.0f},
    {"BOTSWANA", "BW", -22.0f, 24.0f},
    {"BOUVET ISLAND", "BV", -54.4333f, 3.4f},
    {"BRAZIL", "BR", -10.0f, -55.0f},
    {"BRITISH INDIAN OCEAN TERRITORY", "IO", -6.0f, 71.5f},
    {"BRUNEI DARUSSALAM", "BN", 4.5f, 114.6667f},
    {"BULGARIA", "BG", 43.0f, 25.0f},
    {"BURKINA FASO", "BF", 13.0f, -2.0f},
    {"BURUNDI", "BI", -3.5f, 30.0f},
    {"CAMBODIA", "KH", 13.0f, 105.0f},
    {"CAMEROON", "CM", 6.0f, 12.0f},
    {"CANADA", "CA", 60.0f, -95.0f},
    {"CAPE VERDE", "CV", 16.0f, -24.0f},
    {"CAYMAN ISLANDS", "KY", 19.5f, -80.5f},
    {"CENTRAL AFRICAN REPUBLIC", "CF", 7.0f, 21.0f},
    {"CHAD", "TD", 15.0f, 19.0f},
    {"CHILE", "CL", -30.0f, -71.0f},
    {"CHINA", "CN", 35.0f, 105.0f},
    {"CHRISTMAS ISLAND", "CX", -10.5f, 105.6667f},
    {"COCOS (KEELING) ISLANDS", "CC", -12.5f, 96.8333f},
    {"COLOMBIA", "CO", 4.0f, -72.0f},
    {"COMOROS", "KM", -12.1667f, 44.25f},
    {"CONGO", "CG", -1.0f, 15.0f},
    {"CONGO, THE DEMOCRATIC REPUBLIC OF THE", "CD", 0.0f, 25.0f},
    {"COOK ISLANDS", "CK", -21.2333f, -159.7667f},
    {"COSTA RICA", "CR", 10.0f, -84.0f},
    {"COTE D'IVOIRE", "CI", 8.0f, -5.0f},
    {"CROATIA", "HR", 45.1667f, 15.5f},
    {"CUBA", "CU", 21.5f, -80.0f},
    {"CYPRUS", "CY", 35.0f, 33.0f},
    {"CZECH REPUBLIC", "CZ", 49.75f, 15.5f},
    {"DENMARK", "DK", 56.0f, 10.0f},
    {"DJIBOUTI", "DJ", 11.5f, 43.0f},
    {"DOMINICA", "DM", 15.4167f, -61.3333f},
    {"DOMINICAN REPUBLIC", "DO", 19.0f, -70.6667f},
    {"ECUADOR", "EC", -2.0f, -77.5f},
    {"EGYPT", "EG", 27.0f, 30.0f},
    {"EL SALVADOR", "SV", 13.8333f, -88.9167f},
    {"EQUATORIAL GUINEA", "GQ", 2.0f, 10.0f},
    {"ERITREA", "ER", 15.0f, 39.0f},
    {"ESTONIA", "EE", 59.0f, 26.0f},
    {"ETHIOPIA", "ET", 8.0f, 38.0f},
    {"FALKLAND ISLANDS (MALVINAS)", "FK", -51.75f, -59.0f},
    {"FAROE ISLANDS", "FO", 62.0f, -7.0f},
    {"FIJI", "FJ", -18.0f, 175.0f},
    {"FINLAND", "FI", 64.0f, 26.0f},
    {"FRANCE", "FR", 46.0f, 2.0f},
    {"FRENCH GUIANA", "GF", 4.0f, -53.0f},
    {"FRENCH POLYNESIA", "PF", -15.0f, -140.0f},
    {"FRENCH SOUTHERN TERRITORIES", "TF", -43.0f, 67.0f},
    {"GABON", "GA", -1.0f, 11.75f},
    {"GAMBIA", "GM", 13.4667f, -16.5667f},
    {"GEORGIA", "GE", 42.0f, 43.5f},
    {"GERMANY", "DE", 51.0f, 9.0f},
    {"GHANA", "GH", 8.0f, -2.0f},
    {"GIBRALTAR", "GI", 36.1833f, -5.3667f},
    {"GREECE", "GR", 39.0f, 22.0f},
    {"GREENLAND", "GL", 72.0f, -40.0f},
    {"GRENADA", "GD", 12.1167f, -61.6667f},
    {"GUADELOUPE", "GP", 16.25f, -61.5833f},
    {"GUAM", "GU", 13.4667f, 144.7833f},
    {"GUATEMALA", "GT", 15.5f, -90.25f},
    {"GUINEA", "GN", 11.0f, -10.0f},
    {"GUINEA-BISSAU", "GW", 12.0f, -15.0f},
    {"GUYANA", "GY", 5.0f, -59.0f},
    {"HAITI", "HT", 19.0f, -72.4167f},
    {"HEARD ISLAND AND MCDONALD ISLANDS", "HM", -53.1f, 72.5167f},
    {"HOLY SEE (VATICAN CITY STATE)", "VA", 41.9f, 12.45f},
    {"HONDURAS", "HN", 15.0f, -86.5f},
    {"HONG KONG", "HK", 22.25f, 114.1667f},
    {"HUNGARY", "HU", 47.0f, 20.0f},
    {"ICELAND", "IS", 65.0f, -18.0f},
    {"INDIA", "IN", 20.0f, 77.0f},
    {"INDONESIA", "ID", -5.0f, 120.0f},
    {"IRAN, ISLAMIC REPUBLIC OF", "IR", 32.0f, 53.0f},
    {"IRAQ", "IQ", 33.0f, 44.0f},
    {"IRELAND", "IE", 53.0f, -8.0f},
    {"ISRAEL", "IL", 31.5f, 34.75f},
    {"ITALY", "IT", 42.8333f, 12.8333f},
    {"JAMAICA", "JM", 18.25f, -77.5f},
    {"JAPAN", "JP", 36.0f, 138.0f},
    {"JORDAN", "JO", 31.0f, 36.0f},
    {"KAZAKHSTAN", "KZ", 48.0f, 68.0f},
    {"KENYA", "KE", 1.0f, 38.0f},
    {"KIRIBATI", "KI", 1.4167f, 173.0f},
    {"KOREA, DEMOCRATIC PEOPLE'S REPUBLIC OF", "KP", 40.0f, 127.0f},
    {"KOREA, REPUBLIC OF", "KR", 37.0f, 127.5f},
    {"KUWAIT", "KW", 29.3375f, 47.6581f},
    {"KYRGYZSTAN", "KG", 41.0f, 75.0f},
    {"LAO PEOPLE'S DEMOCRATIC REPUBLIC", "LA", 18.0f, 105.0f},
    {"LATVIA", "LV", 57.0f, 25.0f},
    {"LEBANON", "LB", 33.8333f, 35.8333f},
    {"LESOTHO", "LS", -29.5f, 28.5f},
    {"LIBERIA", "LR", 6.5f, -9.5f},
    {"LIBYAN ARAB JAMAHIRIYA", "LY", 25.0f, 17.0f},
    {"LIECHTENSTEIN", "LI", 47.1667f, 9.5333f},
    {"LITHUANIA", "LT", 56.0f, 24.0f},
    {"LUXEMBOURG", "LU", 49.75f, 6.1667f},
    {"MACAO", "MO", 22.1667f, 113.55f},
    {"MACEDONIA, THE FORMER YUGOSLAV REPUBLIC OF", "MK", 41.8333f, 22.0f},
    {"MADAGASCAR", "MG", -20.0f, 47.0f},
    {"MALAWI", "MW", -13.5f, 34.0f},
    {"MALAYSIA", "MY", 2.5f, 112.5f},
    {"MALDIVES", "MV", 3.25f, 73.0f},
    {"MALI", "ML", 17.0f, -4.0f},
    {"MALTA", "MT", 35.8333f, 14.5833f},
    {"MARSHALL ISLANDS", "MH", 9.0f, 168.0f},
    {"MARTINIQUE", "MQ", 14.6667f, -61.0f},
    {"MAURITANIA", "MR", 20.0f, -12.0f},
    {"MAURITIUS", "MU", -20.2833f, 57.55f},
    {"MAYOTTE", "YT", -12.8333f, 45.1667f},
    {"MEXICO", "MX", 23.0f, -102.0f},
    {"MICRONESIA, FEDERATED STATES OF", "FM", 6.9167f, 158.25f},
    {"MOLDOVA, REPUBLIC OF", "MD", 47.0f, 29.0f},
    {"MONACO", "MC", 43.7333f, 7.4f},
    {"MONGOLIA", "MN", 46.0f, 105.0f},
    {"MONTSERRAT", "MS", 16.75f, -62.2f},
    {"MOROCCO", "MA", 32.0f, -5.0f},
    {"MOZAMBIQUE", "MZ", -18.25f, 35.0f},
    {"MYANMAR", "MM", 22.0f, 98.0f},
    {"NAMIBIA", "NA", -22.0f, 17.0f},
    {"NAURU", "NR", -0.5333f, 166.9167f},
    {"NEPAL", "NP", 28.0f, 84.0f},
    {"NETHERLANDS", "NL", 52.5f, 5.75f},
    {"NETHERLANDS ANTILLES", "AN", 12.25f, -68.75f},
    {"NEW CALEDONIA", "NC", -21.5f, 165.5f},
    {"NEW ZEALAND", "NZ", -41.0f, 174.0f},
    {"NICARAGUA", "NI", 13.0f, -85.0f},
    {"NIGER", "NE", 16.0f, 8.0f},
    {"NIGERIA", "NG", 10.0f, 8.0f},
    {"NIUE", "NU", -19.0333f, -169.8667f},
    {"NORFOLK ISLAND", "NF", -29.0333f, 167.95f},
    {"NORTHERN MARIANA ISLANDS", "MP", 15.2f, 145.75f},
    {"NORWAY", "NO", 62.0f, 10.0f},
    {"OMAN", "OM", 21.0f, 57.0f},
    {"PAKISTAN", "PK", 30.0f, 70.0f},
    {"PALAU", "PW", 7.5f, 134.5f},
    {"PALESTINIAN TERRITORY, OCCUPIED", "PS", 32.0f, 35.25f},
    {"PANAMA", "PA", 9.0f, -80.0f},
    {"PAPUA NEW GUINEA", "PG", -6.0f, 147.0f},
    {"PARAGUAY", "PY", -23.0f, -58.0f},
    {"PERU", "PE", -10.0f, -76.0f},
    {"PHILIPPINES", "PH", 13.0f, 122.0f},
    {"PITCAIRN", "PN", -24.7f, -127.4f},
    {"POLAND", "PL", 52.0f, 20.0f},
    {"PORTUGAL", "PT", 39.5f, -8.0f},
    {"PUERTO RICO", "PR", 18.25f, -66.5f},
    {"QATAR", "QA", 25.5f, 51.25f},
    {"REUNION", "RE", -21.1f, 55.6f},
    {"ROMANIA", "RO", 46.0f, 25.0f},
    {"RUSSIAN FEDERATION", "RU", 60.0f, 100.0f},
    {"RWANDA", "RW", -2.0f, 30.0f},
    {"SAINT HELENA", "SH", -15.9333f, -5.7f},
    {"SAINT KITTS AND NEVIS", "KN", 17.3333f, -62.75f},
    {"SAINT LUCIA", "LC", 13.8833f, -61.1333f},
    {"SAINT PIERRE AND MIQUELON", "PM", 46.8333f, -56.3333f},
    {"SAINT VINCENT AND THE GRENADINES", "VC", 13.25f, -61.2f},
    {"SAMOA", "WS", -13.5833f, -172.3333f},
    {"SAN MARINO", "SM", 43.7667f, 12.4167f},
    {"SAO TOME AND PRINCIPE", "ST", 1.0f, 7.0f},
    {"SAUDI ARABIA", "SA", 25.0f, 45.0f},
    {"SENEGAL", "SN", 14.0f, -14.0f},
    {"SERBIA AND MONTENEGRO", "CS", 44.0f, 21.0f},
    {"SEYCHELLES", "SC", -4.5833f, 55.6667f},
    {"SIERRA LEONE", "SL", 8.5f, -11.5f},
    {"SINGAPORE", "SG", 1.3667f, 103.8f},
    {"SLOVAKIA", "SK", 48.6667f, 19.5f},
    {"SLOVENIA", "SI", 46.0f, 15.0f},
    {"SOLOMON ISLANDS", "SB", -8.0f, 159.0f},
    {"SOMALIA", "SO", 10.0f, 49.0f},
    {"SOUTH AFRICA", "ZA", -29.0f, 24.0f},
    {"SOUTH GEORGIA AND THE SOUTH SANDWICH ISLANDS", "GS", -54.5f, -37.0f},
    {"SPAIN", "ES", 40.0f, -4.0f},
    {"SRI LANKA", "LK", 7.0f, 81.0f},
    {"SUDAN", "SD", 15.0f, 30.0f},
    {"SURINAME", "SR", 4.0f, -56.0f},
    {"SVALBARD AND JAN MAYEN", "SJ", 78.0f, 20.0f},
    {"SWAZILAND", "SZ", -26.5f, 31.5f},
    {"SWEDEN", "SE", 62.0f, 15.0f},
    {"SWITZERLAND", "CH", 47.0f, 8.0f},
    {"SYRIAN ARAB REPUBLIC", "SY", 35.0f, 38.0f},
    {"TAIWAN, PROVINCE OF CHINA", "TW", 23.5f, 121.0f},
    {"TAJIKISTAN", "TJ", 39.0f, 71.0f},
    {"TANZANIA, UNITED REPUBLIC OF", "TZ", -6.0f, 35.0f},
    {"THAILAND", "TH", 15.0f, 100.0f},
    {"TIMOR-LESTE", "TL", -8.55f, 125.5167f},
    {"TOGO", "TG", 8.0f, 1.1667f},
    {"TOKELAU", "TK", -9.0f, -172.0f},
    {"TONGA", "TO", -20.0f, -175.0f},
    {"TRINIDAD AND TOBAGO", "TT", 11.0f, -61.0f},
    {"TUNISIA", "TN", 34.0f, 9.0f},
    {"TURKEY", "TR", 39.0f, 35.0f},
    {"TURKMENISTAN", "TM", 40.0f, 60.0f},
    {"TURKS AND CAICOS ISLANDS", "TC", 21.75f, -71.5833f},
    {"TUVALU", "TV", -8.0f, 178.0f},
    {"UGANDA", "UG", 1.0f, 32.0f},
    {"UKRAINE", "UA", 49.0f, 32.0f},
    {"UNITED ARAB EMIRATES", "AE", 24.0f, 54.0f},
    {"UNITED KINGDOM", "GB", 54.0f, -2.0f},
    {"UNITED STATES", "US", 38.0f, -97.0f},
    {"UNITED STATES MINOR OUTLYING ISLANDS", "UM", 19.2833f, 166.6f},
    {"URUGUAY", "UY", -33.0f, -56.0f},
    {"UZBEKISTAN", "UZ", 41.0f, 64.0f},
    {"VANUATU", "VU", -16.0f, 167.0f},
    {"VENEZUELA", "VE", 8.0f, -66.0f},
    {"VIET NAM", "VN", 16.0f, 106.0f},
    {"VIRGIN ISLANDS, BRITISH", "VG", 18.5f, -64.5f},
    {"VIRGIN ISLANDS, U.S.", "VI", 18.3333f, -64.8333f},
    {"WALLIS AND FUTUNA", "WF", -13.3f, -176.2f},
    {"WESTERN SAHARA", "EH", 24.5f, -13.0f},
    {"YEMEN", "YE", 15.0f, 48.0f},
    {"ZAMBIA", "ZM", -15.0f, 30.0f},
    {"ZIMBABWE", "ZW", -18.823f, 29.751f},
    {nullptr, nullptr, 0.0f, 0.0f},
};

bool asciiUpperEqual(char a, char b) {
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    return up(a) == up(b);
}

bool equalNoCase(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (!asciiUpperEqual(*a, *b)) return false;
    return *a == *b;
}
} // namespace

const char *lgr_GetRegionName(int k) {
    return k >= 0 && k < LGR_REGION_COUNT ? kRegions[k].name : nullptr;
}

int lgr_FindRegion(const char *folderName) {
    if (folderName == nullptr || *folderName == '\0') return -1;
    for (int k = 0; k < LGR_REGION_COUNT; ++k)
        if (asciiUpperEqual(folderName[0], kRegions[k].code[0])) return k;
    return -1;
}

int lgr_GetRegionPosition(int k, float *latitude, float *longitude) {
    if (k < 0 || k >= LGR_REGION_COUNT) return -1;
    if (latitude != nullptr) *latitude = kRegions[k].latitude;
    if (longitude != nullptr) *longitude = kRegions[k].longitude;
    return 0;
}

const char *lgr_GetCountryName(int index) {
    return index >= 0 && index < LGR_COUNTRY_COUNT ? kCountries[index].name : nullptr;
}

int lgr_FindCountry(const char *name) {
    if (name == nullptr) return -1;
    for (int i = 0; kCountries[i].name != nullptr; ++i)
        if (equalNoCase(kCountries[i].name, name)) return i;
    return -1;
}

const char *lgr_GetCountryCode(const char *name) {
    int i = lgr_FindCountry(name);
    return i >= 0 ? kCountries[i].code : "--";
}

const char *lgr_FindCountryByCode(const char *code) {
    if (code == nullptr || code[0] == '\0' || code[1] == '\0') return nullptr;
    for (int i = 0; kCountries[i].name != nullptr; ++i)
        if (asciiUpperEqual(kCountries[i].code[0], code[0]) &&
            asciiUpperEqual(kCountries[i].code[1], code[1]))
            return kCountries[i].name;
    return nullptr;
}

int lgr_GetCountryPosition(int index, float *latitude, float *longitude) {
    if (index < 0 || index >= LGR_COUNTRY_COUNT) return -1;
    if (latitude != nullptr) *latitude = kCountries[index].latitude;
    if (longitude != nullptr) *longitude = kCountries[index].longitude;
    return 0;
}
