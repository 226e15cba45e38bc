// Channel records and column names of a new run kept in a database.
#pragma once

#include "chrec.h"
#include "lstore.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

enum { LDBCH_NO_SEGMENT = -2 };

// The records of block b: from the caller's array when given, else from the runtime's
// configuration segment of the block's prefix (no server or a local one), else from the
// server's current values. 0, LDBCH_NO_SEGMENT for a missing segment, or -1.
int ldbch_BlockRecords(const LogHeader &header, int block, const void *const *records,
                       const char *server, std::vector<ChannelRecord> *out);

// The DATA column of a channel: its code "%1.2s%d", or with tag columns its tag as
// ldb_Identifier changes it (the code when lstore_ParseHeaderChannels refuses that name).
std::string ldbch_ColumnName(const LogHeader &header, int block, int channel,
                             const ChannelRecord &record);

// The column name made unique for a run: `name` when no fixed column of DATA (DT, MS, TX, LL,
// LV, TP) nor a name already in `taken` matches it in any case, else `name` followed by "_2",
// "_3", ... (the first free one). The name returned is added to `taken` (kept upper-case), so
// the caller hands every channel of the run, in column order, to one set: the engines compare
// column names without case, and two tags "ai1" and "AI1" must still both get a column.
std::string ldbch_UniqueColumn(const std::string &name, std::set<std::string> *taken);

// One CHANNELS row as a run kept in a database gives it back: texts in CP1252 as stored
// (char columns may carry trailing blanks), the type absent when nType is NULL.
struct LdbChannelRow {
    std::string tag, description, units, lowState, highState;
    std::optional<int> type;
    float minimum = 0.0f, maximum = 0.0f;
};

// The channel record of a CHANNELS row: cleared, then the tag (15), description (32) and,
// by the type's parity, the units (8) and scale or the two state texts (32), each cut to its
// width with trailing blanks removed; a type sets the Enable flag and the type byte.
void ldbch_FillRecord(const LdbChannelRow &row, ChannelRecord *out);
