// InputFile and OutputFile over C stdio streams opened in binary mode, shared by both platforms.
#pragma once

#include <cstdio>
#include <memory>

#include "platform/file_system.h"

namespace kesmar {

// Each takes ownership of an open stream; null `file` gives null.
std::unique_ptr<InputFile> MakeStdioInputFile(std::FILE* file);
std::unique_ptr<OutputFile> MakeStdioOutputFile(std::FILE* file);

}  // namespace kesmar
