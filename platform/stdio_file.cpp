// Binary stdio streams behind InputFile and OutputFile.
#include "platform/stdio_file.h"

namespace kesmar {
namespace {

class StdioInputFile final : public InputFile {
 public:
  explicit StdioInputFile(std::FILE* file) : file_(file) {}
  ~StdioInputFile() override { std::fclose(file_); }
  uint32_t Read(void* buffer, uint32_t size) override {
    return uint32_t(std::fread(buffer, 1, size, file_));
  }

 private:
  std::FILE* file_;
};

class StdioOutputFile final : public OutputFile {
 public:
  explicit StdioOutputFile(std::FILE* file) : file_(file) {
    // Payload files are written in one call each; a stdio buffer would only
    // add a copy of every byte.
    std::setvbuf(file_, nullptr, _IONBF, 0);
  }
  ~StdioOutputFile() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool Write(const void* data, uint32_t size) override {
    return size == 0 || std::fwrite(data, 1, size, file_) == size;
  }
  bool Close() override {
    if (file_ == nullptr) return false;
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return flushed && closed;
  }

 private:
  std::FILE* file_;
};

}  // namespace

std::unique_ptr<InputFile> MakeStdioInputFile(std::FILE* file) {
  if (file == nullptr) return nullptr;
  return std::make_unique<StdioInputFile>(file);
}

std::unique_ptr<OutputFile> MakeStdioOutputFile(std::FILE* file) {
  if (file == nullptr) return nullptr;
  return std::make_unique<StdioOutputFile>(file);
}

}  // namespace kesmar
