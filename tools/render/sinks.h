// Where a render's samples go: a raw or WAV stream written directly, FLAC
// through libFLAC, or Ogg Vorbis through libsndfile, on a writer thread of
// their own. A file
// is written under a temporary name beside the final one and renamed only when
// complete, so a failed render never leaves a half file under the final name;
// devices, FIFOs and the like are written in place (see output_file.h).
#pragma once

#include <memory>
#include <string>

#include "tools/render/night_render.h"

namespace velmora::render {

enum class AudioFormat { kWav, kFlac, kOgg, kRaw };

const char* FormatName(AudioFormat format);
// The format named by a --format value or a file extension; false if none.
bool FormatFromName(const std::string& name, AudioFormat& format);

class OutputSink : public SampleSink {
 public:
  // Completes the output (headers, rename); false on failure, with Error().
  virtual bool Finish() = 0;
  // Removes whatever a failed render left behind.
  virtual void Abandon() = 0;
  // Why not, after Finish or Abandon.
  virtual const std::string& Error() const = 0;
  // The reader of a pipe or socket went away (it read all it wanted).
  virtual bool ReaderGone() const = 0;
  virtual int64_t BytesWritten() const = 0;
};

// Opens `path` ("-" for standard output) for `format`. On failure returns
// nullptr and sets `error`; nothing is left behind.
std::unique_ptr<OutputSink> OpenSink(const std::string& path, AudioFormat format,
                                     std::string& error);

}  // namespace velmora::render
