// The lights file: lines of text through the same output file as the sound
// (a file is written under a temporary name and renamed when complete), in
// large writes, without a writer thread: the rows are few.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "tools/render/sink_base.h"

namespace velmora::render {

class TextSink final : public SinkBase {
 public:
  using SinkBase::SinkBase;
  ~TextSink() override { TextSink::Abandon(); }

  // Adds `line` and a newline; false once a write has failed.
  bool WriteLine(std::string_view line);

  bool Write(const uint8_t* bytes, size_t count) override;
  bool Finish() override;
  void Abandon() override;

 private:
  bool Flush();

  std::string buffer_;
};

// A text sink on an opened file.
std::unique_ptr<TextSink> OpenTextSink(OutputFile file);

}  // namespace velmora::render
