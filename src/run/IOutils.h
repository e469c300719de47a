#pragma once
// IOutils: the file-name tests of the command line and the directory walk,
// and the safe opening of the files the program reads and writes.

#include <cstdio>

// Reasons the program gives on standard error for a path it does not take
// (tarnu-table recognises those lines by them).
inline constexpr const char *IOUTILS_NOT_REGULAR = "not a regular file";
inline constexpr const char *IOUTILS_NOT_DIRECTORY = "not a directory";
inline constexpr const char *IOUTILS_NOT_DIMACS_NAME =
    "not a QDIMACS file name (.qdimacs or .qcnf, optionally .gz .xz .lzma .bz2 .zst)";

// 1 when the name's first ".qdimacs" or, failing that, its first ".qcnf"
// ends the name, or ends it but for one of the compression suffixes ".gz",
// ".xz", ".lzma", ".bz2" and ".zst"; case matters.
int IOutils_hasDimacsExtension(const char *name);
// 1 for a regular file that opens for reading and whose path has a QDIMACS
// extension; never for a directory, a FIFO or a device.
int IOutils_isDimacsFile(const char *path);
// 1 for every path that opens as a directory.
int IOutils_isDirectory(const char *path);
// Why a path is neither (for the line on standard error): "No such file or
// directory", "Permission denied", "not a QDIMACS file name (...)", "not a
// regular file"; null when it is one.
const char *IOutils_whyNotProcessed(const char *path);

// Opens a file with the flags (O_RDONLY, or O_WRONLY | O_CREAT with mode
// 0644; add O_NOFOLLOW to refuse a symbolic link) only if it is, or becomes,
// a regular file, and without ever blocking in the open (a FIFO planted
// under the name). Returns the descriptor, or -1 with errno set (EINVAL for
// a file that is not regular) and, if reason is given, a short reason.
int IOutils_openRegularFile(const char *path, int flags, const char **reason = nullptr);
// An input file: followed through links, read only.
int IOutils_openInputFile(const char *path);

// A file written for an instance, its path followed by the suffix (the DOT
// file's is ".treeDup.dot"), opened for writing from its start without
// following a link. With a dotDir, the file goes under it instead: the input
// path below root (the directory the walk started from; null in file mode,
// for the base name), its folders made as needed and entered without
// following a link. An existing file is not emptied here: closing cuts it to
// what was written (on ext4, emptying a file and writing it again makes its
// close wait for the disk). Null with a reason when it cannot be opened.
FILE *IOutils_openDotFile(const char *inputPath, const char *dotDir, const char *root, const char **reason,
                          const char *suffix = ".treeDup.dot");
// Cuts the file to what was written and closes it; 0, or -1 with a reason
// when writing it failed.
int IOutils_closeDotFile(FILE *file, const char **reason);
