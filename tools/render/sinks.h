// Where a render's samples go: an output file (see output_file.h) in one of
// four formats, each written by a sink of its own (raw_sink, wav_sink,
// flac_sink, ogg_sink); the lights file is text (text_sink.h). Every byte
// reaches the file through the same checked write, and the first failure,
// wherever it falls (the first bytes, the middle, the last ones written as
// the sink finishes), fails the render.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/render/night_render.h"
#include "tools/render/output_file.h"

namespace velmora::render {

enum class AudioFormat { kWav, kFlac, kOgg, kRaw };

const char* FormatName(AudioFormat format);
// The format named by a --format value or a file extension; false if none.
bool FormatFromName(const std::string& name, AudioFormat& format);

class OutputSink : public SampleSink {
 public:
  // Completes the output (headers, the file's commit); false on failure,
  // with Error().
  virtual bool Finish() = 0;
  // Removes whatever a failed render left behind.
  virtual void Abandon() = 0;
  // Why not, after Finish or Abandon.
  virtual const std::string& Error() const = 0;
  // The reader of a pipe or socket went away (it read all it wanted).
  virtual bool ReaderGone() const = 0;
  virtual int64_t BytesWritten() const = 0;
};

// A sink for `format` on `file`, opened (see OutputFile::Open). A sink that
// writes behind starts its thread here. On failure returns nullptr and sets
// `error`; nothing is left behind.
std::unique_ptr<OutputSink> OpenSink(OutputFile file, AudioFormat format, std::string& error);
// The same on `path` ("-" for standard output), opened here.
std::unique_ptr<OutputSink> OpenSink(const std::string& path, AudioFormat format,
                                     std::string& error);

}  // namespace velmora::render
