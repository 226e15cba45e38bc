// Without XML configuration there is no parse error to describe.
#include "xml.h"

const char *xml_GetErrorText() {
    return "";
}
