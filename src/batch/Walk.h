#pragma once
// Walk: the directory tree of a run, depth first. A directory's entries are
// read in one go; its subdirectories are walked as the listing meets them;
// then its own QDIMACS files go to the scheduler in ascending order of the
// variable count their problem lines declare (a file that declares none
// first; equal counts in listing order). Symbolic links and special files
// with QDIMACS names are skipped and counted, as are directories that cannot
// be read.
//
// The walk goes by folder descriptors: each folder is opened in its parent,
// each file in its folder (its child opens it there too), and the walk holds
// one folder open at a time, going back up through "..". So neither the
// length of a path nor the depth of a tree limits it; the paths are only
// printed.
//
// The counts are probed in the parent, so a probe must never end or stall
// the run: its decoders may take no more memory than the -memout value (or
// PROBE_DECODER_BYTES without one), anything that fails while probing a file
// orders it as a file that declares nothing (its own child then says what is
// wrong), the scheduler takes in its children's events between two reads of
// the file, and under -timeout a probe that runs out of time gives the file a
// [TIMEOUT] item in the place of a file that declares nothing.

#include <cstdint>
#include <string>

#include "batch/Batch.h"

class Scheduler;

// The probe's decoder memory without -memout: every window that xz and zstd
// streams can ask for (1.5 and 2 GiB), and no lzma header above that.
constexpr std::uint64_t PROBE_DECODER_BYTES = (std::uint64_t{9} << 30) / 4;

class DirectoryWalk {
public:
  DirectoryWalk(Scheduler &scheduler, const BatchSettings &settings);
  // Walks the directory and everything below it; returns the number of
  // instances handed to the scheduler.
  int walk(const char *dirPath);

private:
  int walkFolder(int fd, const std::string &dirPath, int *back);
  int openFolder(int parent, const char *name, const char *path, bool follow);
  int openInstance(int folder, const char *name);
  static void leave(int fd, int *back);

  Scheduler &scheduler_;
  const BatchSettings &settings_;
};
