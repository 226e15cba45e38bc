// XML document helpers: the module-wide error state of configuration reads and writes.
#pragma once

// The text of the first failure: object name, context, " - " and the message.
const char *xml_GetErrorText();
