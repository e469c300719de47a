#pragma once
// IOutils: the file-name tests of the command line and the directory walk,
// and the safe opening of the files the program reads and writes.

#include <cstdio>
#include <sys/types.h>

#include "base/OutputTexts.h" // the reasons given for a path not taken

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
// The same for a name in the folder of a descriptor (AT_FDCWD: the working
// directory), so that no path length limits where a file may be.
int IOutils_openInputFileAt(int folder, const char *name);

// Writes out what the stream holds: 0, or the errno of the write that failed
// (EIO where the library kept none).
int IOutils_flushStream(FILE *stream);
// Flushes and closes the stream (closed whatever happens; a file system may
// report a failed write only then): 0, or the errno of the first failure.
int IOutils_closeStream(FILE *stream);

// A file an instance writes (its DOT file): the input path followed by a
// suffix, beside the input or, with an outDir, under it: the input path below
// root (the directory the walk started from; null in file mode, for the base
// name), its folders made as needed and entered without following a link.
// The file is complete or absent: the text goes into a temporary file in the
// final file's folder, named after the writing process (".tarnu-PID.tmp"),
// which takes the final name only once all of it is written; until then an
// older file of that name stays as it was. A symbolic link, a FIFO or a
// directory under the final name is not replaced ("not a regular file"), nor
// a file the process may not write.
class OutputFile {
public:
  OutputFile(const char *inputPath, const char *suffix, const char *outDir, const char *root);
  // Removes the temporary file unless it was committed.
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  // The stream to write; null when the file could not be opened (reason()).
  FILE *stream() const { return file_; }
  // Writes out what is buffered, closes the stream and gives the file its
  // final name; false when any of it failed (reason()), and then the
  // temporary file is gone.
  bool commit();
  const char *reason() const { return reason_; }

private:
  void discard();

  // Where the stream writes: the file, and the error of the first write that
  // failed (a stream keeps only that one failed).
  struct Sink {
    int fd = -1;
    int error = 0;
  };
  static ssize_t writeToSink(void *sink, const char *data, std::size_t size);
  static int closeSink(void *sink);

  int folder_ = -1;
  Sink sink_;
  FILE *file_ = nullptr;
  char *finalName_ = nullptr;
  char temporaryName_[40] = "";
  const char *reason_ = nullptr;
};

// In the parent, after a child that did not complete: removes the temporary
// file the child (its process id) may have left in the folder where it would
// have written the files of that input (see OutputFile). Makes no folder and
// follows no link.
void IOutils_removeTemporaryFile(const char *inputPath, const char *outDir, const char *root, int child);
