// InputFile: format detection, the plain reader and the four decoders. The
// libraries handle one member (gzip member, xz or lzma stream, bzip2 stream,
// zstd frame) at a time; what lies between members (another member, padding,
// garbage, the end of the file) is decided here, so that every error can be
// told as corrupt data, a file cut short or trailing garbage.

#include "qdimacs/InputFile.h"

#include <bzlib.h>
#include <cassert>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <lzma.h>
#include <mutex>
#include <new>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include "storage/AbnormalExit.h"

namespace {
constexpr const char *MODULE = "Qdimacs";
constexpr int SITE_GZIP = 601;
constexpr int SITE_XZ = 602; // xz and lzma
constexpr int SITE_BZIP2 = 603;
constexpr int SITE_ZSTD = 604;
constexpr int SITE_INPUT_BUFFER = 605;

// The input block: large enough that the libraries run long between two
// reads, small next to their own state. A small file gets a block its size.
constexpr std::size_t INPUT_BYTES = std::size_t{128} << 10;
constexpr std::size_t SMALL_INPUT_BYTES = std::size_t{4} << 10;
// Decoding ahead: blocks large enough that handing one over is rare, few
// enough that the text held in advance stays small; the decoders need
// little stack.
constexpr int AHEAD_BLOCKS = 4;
constexpr std::size_t AHEAD_BLOCK_BYTES = std::size_t{1} << 20;
constexpr std::size_t AHEAD_STACK_BYTES = std::size_t{1} << 20;
// The longest magic number (xz).
constexpr std::size_t MAX_MAGIC = 6;

constexpr unsigned char GZIP_MAGIC[] = {0x1f, 0x8b};
constexpr unsigned char XZ_MAGIC[] = {0xfd, 0x37, 0x7a, 0x58, 0x5a, 0x00};
constexpr unsigned char BZIP2_MAGIC[] = {0x42, 0x5a, 0x68}; // "BZh", then the block size '1'..'9'
constexpr unsigned char ZSTD_MAGIC[] = {0x28, 0xb5, 0x2f, 0xfd};
constexpr unsigned char ZSTD_SKIPPABLE_MAGIC[] = {0x50, 0x2a, 0x4d, 0x18}; // low 4 bits of the first byte free

// Indexed by the decoder's Format.
constexpr const char *FORMAT_NAMES[] = {"plain", "gzip", "xz", "lzma", "bzip2", "zstd"};
// Indexed by the decoder's Format, then its Fault (the faults a reason is given for).
constexpr const char *REASONS[][4] = {
    {nullptr, nullptr, nullptr, nullptr},
    {"gzip: compressed data is corrupt", "gzip: unexpected end of file", "gzip: trailing garbage",
     "gzip: not enough memory"},
    {"xz: compressed data is corrupt", "xz: unexpected end of file", "xz: trailing garbage", "xz: not enough memory"},
    {"lzma: compressed data is corrupt", "lzma: unexpected end of file", "lzma: trailing garbage",
     "lzma: not enough memory"},
    {"bzip2: compressed data is corrupt", "bzip2: unexpected end of file", "bzip2: trailing garbage",
     "bzip2: not enough memory"},
    {"zstd: compressed data is corrupt", "zstd: unexpected end of file", "zstd: trailing garbage",
     "zstd: not enough memory"},
};
// A memory error of the input block itself, before a format is known.
constexpr const char *NO_MEMORY_FOR_INPUT = "not enough memory";

// Whether the have bytes agree with the start of the magic number (all of it
// when have reaches its length); firstMask leaves bits of the first byte free.
bool agrees(const unsigned char *bytes, std::size_t have, const unsigned char *magic, std::size_t length,
            unsigned char firstMask = 0xff) {
  for (std::size_t i = 0; i < have && i < length; i++)
    if ((i == 0 ? bytes[i] & firstMask : bytes[i]) != magic[i]) return false;
  return true;
}

bool endsWith(const char *text, const char *suffix) {
  std::size_t length = std::strlen(text), suffixLength = std::strlen(suffix);
  return length >= suffixLength && std::memcmp(text + length - suffixLength, suffix, suffixLength) == 0;
}
} // namespace
// The library state of the one format the file has; all bits zero is the
// initial state of each (LZMA_STREAM_INIT included).
struct Codec {
  z_stream gzip;
  bool gzipOpen;
  lzma_stream lzma; // xz and lzma
  bz_stream bzip2;
  bool bzip2Open;
  ZSTD_DStream *zstd;
};

// The file and its decoder. One thread at a time works on it: the caller,
// or the thread decoding ahead between the two hand-overs (asserted where
// assertions are on).
class InputFile::Decoder {
public:
  enum class Format { Plain, Gzip, Xz, Lzma, Bzip2, Zstd };
  // Where the text stands: between members (the start of the file too),
  // inside one, ended, or failed for good.
  enum class State { BetweenMembers, InMember, Ended, Failed };
  enum class Fault { Corrupt, Truncated, Garbage, Memory, Read, Abandoned };

  Decoder(int fd, const char *path, const InputLimits &limits);
  ~Decoder();
  Decoder(const Decoder &) = delete;
  Decoder &operator=(const Decoder &) = delete;

  // The text, as InputFile::read gives it.
  long read(char *buffer, std::size_t n);
  // Decodes until the buffer is full, the text ends or fails, or (within a
  // member only: the thread decoding ahead) the first member after the
  // file's first ends; the next member's decoder, which takes memory, is the
  // caller's to start.
  std::size_t decode(char *buffer, std::size_t n, bool withinMember);

  State state() const { return state_; }
  bool outOfMemory() const { return state_ == State::Failed && fault_ == Fault::Memory; }
  const char *decodeError() const;
  int readErrno() const { return readErrno_; }
  bool abandoned() const { return state_ == State::Failed && fault_ == Fault::Abandoned; }
  Format format() const { return format_; }
  std::size_t fileSize() const { return fileSize_; }
  int site() const; // of the format's decoder, for the abnormal exit

  // The hand-overs between the threads: the one that holds the decoder
  // gives it up, the other takes it.
  void handOver() {
    assertHeld();
#ifndef NDEBUG
    holder_ = std::thread::id();
#endif
  }
  void takeOver() {
#ifndef NDEBUG
    assert(holder_ == std::thread::id() && "a decoder is taken over only once given up");
    holder_ = std::this_thread::get_id();
#endif
  }
  void assertHeld() const {
#ifndef NDEBUG
    assert(holder_ == std::this_thread::get_id() && "the decoder is used by the thread that holds it");
#endif
  }

private:
  // What follows a complete member (or the start of the file).
  enum class Next { Member, End, Garbage, Truncated, Failed };
  // Outcome of one library call.
  enum class Step { Going, MemberEnd, Corrupt, Failed };

  static bool agreesWithMagic(Format format, const unsigned char *bytes, std::size_t have);
  static std::size_t magicLength(Format format);

  std::size_t readPlain(char *buffer, std::size_t n);
  Step step(char *buffer, std::size_t n, std::size_t &produced);
  Step stepGzip(char *buffer, std::size_t n, std::size_t &produced);
  Step stepLzma(char *buffer, std::size_t n, std::size_t &produced);
  Step stepBzip2(char *buffer, std::size_t n, std::size_t &produced);
  Step stepZstd(char *buffer, std::size_t n, std::size_t &produced);
  Next nextMember();
  // Starting a member's decoder.
  enum class Start { Ok, NoMemory, Corrupt };
  void startMember();
  Start startGzip();
  Start startLzma();
  Start startBzip2();
  Start startZstd();
  void endMember();

  bool readSome(unsigned char *to, std::size_t n, std::size_t &got);
  bool refill();
  bool peek(std::size_t n);
  void fail(Fault fault);
  void noMemory();

  int fd_;
  const InputLimits &limits_;
  Format format_ = Format::Plain;
  State state_ = State::BetweenMembers;
  Fault fault_ = Fault::Corrupt;
  Codec *codec_ = nullptr;
  CheckedArray<unsigned char> input_;
  std::size_t begin_ = 0, end_ = 0; // the buffered input not yet decoded
  bool eof_ = false;                // the file has no more input
  std::size_t members_ = 0;         // complete members decoded so far
  int readErrno_ = 0;
  std::size_t fileSize_ = SIZE_MAX;
#ifndef NDEBUG
  std::thread::id holder_ = std::this_thread::get_id();
#endif
};

// The thread that decodes ahead, and the blocks it fills for the caller.
// Block i of the text is in blocks_[i % AHEAD_BLOCKS] from when made_ passes
// i until taken_ does. The thread holds the decoder from its start until it
// has made its last block (the text ended or failed, or a member ended) or
// is told to stop.
class InputFile::ReadAhead {
public:
  // Gets the blocks and starts the thread, which takes the decoder over;
  // null, and the decoder still the caller's, without memory or a thread.
  static ReadAhead *start(Decoder &decoder) {
    auto *ahead = new (std::nothrow) ReadAhead(decoder);
    if (!ahead) return nullptr;
    bool ready = true;
    for (char *&block : ahead->blocks_) ready = ready && (block = static_cast<char *>(std::malloc(AHEAD_BLOCK_BYTES)));
    if (!ready || !ahead->startThread()) {
      delete ahead;
      return nullptr;
    }
    return ahead;
  }
  // Stops the thread (if it still runs) and waits for it: the decoder is
  // given up, for the caller to take over.
  ~ReadAhead() {
    if (running_) {
      {
        std::lock_guard hold(lock_);
        stop_ = true;
      }
      emptied_.notify_one();
      pthread_join(thread_, nullptr);
    }
    for (char *block : blocks_) std::free(block);
  }
  ReadAhead(const ReadAhead &) = delete;
  ReadAhead &operator=(const ReadAhead &) = delete;

  // Up to n bytes of the blocks made, waiting for the next one; 0 once the
  // last block is all taken.
  long read(char *buffer, std::size_t n) {
    for (;;) {
      const char *block;
      std::size_t length;
      {
        std::unique_lock hold(lock_);
        filled_.wait(hold, [this] { return made_ > taken_ || last_; });
        if (made_ == taken_) return 0;
        assert(made_ - taken_ <= AHEAD_BLOCKS && "the thread never runs more blocks ahead than there are");
        block = blocks_[taken_ % AHEAD_BLOCKS];
        length = lengths_[taken_ % AHEAD_BLOCKS];
      }
      std::size_t count = length - offset_ < n ? length - offset_ : n;
      std::memcpy(buffer, block + offset_, count);
      offset_ += count;
      if (offset_ == length) {
        {
          std::lock_guard hold(lock_);
          taken_++;
        }
        offset_ = 0;
        emptied_.notify_one();
      }
      if (count > 0) return static_cast<long>(count);
    }
  }

private:
  explicit ReadAhead(Decoder &decoder) : decoder_(decoder) {}

  bool startThread() {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setstacksize(&attributes, AHEAD_STACK_BYTES);
    // Signals are the caller's to take: the thread starts with all blocked.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    auto run = [](void *self) -> void * {
      static_cast<ReadAhead *>(self)->run();
      return nullptr;
    };
    decoder_.handOver();
    running_ = pthread_create(&thread_, &attributes, run, this) == 0;
    if (!running_) decoder_.takeOver();
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    pthread_attr_destroy(&attributes);
    return running_;
  }

  // The thread's loop.
  void run() {
    decoder_.takeOver();
    for (;;) {
      std::size_t slot;
      {
        std::unique_lock hold(lock_);
        emptied_.wait(hold, [this] { return stop_ || made_ - taken_ < AHEAD_BLOCKS; });
        if (stop_) break;
        slot = made_ % AHEAD_BLOCKS;
      }
      std::size_t got = decoder_.decode(blocks_[slot], AHEAD_BLOCK_BYTES, true);
      bool last = decoder_.state() != Decoder::State::InMember;
      if (last) decoder_.handOver(); // before the caller can see the last block
      {
        std::lock_guard hold(lock_);
        lengths_[slot] = got;
        made_++;
        last_ = last;
      }
      filled_.notify_one();
      if (last) return;
    }
    decoder_.handOver();
  }

  Decoder &decoder_;
  std::mutex lock_;
  std::condition_variable filled_, emptied_;
  char *blocks_[AHEAD_BLOCKS] = {};
  std::size_t lengths_[AHEAD_BLOCKS] = {};
  std::size_t made_ = 0;   // blocks the thread filled
  std::size_t taken_ = 0;  // blocks the caller is done with
  bool last_ = false;      // the thread filled its last block
  bool stop_ = false;      // the caller wants the thread gone
  std::size_t offset_ = 0; // the caller's place in block taken_ (the caller's only)
  pthread_t thread_{};
  bool running_ = false;
};

// ---- The caller's side ----

InputFile::InputFile(int fd, const char *path, const InputLimits &limits)
    : limits_(limits), decoder_(new Decoder(fd, path, limits_)) {}

InputFile::~InputFile() {
  if (ahead_) endAhead();
  delete decoder_;
}

long InputFile::read(char *buffer, std::size_t n) {
  if (ahead_) {
    if (long got = ahead_->read(buffer, n); got > 0) return got;
    endAhead(); // after a member the caller reads on itself
  }
  long got = decoder_->read(buffer, n);
  // In the reader of an instance, a decoder out of memory ends the process
  // where the text reaches it, whichever thread decoded it.
  if (decoder_->outOfMemory() && !limits_.memoryFailsTheFile) abnormalExit(ERR_NO_MEMORY, decoder_->site(), MODULE);
  // The first block was decoded here: the rest is decoded ahead.
  if (aheadState_ == Ahead::NotYet && compressed()) startAhead();
  return got;
}

void InputFile::startAhead() {
  aheadState_ = Ahead::Over;
  if (decoder_->state() != Decoder::State::InMember || limits_.memoryFailsTheFile || limits_.keepGoing ||
      limits_.decoderBytes != UINT64_MAX)
    return;
  // Without the memory or a thread for it, the caller decodes the rest itself.
  ahead_ = ReadAhead::start(*decoder_);
  if (ahead_) aheadState_ = Ahead::Running;
}

void InputFile::endAhead() {
  delete ahead_;
  ahead_ = nullptr;
  aheadState_ = Ahead::Over;
  decoder_->takeOver();
}

const char *InputFile::decodeError() const { return decoder_->decodeError(); }
int InputFile::readErrno() const { return decoder_->readErrno(); }
bool InputFile::abandoned() const { return decoder_->abandoned(); }
const char *InputFile::format() const { return FORMAT_NAMES[static_cast<int>(decoder_->format())]; }
bool InputFile::compressed() const { return decoder_->format() != Decoder::Format::Plain; }
std::size_t InputFile::plainSize() const { return compressed() ? SIZE_MAX : decoder_->fileSize(); }

// ---- The decoder ----

InputFile::Decoder::Decoder(int fd, const char *path, const InputLimits &limits)
    : fd_(fd), limits_(limits), input_(SITE_INPUT_BUFFER, MODULE) {
  std::size_t block = INPUT_BYTES;
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size >= 0) fileSize_ = static_cast<std::size_t>(st.st_size);
  if (fileSize_ < INPUT_BYTES) block = fileSize_ < SMALL_INPUT_BYTES ? SMALL_INPUT_BYTES : fileSize_;
  if (!limits_.memoryFailsTheFile) {
    input_.growUninitialized(block);
  } else if (!input_.tryGrowUninitialized(block)) {
    fail(Fault::Memory);
    return;
  }
  // The first block tells the format: one read, unless it gave fewer bytes
  // than a magic number and the file goes on.
  while (end_ < MAX_MAGIC && !eof_) {
    std::size_t got = 0;
    if (!readSome(input_.data() + end_, input_.size() - end_, got)) return;
    end_ += got;
  }
  const unsigned char *first = input_.data();
  constexpr Format MAGIC_FORMATS[] = {Format::Gzip, Format::Xz, Format::Bzip2, Format::Zstd};
  for (Format format : MAGIC_FORMATS) {
    if (end_ >= magicLength(format) && agreesWithMagic(format, first, magicLength(format))) {
      format_ = format;
      break;
    }
  }
  // Without a magic number only the name says lzma; an empty file is empty
  // text, as it is for every other format.
  bool empty = end_ == 0 && eof_;
  if (format_ == Format::Plain && path && endsWith(path, ".lzma") && !empty) format_ = Format::Lzma;
  if (format_ == Format::Plain) return;

  void *state = limits_.memoryFailsTheFile ? std::malloc(sizeof(Codec)) : checkedMalloc(sizeof(Codec), site(), MODULE);
  if (!state) {
    fail(Fault::Memory);
    return;
  }
  codec_ = new (state) Codec{};
}

InputFile::Decoder::~Decoder() {
  assertHeld();
  if (codec_) {
    if (codec_->gzipOpen) inflateEnd(&codec_->gzip);
    lzma_end(&codec_->lzma);
    if (codec_->bzip2Open) BZ2_bzDecompressEnd(&codec_->bzip2);
    ZSTD_freeDStream(codec_->zstd);
    codec_->~Codec();
    std::free(codec_);
  }
  if (fd_ >= 0) close(fd_);
}

int InputFile::Decoder::site() const {
  return format_ == Format::Gzip    ? SITE_GZIP
         : format_ == Format::Bzip2 ? SITE_BZIP2
         : format_ == Format::Zstd  ? SITE_ZSTD
                                    : SITE_XZ;
}

const char *InputFile::Decoder::decodeError() const {
  assertHeld();
  if (state_ != State::Failed || fault_ == Fault::Read || fault_ == Fault::Abandoned) return nullptr;
  if (format_ == Format::Plain) return fault_ == Fault::Memory ? NO_MEMORY_FOR_INPUT : nullptr;
  return REASONS[static_cast<int>(format_)][static_cast<int>(fault_)];
}

long InputFile::Decoder::read(char *buffer, std::size_t n) {
  assertHeld();
  if (state_ == State::Failed) return -1;
  if (n > LONG_MAX) n = LONG_MAX;
  // A small compressed block can decode to gigabytes: a caller that may be
  // stopped is asked by the text handed out too, at least once per call.
  if (format_ != Format::Plain && limits_.keepGoing && !limits_.keepGoing()) {
    fail(Fault::Abandoned);
    return -1;
  }
  std::size_t got = format_ == Format::Plain ? readPlain(buffer, n) : decode(buffer, n, false);
  return got > 0 ? static_cast<long>(got) : state_ == State::Failed ? -1 : 0;
}

std::size_t InputFile::Decoder::magicLength(Format format) {
  switch (format) {
  case Format::Gzip: return sizeof GZIP_MAGIC;
  case Format::Xz: return sizeof XZ_MAGIC;
  case Format::Bzip2: return sizeof BZIP2_MAGIC + 1;
  case Format::Zstd: return sizeof ZSTD_MAGIC;
  default: return 0;
  }
}

bool InputFile::Decoder::agreesWithMagic(Format format, const unsigned char *bytes, std::size_t have) {
  switch (format) {
  case Format::Gzip: return agrees(bytes, have, GZIP_MAGIC, sizeof GZIP_MAGIC);
  case Format::Xz: return agrees(bytes, have, XZ_MAGIC, sizeof XZ_MAGIC);
  case Format::Bzip2:
    return agrees(bytes, have, BZIP2_MAGIC, sizeof BZIP2_MAGIC) && (have < 4 || (bytes[3] >= '1' && bytes[3] <= '9'));
  case Format::Zstd:
    return agrees(bytes, have, ZSTD_MAGIC, sizeof ZSTD_MAGIC) ||
           agrees(bytes, have, ZSTD_SKIPPABLE_MAGIC, sizeof ZSTD_SKIPPABLE_MAGIC, 0xf0);
  default: return false;
  }
}

// Plain text: the first block, then the descriptor straight into the buffer.
std::size_t InputFile::Decoder::readPlain(char *buffer, std::size_t n) {
  if (begin_ < end_) {
    std::size_t count = end_ - begin_ < n ? end_ - begin_ : n;
    std::memcpy(buffer, input_.data() + begin_, count);
    begin_ += count;
    if (begin_ == end_) input_.release();
    return count;
  }
  std::size_t got = 0;
  if (!eof_) readSome(reinterpret_cast<unsigned char *>(buffer), n, got);
  return got;
}

// Decodes until the buffer is full, the text ends or an error comes.
std::size_t InputFile::Decoder::decode(char *buffer, std::size_t n, bool withinMember) {
  std::size_t done = 0;
  while (done < n && (state_ == State::BetweenMembers || state_ == State::InMember)) {
    if (state_ == State::BetweenMembers) {
      // What follows a member, and the next member's decoder (which takes
      // memory), are the caller's to handle: the thread stops here.
      if (withinMember && members_ > 0) break;
      switch (nextMember()) {
      case Next::Member: startMember(); break;
      case Next::End: state_ = State::Ended; continue;
      case Next::Garbage: fail(Fault::Garbage); continue;
      case Next::Truncated: fail(Fault::Truncated); continue;
      case Next::Failed: continue;
      }
    }
    if (begin_ == end_ && !eof_ && !refill()) break;
    std::size_t before = begin_, produced = 0;
    Step outcome = step(buffer + done, n - done, produced);
    done += produced;
    if (outcome == Step::MemberEnd) {
      endMember();
    } else if (outcome == Step::Corrupt) {
      fail(Fault::Corrupt);
    } else if (outcome == Step::Failed) {
      break;
    } else if (produced == 0 && begin_ == before) {
      // A decoder that neither reads nor writes wants input the file no
      // longer has (the other case cannot happen, but must not loop).
      fail(begin_ == end_ && eof_ ? Fault::Truncated : Fault::Corrupt);
    }
  }
  return done;
}

InputFile::Decoder::Step InputFile::Decoder::step(char *buffer, std::size_t n, std::size_t &produced) {
  switch (format_) {
  case Format::Gzip: return stepGzip(buffer, n, produced);
  case Format::Xz:
  case Format::Lzma: return stepLzma(buffer, n, produced);
  case Format::Bzip2: return stepBzip2(buffer, n, produced);
  case Format::Zstd: return stepZstd(buffer, n, produced);
  default: return Step::Corrupt;
  }
}

InputFile::Decoder::Step InputFile::Decoder::stepGzip(char *buffer, std::size_t n, std::size_t &produced) {
  z_stream &z = codec_->gzip;
  uInt room = n < UINT_MAX ? static_cast<uInt>(n) : UINT_MAX;
  z.next_in = input_.data() + begin_;
  z.avail_in = static_cast<uInt>(end_ - begin_);
  z.next_out = reinterpret_cast<Bytef *>(buffer);
  z.avail_out = room;
  int status = inflate(&z, Z_NO_FLUSH);
  begin_ = end_ - z.avail_in;
  produced = room - z.avail_out;
  switch (status) {
  case Z_OK:
  case Z_BUF_ERROR: return Step::Going; // no progress: input is wanted
  case Z_STREAM_END: return Step::MemberEnd;
  case Z_MEM_ERROR: noMemory(); return Step::Failed;
  default: return Step::Corrupt;
  }
}

InputFile::Decoder::Step InputFile::Decoder::stepLzma(char *buffer, std::size_t n, std::size_t &produced) {
  lzma_stream &s = codec_->lzma;
  s.next_in = input_.data() + begin_;
  s.avail_in = end_ - begin_;
  s.next_out = reinterpret_cast<uint8_t *>(buffer);
  s.avail_out = n;
  // All the input left is buffered once the end of the file was seen.
  lzma_ret status = lzma_code(&s, eof_ ? LZMA_FINISH : LZMA_RUN);
  begin_ = end_ - s.avail_in;
  produced = n - s.avail_out;
  switch (status) {
  case LZMA_OK:
  case LZMA_BUF_ERROR: return Step::Going;
  case LZMA_STREAM_END: return Step::MemberEnd;
  case LZMA_MEM_ERROR:
  case LZMA_MEMLIMIT_ERROR: noMemory(); return Step::Failed;
  default: return Step::Corrupt; // data, format, options errors
  }
}

InputFile::Decoder::Step InputFile::Decoder::stepBzip2(char *buffer, std::size_t n, std::size_t &produced) {
  bz_stream &b = codec_->bzip2;
  unsigned room = n < UINT_MAX ? static_cast<unsigned>(n) : UINT_MAX;
  b.next_in = reinterpret_cast<char *>(input_.data() + begin_);
  b.avail_in = static_cast<unsigned>(end_ - begin_);
  b.next_out = buffer;
  b.avail_out = room;
  int status = BZ2_bzDecompress(&b);
  begin_ = end_ - b.avail_in;
  produced = room - b.avail_out;
  switch (status) {
  case BZ_OK: return Step::Going;
  case BZ_STREAM_END: return Step::MemberEnd;
  case BZ_MEM_ERROR: noMemory(); return Step::Failed;
  default: return Step::Corrupt;
  }
}

InputFile::Decoder::Step InputFile::Decoder::stepZstd(char *buffer, std::size_t n, std::size_t &produced) {
  ZSTD_inBuffer in = {input_.data(), end_, begin_};
  ZSTD_outBuffer out = {buffer, n, 0};
  std::size_t status = ZSTD_decompressStream(codec_->zstd, &out, &in);
  begin_ = in.pos;
  produced = out.pos;
  if (ZSTD_isError(status)) {
    ZSTD_ErrorCode code = ZSTD_getErrorCode(status);
    // A window above the probe's bound is a memory limit, not damage.
    if (code == ZSTD_error_memory_allocation ||
        (code == ZSTD_error_frameParameter_windowTooLarge && limits_.memoryFailsTheFile)) {
      noMemory();
      return Step::Failed;
    }
    return Step::Corrupt;
  }
  // 0: the frame is decoded and all of it handed out.
  return status == 0 ? Step::MemberEnd : Step::Going;
}

// Between members: another member, the end, or what makes the file wrong.
InputFile::Decoder::Next InputFile::Decoder::nextMember() {
  if (format_ == Format::Lzma) {
    // One stream, with nothing after it.
    if (members_ == 0) return Next::Member;
    if (!peek(1)) return Next::Failed;
    return begin_ < end_ ? Next::Garbage : Next::End;
  }
  if (members_ > 0 && (format_ == Format::Gzip || format_ == Format::Xz)) {
    // Zero bytes: gzip ignores them up to the end of the file; xz takes
    // them as stream padding, in groups of four.
    std::size_t zeros = 0;
    for (;;) {
      const unsigned char *p = input_.data();
      std::size_t from = begin_;
      while (begin_ < end_ && p[begin_] == 0) begin_++;
      zeros += begin_ - from;
      if (begin_ < end_) break;
      if (eof_) return format_ == Format::Xz && zeros % 4 ? Next::Garbage : Next::End;
      if (!refill()) return Next::Failed;
    }
    if (zeros && (format_ == Format::Gzip || zeros % 4)) return Next::Garbage;
  }
  std::size_t length = magicLength(format_);
  if (!peek(length)) return Next::Failed;
  std::size_t have = end_ - begin_ < length ? end_ - begin_ : length;
  if (have == 0) return Next::End;
  if (!agreesWithMagic(format_, input_.data() + begin_, have)) return Next::Garbage;
  // A magic number cut short by the end of the file starts a member too.
  return have < length ? Next::Truncated : Next::Member;
}

void InputFile::Decoder::startMember() {
  state_ = State::InMember;
  Start started = Start::Ok;
  switch (format_) {
  case Format::Gzip: started = startGzip(); break;
  case Format::Xz:
  case Format::Lzma: started = startLzma(); break;
  case Format::Bzip2: started = startBzip2(); break;
  case Format::Zstd: started = startZstd(); break;
  default: break;
  }
  if (started == Start::NoMemory)
    noMemory();
  else if (started == Start::Corrupt)
    fail(Fault::Corrupt);
}

InputFile::Decoder::Start InputFile::Decoder::startGzip() {
  z_stream &z = codec_->gzip;
  int status = Z_OK;
  if (codec_->gzipOpen) {
    status = inflateReset(&z);
  } else {
    status = inflateInit2(&z, 15 + 16); // gzip wrapper only, any window
    codec_->gzipOpen = status == Z_OK;
  }
  return status == Z_OK ? Start::Ok : status == Z_MEM_ERROR ? Start::NoMemory : Start::Corrupt;
}

// One xz stream at a time (no LZMA_CONCATENATED): bytes after a stream are
// judged between members, where garbage can be told from a corrupt stream.
// The limit is checked against the header's dictionary before any of it is
// allocated.
InputFile::Decoder::Start InputFile::Decoder::startLzma() {
  lzma_stream &l = codec_->lzma;
  std::uint64_t limit = limits_.decoderBytes;
  lzma_ret status = format_ == Format::Xz ? lzma_stream_decoder(&l, limit, 0) : lzma_alone_decoder(&l, limit);
  return status == LZMA_OK ? Start::Ok : status == LZMA_MEM_ERROR ? Start::NoMemory : Start::Corrupt;
}

InputFile::Decoder::Start InputFile::Decoder::startBzip2() {
  int status = BZ2_bzDecompressInit(&codec_->bzip2, 0, 0);
  codec_->bzip2Open = status == BZ_OK;
  return status == BZ_OK ? Start::Ok : status == BZ_MEM_ERROR ? Start::NoMemory : Start::Corrupt;
}

// The stream starts the next frame by itself once a frame is done.
InputFile::Decoder::Start InputFile::Decoder::startZstd() {
  if (codec_->zstd) return Start::Ok;
  codec_->zstd = ZSTD_createDStream();
  if (!codec_->zstd) return Start::NoMemory;
  // Frames written with a long window (zstd --long) are read: every window
  // the format allows, or what the memory bound admits.
  ZSTD_bounds bounds = ZSTD_dParam_getBounds(ZSTD_d_windowLogMax);
  int windowLog = ZSTD_isError(bounds.error) ? 0 : bounds.upperBound;
  while (windowLog > 10 && (std::uint64_t{1} << windowLog) > limits_.decoderBytes) windowLog--;
  if (windowLog > 0) ZSTD_DCtx_setParameter(codec_->zstd, ZSTD_d_windowLogMax, windowLog);
  return Start::Ok;
}

void InputFile::Decoder::endMember() {
  members_++;
  state_ = State::BetweenMembers;
  // libbz2 has no reset: the next stream gets a fresh decoder.
  if (format_ == Format::Bzip2 && codec_->bzip2Open) {
    BZ2_bzDecompressEnd(&codec_->bzip2);
    codec_->bzip2Open = false;
  }
}

// One read of the file, retried after a signal; false on an error (recorded).
bool InputFile::Decoder::readSome(unsigned char *to, std::size_t n, std::size_t &got) {
  if (n > SSIZE_MAX) n = SSIZE_MAX;
  if (limits_.keepGoing && !limits_.keepGoing()) {
    fail(Fault::Abandoned);
    return false;
  }
  for (;;) {
    ssize_t count = ::read(fd_, to, n);
    if (count >= 0) {
      got = static_cast<std::size_t>(count);
      if (count == 0) eof_ = true;
      return true;
    }
    if (errno == EINTR) continue;
    readErrno_ = errno;
    fail(Fault::Read);
    return false;
  }
}

// Moves the bytes not yet decoded to the front and reads once after them.
bool InputFile::Decoder::refill() {
  if (begin_ > 0) {
    std::memmove(input_.data(), input_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  std::size_t got = 0;
  if (!readSome(input_.data() + end_, input_.size() - end_, got)) return false;
  end_ += got;
  return true;
}

// At least n bytes buffered, or all that is left of the file.
bool InputFile::Decoder::peek(std::size_t n) {
  while (end_ - begin_ < n && !eof_)
    if (!refill()) return false;
  return true;
}

void InputFile::Decoder::fail(Fault fault) {
  state_ = State::Failed;
  fault_ = fault;
}

// A decoder out of memory (or over its limit) fails the text; whether that
// ends the process is the caller's to say, at this place of the text.
void InputFile::Decoder::noMemory() { fail(Fault::Memory); }
