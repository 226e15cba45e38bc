// Profile (".ini") files, read and written as the Windows profile functions did.
//
// A file is lines ending in CR LF (a bare LF is read too) of CP1252 bytes: "[section]" headers
// and "key=value" lines below them. Section and key names match without regard to ASCII case;
// blanks around a key and a value are dropped, and a value enclosed in matching double or single
// quotes is returned without them. A write changes only its own line: every other line, comment
// or unknown text of the file stays byte for byte. Paths may use '\' or '/'.
#pragma once

#include <cstdint>

// GetPrivateProfileString: copies the value of key in section (or the default, trailing blanks
// dropped, when the file, the section or the key is missing; null counts as "") into buffer,
// cut to size - 1 characters and always terminated when size > 0. The number of characters
// copied. A null section or key gives the default.
uint32_t plat_GetPrivateProfileString(const char *section, const char *key, const char *defaultText,
                                      char *buffer, uint32_t size, const char *path);

// GetPrivateProfileSection: the section's lines, "key=value" with the blanks around the line
// dropped, each terminated by a NUL and the whole list by a second NUL. When the buffer is too
// small the list is cut after a whole line and the result is size - 2. The number of
// characters copied, the final NUL excluded; 0 for a missing file or section.
uint32_t plat_GetPrivateProfileSection(const char *section, char *buffer, uint32_t size,
                                       const char *path);

// WritePrivateProfileString: sets key in section to value ("key=value"), adding the key at the
// end of its section, or the section at the end of the file, or creating the file. A null value
// deletes the key; a null key deletes the section with its lines. The file is replaced through
// a temporary file in its folder, so a failure leaves the old content. 1, or 0 with errno and
// the last error set (87 for a null section or file name).
int plat_WritePrivateProfileString(const char *section, const char *key, const char *value,
                                   const char *path);
