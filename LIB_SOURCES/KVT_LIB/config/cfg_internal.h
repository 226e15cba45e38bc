// Internals shared by the configuration load and save sources.
#pragma once

#include "ex.h"
#include "structs_chan.h"
#include "xml.h"

#include <string>
#include <vector>

// The entry points of a folder's extension module, looked up once per operation. The module
// is loaded at construction and freed at destruction; nothing it returned may outlive this.
struct ExModule {
    void *handle = nullptr;
    Ex_DoXml_fn doXml = nullptr;
    Ex_Get_Config_Type_fn getConfigType = nullptr;
    Ex_Decorated_Config_Size_fn decoratedConfigSize = nullptr;
    Ex_Decorate_Config_fn decorateConfig = nullptr;
    Ex_Undecorate_Config_fn undecorateConfig = nullptr;
    Ex_Get_Config_Extra_Type_fn getConfigExtraType = nullptr;
    Ex_Decorate_Config_Extra_fn decorateConfigExtra = nullptr;
    Ex_Undecorate_Config_Extra_fn undecorateConfigExtra = nullptr;
    Ex_Get_Config_Extra_FileOffset_fn getConfigExtraFileOffset = nullptr;
    Ex_Validate_Device_fn validateDevice = nullptr;
    Ex_Validate_Device_Extra_fn validateDeviceExtra = nullptr;
    Ex_Get_Channel_Hw_Type_fn getChannelHwType = nullptr;
    Ex_Decorate_Channel_Hw_fn decorateChannelHw = nullptr;
    Ex_Undecorate_Channel_Hw_fn undecorateChannelHw = nullptr;
    Ex_Get_Channel_Extra_Type_fn getChannelExtraType = nullptr;
    Ex_Get_Channel_Extra_Size_fn getChannelExtraSize = nullptr;
    Ex_Get_Channel_Extra_Struct_fn getChannelExtraStruct = nullptr;
    Ex_Decorate_Channel_Extra_fn decorateChannelExtra = nullptr;
    Ex_Undecorate_Channel_Extra_fn undecorateChannelExtra = nullptr;
    Ex_Validate_Chan_fn validateChan = nullptr;
    Ex_Validate_Chan_Extra_fn validateChanExtra = nullptr;
    Ex_Get_Mixed_Channel_Type_fn getMixedChannelType = nullptr;
    Ex_ValidateChanWithConfig_fn validateChanWithConfig = nullptr;

    explicit ExModule(const char *folder);
    ~ExModule();
    ExModule(const ExModule &) = delete;
    ExModule &operator=(const ExModule &) = delete;
};

// A path in a folder ("" or null folder: the name alone).
std::string cfg_Join(const char *folder, const char *name);
// The folder given, or the current directory for null or "".
std::string cfg_Folder(const char *folder);
int cfg_FileExists(const std::string &path);
// Whether cfg_TouchRootConfigOf would succeed: the root's "config" opens for writing and holds
// the byte it rewrites. A save checks it before its first file changes. 0, or -1 with errno.
int cfg_RootConfigTouchable(const char *folder);

// The error context "<folder name>" + context for XML steps.
void cfg_SetContext(const char *folder, const char *context);

// A leaf whose bytes lie wholly inside a buffer of size bytes.
int cfg_LeafFits(const StructsLeaf &leaf, int size);

// A field's text (malloc'ed through typed memory; freed with cfg_FreeText), or null.
char *cfg_FieldText(const StructsLeaf &leaf, const void *buffer);
void cfg_FreeText(char *text);
// The text a leaf inside buffer is saved as (see structs_LeafSaveText); null with ebuf empty
// when no text could be made.
char *cfg_SaveText(const StructsLeaf &leaf, const void *buffer, int size, char *ebuf, size_t emax);

// Converts text into the leaf inside buffer; on failure the XML error is set with the format
// (two %s: field name, conversion message). 0 or -1.
int cfg_SetField(const StructsLeaf &leaf, void *buffer, int size, const char *text,
                 const char *format);

// What a save does with one field: its save text (cfg_SaveText) into text, then that text read
// back into target (cfg_SetField) as the reader would read it. The failures, their order and
// their texts are those of the two steps one after the other; the work of both is done once
// for the types whose value is their own bytes alone. 0, or -1 with the XML error set with the
// format (two %s: field name, message).
int cfg_SaveAndReadField(const StructsLeaf &leaf, const void *buffer, int size, void *target,
                         int targetSize, const char *format, std::string *text);

// Takes over a block the module put into an ExBuffer (copied into target, at most size bytes).
void cfg_TakeBlock(ExBuffer *buffer, void *target, int size);

// The root's history/touch files of a folder.
std::string cfg_RootOf(const char *folder);

// The message text of the device fields outside their record.
#define CFG_OUTSIDE_RECORD "field lies outside the record"

// The editable form of a stored block through an undecorate entry point (null: the copy).
std::vector<uint8_t> cfg_Undecorate(const void *stored, int size, int (*undecorate)(ExBuffer *));
std::vector<uint8_t> cfg_UndecorateExtra(ExModule &ex, void *record, int size, const void *extra,
                                         int extraSize);

// Appends one element per leaf of type (whole inside size bytes of buffer) under parent;
// replace selects replacing a child of the same name. format names a field outside the buffer.
void cfg_WriteFields(XmlDocument *doc, XmlNode *parent, const structs_type *type,
                     const void *buffer, int size, int replace, const char *format);
void cfg_WriteLeaves(XmlDocument *doc, XmlNode *parent, const std::vector<StructsLeaf> &leaves,
                     const void *buffer, int size, int replace, const char *format);

// History lines for every leaf of type whose text differs between the two buffers.
void cfg_HistoryFields(const char *user, int channel, const structs_type *type,
                       const void *oldBuffer, const void *newBuffer, int size);

// config.xml and its schema as a save writes them, built and checked before any file of the
// save is touched: every field converts back and the reader takes the whole document.
struct CfgConfigXml {
    XmlDocument *config = nullptr;
    std::string configPath;
    XmlDocument *schema = nullptr; // null: no schema (no record given)
    std::string schemaPath;
    XmlStaged configStaged; // its lock may be taken before the build reads the old file
    XmlStaged schemaStaged;
    CfgConfigXml() = default;
    ~CfgConfigXml();
    CfgConfigXml(const CfgConfigXml &) = delete;
    CfgConfigXml &operator=(const CfgConfigXml &) = delete;
};
// 0, or -1 with the failure reported (xml_ReportError). The module's types must outlive out.
int cfg_BuildConfigXml(ExModule &ex, const std::string &folder, const void *record, int size,
                       const void *extra, int extraSize, const uint8_t *autoEnable,
                       const uint8_t *saveOutputs, const uint8_t *saveByTag,
                       const int32_t *saveRate, CfgConfigXml *out);
// Saves what cfg_BuildConfigXml built: staged, then put in place. 0, or -1 reported.
int cfg_SaveConfigXml(const std::string &folder, CfgConfigXml &built);
// Stages config.xml and its schema beside them (every check of their save made, neither file
// touched): 0, or -1 reported with nothing staged.
int cfg_StageConfigXml(const std::string &folder, CfgConfigXml &built);
// Puts the staged schema in place, then config.xml, so that a failure leaves the file the
// readers see as it was wherever it can: 0, or -1 reported under the step that failed.
int cfg_CommitConfigSchema(const std::string &folder, CfgConfigXml &built);
int cfg_CommitConfigXml(const std::string &folder, CfgConfigXml &built);

// The reader's step over a loaded config.xml (the outputs as cfg_ReadDeviceConfig takes them,
// without the binary extra file): the elements read are removed. 0, or -1 with the error state
// set and not reported.
int cfg_ReadConfigDocument(ExModule &ex, XmlDocument *doc, void *record, int size, void *extra,
                           int extraSize, uint8_t *autoEnable, uint8_t *saveOutputs,
                           uint8_t *saveByTag, int32_t *saveRate);
