// The bare samples, as they come.
#include "tools/render/sink_base.h"

namespace velmora::render {
namespace {

class RawSink final : public SinkBase {
 public:
  using SinkBase::SinkBase;
  ~RawSink() override { RawSink::Abandon(); }

  bool Start(std::string&) {
    StartWriter([this](const uint8_t* data, size_t count) { return WriteOut(data, count); });
    return true;
  }
  bool Write(const uint8_t* samples, size_t count) override { return Put(samples, count); }
  bool Finish() override { return StopWriter(false) && Commit(); }
  void Abandon() override { AbandonOutput(); }
};

}  // namespace

std::unique_ptr<OutputSink> OpenRawSink(OutputFile file, std::string& error) {
  return StartSink<RawSink>(std::move(file), error);
}

}  // namespace velmora::render
