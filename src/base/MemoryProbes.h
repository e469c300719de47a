#pragma once
// Memory probes: the resident memory of this process and the free memory of
// the machine, in megabytes. Each probe writes its figures into a result file
// of the working directory ("memUsage": a header line, then the virtual and
// resident sizes in kilobytes; "freeMem": a line "Pages free: N." counting
// pages of 4096 bytes) and reads them back from there. The files are opened
// without following a symbolic link and without blocking, and only regular
// files are written or read; when that is not possible the probe returns its
// starting value (0 MB used, a page count of -1) and nothing is reported.

double Memory_getUsedMemory();
double Memory_getFreeMemory();
