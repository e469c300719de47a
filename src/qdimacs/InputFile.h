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
// allocation as the file's failure, and is asked before every read of the
// file whether to go on.
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
  const char *decodeError() const { return decodeError_; }
  int readErrno() const { return readErrno_; }
  // After -1: keepGoing said to stop.
  bool abandoned() const { return abandoned_; }
  // "plain", "gzip", "xz", "lzma", "bzip2" or "zstd".
  const char *format() const;
  bool compressed() const { return format_ != Format::Plain; }
  // The size of the text when the file is plain (and its size known), else
  // SIZE_MAX: a hint for the size of the reader's first block.
  std::size_t plainSize() const { return format_ == Format::Plain ? fileSize_ : SIZE_MAX; }

private:
  enum class Format { Plain, Gzip, Xz, Lzma, Bzip2, Zstd };
  enum class Fault { Corrupt, Truncated, Garbage, Memory };
  // What follows a complete member (or the start of the file).
  enum class Next { Member, End, Garbage, Truncated, Failed };
  // Outcome of one library call.
  enum class Step { Going, MemberEnd, Corrupt, Failed };
  struct Codec; // the library's decoder state, defined with the decoders
  struct Ahead; // the thread decoding ahead and the blocks it fills

  long readAhead(char *buffer, std::size_t n);
  void startAhead();
  void stopAhead();
  void decodeAhead();                          // the thread's loop
  long finalRead(char *buffer, std::size_t n); // once the thread made its last block

  static bool agreesWithMagic(Format format, const unsigned char *bytes, std::size_t have);
  static std::size_t magicLength(Format format);

  std::size_t readPlain(char *buffer, std::size_t n);
  std::size_t decode(char *buffer, std::size_t n);
  Step step(char *buffer, std::size_t n, std::size_t &produced);
  Step stepGzip(char *buffer, std::size_t n, std::size_t &produced);
  Step stepLzma(char *buffer, std::size_t n, std::size_t &produced);
  Step stepBzip2(char *buffer, std::size_t n, std::size_t &produced);
  Step stepZstd(char *buffer, std::size_t n, std::size_t &produced);
  Next nextMember();
  void startMember();
  void endMember();

  bool readSome(unsigned char *to, std::size_t n, std::size_t &got);
  bool refill();
  bool peek(std::size_t n);
  void fail(Fault fault);
  // A decoder out of memory (or over its limit): the process's end, or the
  // file's failure when the limits say so.
  void noMemory();
  int site() const; // of the format's decoder, for the abnormal exit

  int fd_;
  InputLimits limits_;
  Format format_ = Format::Plain;
  Codec *codec_ = nullptr;
  Ahead *ahead_ = nullptr;
  bool aheadTried_ = false;
  bool memoryExit_ = false; // a decoder out of memory, in the thread: the caller ends the process
  CheckedArray<unsigned char> input_;
  std::size_t begin_ = 0, end_ = 0; // the buffered input not yet decoded
  std::size_t members_ = 0;         // complete members decoded so far
  bool betweenMembers_ = true;
  bool eof_ = false;
  bool ended_ = false;
  bool failed_ = false;
  bool abandoned_ = false;
  const char *decodeError_ = nullptr;
  int readErrno_ = 0;
  std::size_t fileSize_ = SIZE_MAX;
};
