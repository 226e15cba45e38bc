#include "structs_locale.h"

namespace {
locale_t c_locale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}
} // namespace

CLocale::CLocale() : m_previous(uselocale(c_locale())) {}

CLocale::~CLocale() {
    uselocale(m_previous);
}
