// Packing a configuration folder into an archive with the outside programs "tar", "compress"
// and "tbzip".
//
// The packer follows the archive's extension: ".kvt" makes a tar file in the saved-configuration
// folder (KVT_SAVED_CONFIG) and compresses it into the archive, ".tar" makes the tar file
// itself, anything else goes to "<KVT_BIN>/tbzip". Beside the folder packed, the sibling
// folders SAVED_VALUES and REPLAY_OPTIONS go in when they exist, and with the flag those of
// the extra-save list too ("ExtraSaveDirs" under the product key, split at ';', or a default
// by product name). Every program runs without a shell, in the folder packed; the caller's
// current folder never changes.
#pragma once

// archivePath may stand in double quotes; a relative one is taken from the current folder.
// folder null packs the current folder. 0, or -1 with errno: the program's exit code when it
// is not 0, 31 when tar wrote anything but its note on leading "../", 2 or 5 when a program
// cannot be started. A tar file is deleted whenever tar fails, and the intermediate tar file
// of a ".kvt" archive always.
int prog_ArchiveFolder(const char *archivePath, const char *folder, int flag);
