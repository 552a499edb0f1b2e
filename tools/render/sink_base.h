// What every sink shares: the output file, the writer thread in front of it
// (for the sinks that write behind), the bytes that went out, and the first
// error, whichever thread met it. Each format's sink derives from it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "tools/render/output_file.h"
#include "tools/render/sinks.h"
#include "tools/render/write_behind.h"

namespace velmora::render {

class SinkBase : public OutputSink {
 public:
  explicit SinkBase(OutputFile file) : file_(std::move(file)) {}

  bool ReaderGone() const override { return readerGone_; }
  const std::string& Error() const override;
  int64_t BytesWritten() const override { return bytes_; }

 protected:
  // The samples go through a writer thread, `write` on that thread.
  void StartWriter(WriteBehind::WriteFunction write);
  bool Put(const uint8_t* data, size_t count) { return writer_->Put(data, count); }
  // Writes what is queued (or drops it) and ends the writer thread; false
  // if a write failed.
  bool StopWriter(bool discard) { return writer_ == nullptr || writer_->Close(discard); }

  // The checked writes, on the writer thread (or on the producer's when no
  // writer thread runs): a failure is kept as the sink's error.
  bool WriteOut(const uint8_t* data, size_t count);
  bool WriteBack(int64_t offset, const uint8_t* data, size_t count);
  void SetError(const std::string& why);
  bool Failed() const;

  // Puts the finished output under its name.
  bool Commit();
  // Ends the writer and drops the output.
  void AbandonOutput();

  OutputFile file_;
  std::atomic<int64_t> bytes_{0};

 private:
  void WriteFailed(int why);

  std::unique_ptr<WriteBehind> writer_;
  mutable std::mutex errorMutex_;
  std::string error_;
  std::atomic<bool> readerGone_{false};
};

// A sink of type `Sink` on `file`, started (its Start(error)); null, with
// `error`, when it cannot start.
template <class Sink>
std::unique_ptr<OutputSink> StartSink(OutputFile file, std::string& error) {
  auto sink = std::make_unique<Sink>(std::move(file));
  if (!sink->Start(error)) return nullptr;
  return sink;
}

// Each format's sink, on an opened file (its own file).
std::unique_ptr<OutputSink> OpenRawSink(OutputFile file, std::string& error);
std::unique_ptr<OutputSink> OpenWavSink(OutputFile file, std::string& error);
std::unique_ptr<OutputSink> OpenFlacSink(OutputFile file, std::string& error);
std::unique_ptr<OutputSink> OpenOggSink(OutputFile file, std::string& error);

}  // namespace velmora::render
