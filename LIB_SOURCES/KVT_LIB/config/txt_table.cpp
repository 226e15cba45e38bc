#include "txt.h"

#include <memory>

namespace {
thread_local std::unique_ptr<DefReaderState> t_table;
} // namespace

int txt_Open(const char *name) {
    if (!t_table) t_table = std::make_unique<DefReaderState>();
    return def_ReaderOpen(*t_table, name);
}

int txt_NextLine(char **fields, int *offsets, int max) {
    return t_table ? def_ReaderNextFields(*t_table, fields, offsets, max) : -1;
}

int txt_NextRecord() {
    return t_table ? def_ReaderNextRecord(*t_table) : -1;
}

void txt_Close() {
    if (t_table) def_ReaderClose(*t_table);
    t_table.reset();
}

int txt_LineNumber() {
    return t_table ? t_table->lineNumber : -1;
}

std::string txt_MessageText() {
    return t_table ? t_table->message : std::string();
}

int txt_ParseProcessor(ProcessorRecord *out, char **fields, const int *offsets, int fieldCount,
                       const ProcessorRecord *tableStart) {
    if (!t_table) t_table = std::make_unique<DefReaderState>();
    DefReaderState *previous = def_SetReportTarget(t_table.get());
    int result = def_ParseProcessor(nullptr, out, fields, offsets, fieldCount, tableStart);
    def_SetReportTarget(previous);
    return result;
}
