#pragma once
// A 16-bit PCM WAV file written as it grows, kept playable at every moment: the header's RIFF and
// data sizes are rewritten in place after each append (UpdateHeader), so a process killed
// without warning leaves a file that declares everything but the last append. The file is
// created with an exclusive open, so a name is never shared with another writer, and it stops
// growing below 4 GiB, the largest size the header can state.
//
// Errors come back as errno values (0 for success); nothing throws. After a failed append the
// file is cut back to the last whole frame, so what Close then declares is exactly what the file
// holds.
//
// Threads: one object belongs to one thread at a time (the recorder's writer thread).

#include <cstddef>
#include <cstdint>
#include <string>

class WavFile {
 public:
  // Bytes of the canonical header: RIFF, "fmt " (16 bytes) and "data" chunk heads.
  static constexpr uint64_t kHeaderBytes = 44;
  // Largest data size, bytes, for which the RIFF size (file size - 8) fits in 32 bits.
  static constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - (kHeaderBytes - 8);

  WavFile() = default;
  // Completes and closes a file still open.
  ~WavFile();
  WavFile(const WavFile&) = delete;
  WavFile& operator=(const WavFile&) = delete;

  // Creates path (failing with EEXIST if anything of that name exists) and writes a header for
  // 16-bit samples, channels per frame, rate frames per second. Returns 0 or an errno value.
  int Create(const std::string& path, unsigned int channels, unsigned int rate);
  // Appends frames interleaved 16-bit samples. Returns 0, EFBIG when the data would pass the
  // size limit (nothing is appended then; AtSizeLimit() turns true), or the errno of the failed
  // write (the file then holds the whole frames written before; EFBIG there is the process's
  // file size limit).
  int Append(const int16_t* samples, size_t frames);
  // Rewrites the header's RIFF and data sizes for the frames appended so far. Returns 0 or an
  // errno value.
  int UpdateHeader();
  // Flushes the data and header to the storage device. Returns 0 or an errno value.
  int Sync();
  // Updates the header and closes the file. Returns 0 or the first errno value met; the file is
  // closed either way. Does nothing (returns 0) when no file is open.
  int Close();

  bool IsOpen() const { return fd_ >= 0; }
  // True once an append was refused for passing the data size limit (the largest a WAV header
  // can state, or the one a test set), until the next Create.
  bool AtSizeLimit() const { return atSizeLimit_; }
  // Frames appended so far.
  uint64_t Frames() const { return frameBytes_ == 0 ? 0 : dataBytes_ / frameBytes_; }
  // Lowers the data size limit, bytes (tests).
  void SetDataLimit(uint64_t bytes) { limit_ = bytes < kMaxDataBytes ? bytes : kMaxDataBytes; }

 private:
  int fd_ = -1;
  unsigned int frameBytes_ = 0;
  uint64_t dataBytes_ = 0;
  uint64_t limit_ = kMaxDataBytes;
  bool atSizeLimit_ = false;
  // Little-endian bytes of one append, converted in pieces.
  unsigned char bytes_[16384];
};
