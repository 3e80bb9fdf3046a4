#include "wav_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

void Put16(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
}

void Put32(unsigned char* at, uint32_t value) {
  Put16(at, value);
  Put16(at + 2, value >> 16);
}

// Writes all of size bytes at offset (or at the file position when offset is negative),
// retrying after signals and short writes. Returns 0 or an errno value; *written counts the
// bytes that reached the file.
int WriteAll(int fd, const unsigned char* data, size_t size, off_t offset, size_t* written) {
  *written = 0;
  while (*written < size) {
    const ssize_t n = offset < 0 ? write(fd, data + *written, size - *written)
                                 : pwrite(fd, data + *written, size - *written,
                                          offset + static_cast<off_t>(*written));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;
    *written += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

WavFile::~WavFile() { Close(); }

int WavFile::Create(const std::string& path, unsigned int channels, unsigned int rate) {
  if (IsOpen()) return EBUSY;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  fd_ = fd;
  frameBytes_ = 2 * channels;
  dataBytes_ = 0;
  atSizeLimit_ = false;
  unsigned char header[kHeaderBytes];
  std::memcpy(header, "RIFF", 4);
  Put32(header + 4, static_cast<uint32_t>(kHeaderBytes - 8));
  std::memcpy(header + 8, "WAVEfmt ", 8);
  Put32(header + 16, 16);  // size of the format chunk
  Put16(header + 20, 1);   // integer PCM
  Put16(header + 22, channels);
  Put32(header + 24, rate);
  Put32(header + 28, rate * frameBytes_);  // bytes per second
  Put16(header + 32, frameBytes_);         // bytes per frame
  Put16(header + 34, 16);                  // bits per sample
  std::memcpy(header + 36, "data", 4);
  Put32(header + 40, 0);
  size_t written = 0;
  const int error = WriteAll(fd_, header, sizeof header, -1, &written);
  if (error != 0) {
    // Nothing playable came of it: leave no fragment behind.
    close(fd_);
    fd_ = -1;
    unlink(path.c_str());
  }
  return error;
}

int WavFile::Append(const int16_t* samples, size_t frames) {
  if (!IsOpen()) return EBADF;
  const uint64_t bytes = static_cast<uint64_t>(frames) * frameBytes_;
  if (dataBytes_ + bytes > limit_) {
    atSizeLimit_ = true;
    return EFBIG;
  }
  const size_t total = static_cast<size_t>(bytes) / 2;
  for (size_t done = 0; done < total;) {
    const size_t count = std::min(total - done, sizeof bytes_ / 2);
    for (size_t i = 0; i < count; ++i) Put16(bytes_ + 2 * i, static_cast<uint16_t>(samples[done + i]));
    size_t written = 0;
    const int error = WriteAll(fd_, bytes_, 2 * count, -1, &written);
    dataBytes_ += written;
    if (error != 0) {
      // Cut a partly written frame away so the header can declare exactly what is there.
      dataBytes_ -= dataBytes_ % frameBytes_;
      if (ftruncate(fd_, static_cast<off_t>(kHeaderBytes + dataBytes_)) == 0) {
        lseek(fd_, 0, SEEK_END);
      }
      return error;
    }
    done += count;
  }
  return 0;
}

int WavFile::UpdateHeader() {
  if (!IsOpen()) return EBADF;
  unsigned char riff[4];
  unsigned char data[4];
  Put32(riff, static_cast<uint32_t>(kHeaderBytes - 8 + dataBytes_));
  Put32(data, static_cast<uint32_t>(dataBytes_));
  size_t written = 0;
  int error = WriteAll(fd_, riff, sizeof riff, 4, &written);
  if (error == 0) error = WriteAll(fd_, data, sizeof data, 40, &written);
  return error;
}

int WavFile::Sync() {
  if (!IsOpen()) return EBADF;
  return fdatasync(fd_) == 0 ? 0 : errno;
}

int WavFile::Close() {
  if (!IsOpen()) return 0;
  int error = UpdateHeader();
  if (close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  return error;
}
