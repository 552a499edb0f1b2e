#include "tools/render/sinks.h"

#include "tools/render/sink_base.h"

namespace velmora::render {

const char* FormatName(AudioFormat format) {
  switch (format) {
    case AudioFormat::kWav:
      return "wav";
    case AudioFormat::kFlac:
      return "flac";
    case AudioFormat::kOgg:
      return "ogg";
    case AudioFormat::kRaw:
      return "raw";
  }
  return "?";
}

bool FormatFromName(const std::string& name, AudioFormat& format) {
  for (AudioFormat f :
       {AudioFormat::kWav, AudioFormat::kFlac, AudioFormat::kOgg, AudioFormat::kRaw}) {
    if (name == FormatName(f)) {
      format = f;
      return true;
    }
  }
  return false;
}

std::unique_ptr<OutputSink> OpenSink(OutputFile file, AudioFormat format, std::string& error) {
  switch (format) {
    case AudioFormat::kWav:
      return OpenWavSink(std::move(file), error);
    case AudioFormat::kFlac:
      return OpenFlacSink(std::move(file), error);
    case AudioFormat::kOgg:
      return OpenOggSink(std::move(file), error);
    case AudioFormat::kRaw:
      break;
  }
  return OpenRawSink(std::move(file), error);
}

std::unique_ptr<OutputSink> OpenSink(const std::string& path, AudioFormat format,
                                     std::string& error) {
  OutputFile file;
  if (!file.Open(path, error)) return nullptr;
  return OpenSink(std::move(file), format, error);
}

}  // namespace velmora::render
