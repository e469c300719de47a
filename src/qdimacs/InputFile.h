#pragma once
// InputFile: the text of an input file, decompressed on the fly. The format is
// told by the first bytes of the file, whatever its name: gzip, xz, bzip2 and
// zstd have magic numbers; lzma has none and is assumed for a path ending in
// ".lzma"; anything else is plain text. Every member, stream or frame that a
// file holds is read, one after the other, as the command-line tools read
// them. The libraries decode straight into the caller's buffer: besides their
// state only one small input block is held. An empty file is empty text
// whatever its name says.
//
// A compressed file read with the default limits is decoded ahead by a
// thread of its own, a few large blocks in advance, while the caller works
// on the text before them: the caller sees the same bytes and the same
// errors at the same places as when it decodes itself. The caller decodes
// the first block of the file and everything after its first member: the
// decoders take their memory there, in the caller's order. A decoder out of
// memory inside the first member ends the process when the caller reaches
// the place, as it would have without the thread.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "storage/CheckedArray.h"

// How far the decoders may go. The reader of an instance takes the defaults:
// a decoder gets the memory it asks for (every window the formats allow),
// and lack of memory ends the process through the abnormal exit. The size
// probe of the directory walk runs in the parent of every instance and must
// never end the run: it bounds the decoders' memory, takes a failed
// allocation as the file's failure, and is asked whether to go on before
// every read of the file and, for a compressed file, before every block of
// text handed out.
struct InputLimits {
  std::uint64_t decoderBytes = UINT64_MAX;
  bool memoryFailsTheFile = false;
  std::function<bool()> keepGoing; // empty: always
};

class InputFile {
public:
  // Takes an open descriptor of a regular file (owned: closed by the
  // destructor) and its path (the path only matters for the .lzma rule).
  InputFile(int fd, const char *path, const InputLimits &limits = {});
  ~InputFile();
  InputFile(const InputFile &) = delete;
  InputFile &operator=(const InputFile &) = delete;

  // Reads up to n (> 0) bytes of the text (decompressed) into buffer: the
  // number of bytes (> 0), 0 at the end of the text, or -1 on an error. Bytes
  // decoded before an error are handed out first; once -1 was returned,
  // every further call returns -1 again.
  long read(char *buffer, std::size_t n);
  // After -1: the decoder's reason ("xz: compressed data is corrupt"), or
  // null when reading the file itself failed (then readErrno() is the errno).
  const char *decodeError() const;
  int readErrno() const;
  // After -1: keepGoing said to stop.
  bool abandoned() const;
  // "plain", "gzip", "xz", "lzma", "bzip2" or "zstd".
  const char *format() const;
  bool compressed() const;
  // The size of the text when the file is plain (and its size known), else
  // SIZE_MAX: a hint for the size of the reader's first block.
  std::size_t plainSize() const;

private:
  // The file and the decoder of its format, used by one thread at a time;
  // and the thread that decodes ahead, which takes the decoder over while it
  // runs (both defined with the decoders).
  class Decoder;
  class ReadAhead;
  // Decoding ahead starts once the caller has decoded the first block.
  enum class Ahead { NotYet, Running, Over };

  void startAhead();
  void endAhead(); // the thread has made its last block: the decoder is the caller's again

  const InputLimits limits_;
  Decoder *decoder_;
  ReadAhead *ahead_ = nullptr;
  Ahead aheadState_ = Ahead::NotYet;
};
