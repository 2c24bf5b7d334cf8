// Making an archived copy survive a power cut before the server is told it
// may reuse the extent it came from.
#ifndef NSFMEND_AGENT_DURABLE_H
#define NSFMEND_AGENT_DURABLE_H

// fsync of the file at path. 0, or the errno of the failing call.
int syncFile(const char *path);
// fsync of the folder that holds path (the part before its last "/", "."
// when it has none), so the folder's entry for the file is on disk too.
int syncParentDirectory(const char *path);

#endif
