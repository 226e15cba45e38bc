// Schemas of the configuration files, written into the SCHEMA folder of the configuration
// root beside the device folders. Failures set the XML error state.
#pragma once

#include "xml.h"

#include <cstdint>
#include <string>

struct structs_type;

// Appends to parent one xs:element per leaf field of the type, leaves first .. limit - 1
// (limit 0: to the end), each with the simple type of its structs type. On a failure the
// message becomes "<field> message" and the walk stops. The error state.
int32_t xsd_AddFieldElement(XmlDocument *doc, XmlNode *parent, const structs_type *type, int first,
                            int limit);

// "SCHEMA/<prefix>.xsd" for config.xml: the save settings, the device type and the extra type
// (either may be null). 0, or -1 with the error state set.
int xsd_WriteDeviceSchema(const char *folder, const structs_type *deviceType,
                          const structs_type *extraType);
// The same schema built and not saved: the document (the caller releases it) and its path, so
// that a save finds every failure of its own before it writes a file. Null with the error state
// set.
XmlDocument *xsd_BuildDeviceSchema(const char *folder, const structs_type *deviceType,
                                   const structs_type *extraType, std::string *path);

// "SCHEMA/<prefix>_<kind>.xsd" for a channel file of count channels; mixed adds the digital
// group to an "ai" file. 0, or -1 with the error state set.
int xsd_WriteChannelSchema(const char *folder, int kind, int mixed, const structs_type *deviceType,
                           const structs_type *extraType, int count);
// The same schema staged (xml_StageFile) rather than saved; the SCHEMA folder is made.
int xsd_StageChannelSchema(const char *folder, int kind, int mixed, const structs_type *deviceType,
                           const structs_type *extraType, int count, XmlStaged *staged);
