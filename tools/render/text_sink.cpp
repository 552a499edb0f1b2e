#include "tools/render/text_sink.h"

namespace velmora::render {
namespace {

constexpr size_t kFlushBytes = size_t{1} << 16;

}  // namespace

bool TextSink::WriteLine(std::string_view line) {
  buffer_.append(line);
  buffer_.push_back('\n');
  return buffer_.size() < kFlushBytes || Flush();
}

bool TextSink::Write(const uint8_t* bytes, size_t count) {
  buffer_.append(reinterpret_cast<const char*>(bytes), count);
  return buffer_.size() < kFlushBytes || Flush();
}

bool TextSink::Flush() {
  const bool ok =
      !Failed() && WriteOut(reinterpret_cast<const uint8_t*>(buffer_.data()), buffer_.size());
  buffer_.clear();
  return ok;
}

bool TextSink::Finish() {
  return Flush() && Commit();
}

void TextSink::Abandon() {
  buffer_.clear();
  AbandonOutput();
}

std::unique_ptr<TextSink> OpenTextSink(OutputFile file) {
  return std::make_unique<TextSink>(std::move(file));
}

}  // namespace velmora::render
