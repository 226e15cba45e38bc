// Channel records and column names of a new run kept in a database.
#pragma once

#include "chrec.h"
#include "lstore.h"

#include <string>
#include <vector>

enum { LDBCH_NO_SEGMENT = -2 };

// The records of block b: from the caller's array when given, else from the runtime's
// configuration segment of the block's prefix (no server or a local one), else from the
// server's current values. 0, LDBCH_NO_SEGMENT for a missing segment, or -1.
int ldbch_BlockRecords(const LogHeader &header, int block, const void *const *records,
                       const char *server, std::vector<ChannelRecord> *out);

// The DATA column of a channel: its code "%1.2s%d", or its sanitised tag with tag columns.
std::string ldbch_ColumnName(const LogHeader &header, int block, int channel,
                             const ChannelRecord &record);
