#pragma once
// IOutils: the file-name tests of the command line and the directory walk,
// safe opening of input and output files, and the DOT file of a tree.

#include <cstdio>

struct QbfTree;

// 1 when the name's first ".qdimacs" or, failing that, its first ".qcnf"
// ends the name; case matters.
int IOutils_hasDimacsExtension(const char *name);
// 1 for a regular file that opens for reading and whose path has a QDIMACS
// extension; never for a directory, a FIFO or a device.
int IOutils_isDimacsFile(const char *path);
// 1 for every path that opens as a directory.
int IOutils_isDirectory(const char *path);

// Opens an input file for reading without ever blocking in the open (a FIFO
// planted under a QDIMACS name), and only if it is a regular file. Returns the
// descriptor, or -1 with errno set (EINVAL for a file that is not regular).
int IOutils_openInputFile(const char *path);

// Opens (creating with mode 0644) a regular file for writing from its start,
// never through a symbolic link and never blocking on a FIFO. An existing
// file is not emptied here: the writer cuts it to what it wrote when it is
// done (on ext4, emptying a file and writing it again makes its close wait
// for the disk). Returns the descriptor, or -1 with a short reason in *reason.
int IOutils_openOutputFile(const char *path, const char **reason);

// The DOT file of a tree: the formula's name, a dump number when the counter
// is above 0, then ".treeDup.dot" (or ".tree.dot" for a tree built without
// duplicated universals). A reset counter gives no dump number. Returns the
// open stream, also kept as the current DOT file, or null with a reason.
FILE *IOutils_vizFileForQbfTree(QbfTree *tree, int resetCounter, const char **reason);
// Cuts the current DOT file to what was written and closes it; returns 0, or
// -1 with a reason when writing it failed.
int IOutils_closeVizFileForQbfTree(const char **reason);
