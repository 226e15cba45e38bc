// Channel configuration load, save and validation.
#pragma once

struct ChannelTableHeader;

// Reloads the kind's "_conf" segment from the channel file when the file changed since the
// stamp in the table header. Bytes loaded, 0 when unchanged, -1 with errno.
int chan_ReloadIfChanged(int kind, ChannelTableHeader *header);
