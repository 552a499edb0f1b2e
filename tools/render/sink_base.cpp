#include "tools/render/sink_base.h"

#include <cerrno>

namespace velmora::render {

const std::string& SinkBase::Error() const {
  std::lock_guard lock(errorMutex_);
  return error_;
}

void SinkBase::StartWriter(WriteBehind::WriteFunction write) {
  writer_ = std::make_unique<WriteBehind>(std::move(write));
}

bool SinkBase::WriteOut(const uint8_t* data, size_t count) {
  int why = 0;
  if (!file_.Write(data, count, why)) {
    WriteFailed(why);
    return false;
  }
  bytes_ += static_cast<int64_t>(count);
  return true;
}

bool SinkBase::WriteBack(int64_t offset, const uint8_t* data, size_t count) {
  int why = 0;
  if (file_.WriteAt(offset, data, count, why)) return true;
  WriteFailed(why);
  return false;
}

void SinkBase::WriteFailed(int why) {
  if (why == EPIPE) readerGone_ = true;
  SetError(file_.WriteFailure(why));
}

void SinkBase::SetError(const std::string& why) {
  std::lock_guard lock(errorMutex_);
  if (error_.empty()) error_ = why;
}

bool SinkBase::Failed() const {
  std::lock_guard lock(errorMutex_);
  return !error_.empty();
}

bool SinkBase::Commit() {
  std::string error;
  if (file_.Commit(error)) return true;
  SetError(error);
  return false;
}

void SinkBase::AbandonOutput() {
  StopWriter(true);
  file_.Abandon();
}

}  // namespace velmora::render
