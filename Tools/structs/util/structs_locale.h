// Numbers are read and written in the "C" locale whatever locale the host process set, so
// that "0.5" never becomes "0,5" in a configuration file.
#pragma once

#include <clocale>
#include <locale.h>

// Switches the calling thread to the "C" locale for its lifetime.
class CLocale {
public:
    CLocale();
    ~CLocale();
    CLocale(const CLocale &) = delete;
    CLocale &operator=(const CLocale &) = delete;

private:
    locale_t m_previous;
};
