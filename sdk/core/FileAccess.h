// Opening files the way a careful archiver extracts them.
//
// Payload files, documents and packages are written into folders that other
// people may share. A name there may have been replaced beforehand by a
// symbolic link to a file elsewhere (which the link's owner wants
// overwritten), by a second hard link to such a file, or by a FIFO. A writer
// that opened the name with O_CREAT | O_TRUNC would write through any of
// them. OpenForWriting never does: it writes only into a regular file that
// has no other name, and replaces anything else by a new file of its own.
//
// Inputs are opened without waiting: a FIFO named like a package or a
// document would otherwise block the open until someone writes to it, and a
// directory or device opened for reading gives lengths and contents that are
// no file's.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace files {

// A descriptor open for writing on an empty regular file at path, or -1
// with errno set. An existing regular file with a single name is truncated
// and written in place (its permissions stay). A symbolic link (dangling or
// not), a FIFO, socket or device node, or a regular file with further hard
// links is removed and a new file is created in its place with O_EXCL, so
// nothing is ever written through the old name. A directory is refused
// (EISDIR). mode is the new file's permission, less the umask.
int OpenForWriting(const char* path, mode_t mode);

// The same as a stdio stream in binary write mode, for writers that need
// one; null with errno set on failure.
FILE* OpenStreamForWriting(const char* path, mode_t mode);

// Writes all size bytes; false on an error or a write that makes no
// progress (a short write is never taken for success).
bool WriteAll(int fd, const void* data, size_t size);

// The same at a file offset (pwrite), leaving the file position alone.
bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset);

// Reads until size bytes are in or the file ends: the count read, or -1
// with errno set on an error. Interrupted reads are resumed.
long long ReadUpTo(int fd, void* data, size_t size);

// The same at a file offset (pread), leaving the file position alone.
long long ReadUpToAt(int fd, void* data, size_t size, uint64_t offset);

// Reads from the file position to the end into out (replacing its
// contents). The buffer is sized from the file once; a file that grows
// while it is read is followed to its end. False with errno set on an error,
// or EFBIG when the bytes would exceed limit.
bool ReadToEnd(int fd, std::vector<uint8_t>& out, uint64_t limit);
// The same for a file whose remaining length the caller knows already (a
// file just opened and queried): expect bytes are read at once, then on to
// the end. For a regular file (regular), a single read finds its end when
// the file still ends where expect says.
bool ReadExpected(int fd, uint64_t expect, std::vector<uint8_t>& out, uint64_t limit, bool regular);

// Copies everything from the position of in to the end onto out. On failure
// errno is set and, when readFailed is given, it says which side failed.
bool CopyToEnd(int in, int out, bool* readFailed = nullptr);

// A descriptor on an existing regular file, opened with access (O_RDONLY or
// O_RDWR) and close-on-exec, or -1 with errno set: EISDIR for a directory,
// EINVAL for a FIFO, socket or device. The open never waits for a writer.
int OpenRegular(const char* path, int access);

}  // namespace files
