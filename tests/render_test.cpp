// The offline renderer: what it captures, that it is repeatable, and the
// files it writes.
#include <FLAC/stream_decoder.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "tools/render/night_render.h"
#include "tools/render/sinks.h"
#include "tools/render/write_behind.h"

namespace velmora::render {
namespace {

// Hashes everything (FNV-1a), keeps the first `keep` samples, and can note
// the hash at a given length.
class HashSink final : public SampleSink {
 public:
  explicit HashSink(size_t keep = 0, int64_t hashAt = -1) : keep_(keep), hashAt_(hashAt) {}
  bool Write(const uint8_t* samples, size_t count) override {
    for (size_t i = 0; i < count; ++i) {
      if (count_ == hashAt_) hashAtMark = hash;
      if (head.size() < keep_) head.push_back(samples[i]);
      hash = (hash ^ samples[i]) * 1099511628211ull;
      ++count_;
    }
    if (count_ == hashAt_) hashAtMark = hash;
    return true;
  }
  uint64_t hash = 14695981039346656037ull;
  uint64_t hashAtMark = 0;
  std::vector<uint8_t> head;

 private:
  size_t keep_;
  int64_t hashAt_;
  int64_t count_ = 0;
};

RenderRequest Request(std::vector<std::string> words, RenderMode mode = RenderMode::kProgramme,
                      int32_t healingSeconds = 0) {
  RenderRequest r;
  r.words = std::move(words);
  r.atSeconds = 1127952000;
  r.mode = mode;
  r.healingSeconds = healingSeconds;
  return r;
}

TEST(RenderTest, DefaultNightIsTheProgrammeByteForByte) {
  HashSink sink(70000);
  const RenderResult r = RenderNight(Request({"m1"}), sink);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.samples, r.programmeEnd - r.programmeStart);
  EXPECT_NEAR(static_cast<double>(r.samples) / (32000.0 * 60), 467.9, 0.05);
  EXPECT_EQ(r.steps, 2343);
  EXPECT_EQ(r.planMinutes, 467);
  // Step 1: 60384 samples of gap, then the first pulse at amplitude 0 of the
  // level-62 envelope: the falling spike 192, 190, ... after one zero sample.
  for (int i = 0; i < 60384; ++i) ASSERT_EQ(sink.head[i], 128) << i;
  const std::vector<uint8_t> spike(sink.head.begin() + 60384, sink.head.begin() + 60384 + 8);
  EXPECT_EQ(spike, (std::vector<uint8_t>{128, 192, 190, 186, 178, 162, 130, 128}));
  // Pulses are 2 * 888 samples apart; the second takes envelope entry
  // (1 << 8) / 68 = 3 of the level-62 table, which is 3.
  EXPECT_EQ(sink.head[60384 + 1776 + 1], 192 + 3);
}

TEST(RenderTest, RepeatableAndAPrefixWhenStoppedEarly) {
  HashSink first, second;
  const RenderResult a = RenderNight(Request({"m2", "r2", "+0", "#"}), first);
  const RenderResult b = RenderNight(Request({"m2", "r2", "+0", "#"}), second);
  ASSERT_TRUE(a.ok && b.ok);
  EXPECT_EQ(a.samples, b.samples);
  EXPECT_EQ(first.hash, second.hash);

  // Stopped after 5000 pulses, the render is the start of the whole one.
  RenderRequest limited = Request({"m2", "r2", "+0", "#"});
  limited.pulseLimit = 5000;
  HashSink part;
  const RenderResult p = RenderNight(limited, part);
  ASSERT_TRUE(p.ok);
  ASSERT_GT(p.samples, 0);
  ASSERT_LT(p.samples, a.samples);
  HashSink whole(0, p.samples);
  RenderNight(Request({"m2", "r2", "+0", "#"}), whole);
  EXPECT_EQ(whole.hashAtMark, part.hash);
}

TEST(RenderTest, HealingModes) {
  HashSink only(40000);
  const RenderResult h = RenderNight(Request({"m1"}, RenderMode::kHealingOnly, 30), only);
  ASSERT_TRUE(h.ok) << h.error;
  EXPECT_EQ(h.samples, 30 * 32000);
  EXPECT_EQ(h.steps, 0);
  // The first healing step: 20040 samples of gap, then spikes 334 samples apart.
  for (int i = 0; i < 20040; ++i) ASSERT_EQ(only.head[i], 128) << i;
  EXPECT_EQ(only.head[20040 + 1], 192);
  // The second pulse takes entry (1 << 8) / 120 = 2 of the level-64 table: 2.
  EXPECT_EQ(only.head[20040 + 334 + 1], 192 + 2);

  HashSink both;
  const RenderResult hp =
      RenderNight(Request({"m1", "r2", "+0"}, RenderMode::kHealingThenProgramme, 60), both);
  ASSERT_TRUE(hp.ok) << hp.error;
  EXPECT_GT(hp.samples, 60 * 32000 + (hp.programmeEnd - hp.programmeStart));
  HashSink zero;
  EXPECT_TRUE(RenderNight(Request({"m1"}, RenderMode::kHealingOnly, 0), zero).ok);
}

TEST(RenderTest, NotesForClampedAndLightWords) {
  HashSink sink;
  RenderRequest r = Request({"r99", "!3"}, RenderMode::kHealingOnly, 1);
  const RenderResult result = RenderNight(r, sink);
  ASSERT_TRUE(result.ok);
  ASSERT_EQ(result.notes.size(), 2u);
  EXPECT_NE(result.notes[0].find("light-mode"), std::string::npos);
  EXPECT_EQ(result.notes[1], "remCount 99 is outside 1..14; using 14");
}

class SinkFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("velmora-render-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Renders 10 s of healing into `name`; returns the raw samples for reference.
  std::vector<uint8_t> RenderTo(const std::string& name, AudioFormat format) {
    std::string error;
    auto sink = OpenSink((dir_ / name).string(), format, error);
    EXPECT_TRUE(sink) << error;
    HashSink reference(10 * 32000);
    struct Tee : SampleSink {
      SampleSink& a;
      SampleSink& b;
      Tee(SampleSink& x, SampleSink& y) : a(x), b(y) {}
      bool Write(const uint8_t* s, size_t n) override { return a.Write(s, n) && b.Write(s, n); }
    } tee(*sink, reference);
    EXPECT_TRUE(RenderNight(Request({"m1", "#"}, RenderMode::kHealingOnly, 10), tee).ok);
    EXPECT_TRUE(sink->Finish()) << sink->Error();
    return reference.head;
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      names.push_back(e.path().filename().string());
    }
    return names;
  }

  std::filesystem::path dir_;
};

TEST_F(SinkFileTest, RawAndWavHoldTheSamples) {
  const std::vector<uint8_t> samples = RenderTo("n.raw", AudioFormat::kRaw);
  std::ifstream raw(dir_ / "n.raw", std::ios::binary);
  std::vector<uint8_t> rawBytes((std::istreambuf_iterator<char>(raw)), {});
  EXPECT_EQ(rawBytes, samples);

  RenderTo("n.wav", AudioFormat::kWav);
  std::ifstream wav(dir_ / "n.wav", std::ios::binary);
  std::vector<uint8_t> wavBytes((std::istreambuf_iterator<char>(wav)), {});
  ASSERT_EQ(wavBytes.size(), 44 + samples.size());
  EXPECT_EQ(std::string(wavBytes.begin(), wavBytes.begin() + 4), "RIFF");
  auto le32 = [&](size_t at) {
    return uint32_t{wavBytes[at]} | uint32_t{wavBytes[at + 1]} << 8 |
           uint32_t{wavBytes[at + 2]} << 16 | uint32_t{wavBytes[at + 3]} << 24;
  };
  EXPECT_EQ(le32(4), 36 + samples.size());
  EXPECT_EQ(le32(24), 32000u);
  EXPECT_EQ(wavBytes[34], 8);
  EXPECT_EQ(le32(40), samples.size());
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), wavBytes.begin() + 44));
  // Nothing but the finished files is left.
  auto names = Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"n.raw", "n.wav"}));
}

// Decodes a FLAC file with libFLAC, its MD5 check on.
struct FlacRead {
  bool finished = false;  // and the MD5 matched
  unsigned rate = 0, channels = 0, bits = 0;
  uint64_t total = 0;
  bool md5Present = false;
  std::vector<int> samples;
};

FlacRead ReadFlac(const std::filesystem::path& path) {
  FlacRead read;
  FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
  FLAC__stream_decoder_set_md5_checking(decoder, true);
  auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                  const FLAC__int32* const buffer[], void* self) {
    auto* r = static_cast<FlacRead*>(self);
    r->samples.insert(r->samples.end(), buffer[0], buffer[0] + frame->header.blocksize);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  };
  auto metadata = [](const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* self) {
    if (m->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    auto* r = static_cast<FlacRead*>(self);
    const auto& info = m->data.stream_info;
    r->rate = info.sample_rate;
    r->channels = info.channels;
    r->bits = info.bits_per_sample;
    r->total = info.total_samples;
    r->md5Present = std::any_of(info.md5sum, info.md5sum + 16, [](uint8_t b) { return b != 0; });
  };
  auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {};
  if (FLAC__stream_decoder_init_file(decoder, path.c_str(), write, metadata, error, &read) ==
          FLAC__STREAM_DECODER_INIT_STATUS_OK &&
      FLAC__stream_decoder_process_until_end_of_stream(decoder)) {
    read.finished = FLAC__stream_decoder_finish(decoder) != 0;
  }
  FLAC__stream_decoder_delete(decoder);
  return read;
}

TEST_F(SinkFileTest, FlacIsLosslessWithItsChecksumAndOggDecodes) {
  const std::vector<uint8_t> samples = RenderTo("n.flac", AudioFormat::kFlac);
  const FlacRead flac = ReadFlac(dir_ / "n.flac");
  // libFLAC's own MD5 of what it decoded equals the header's.
  EXPECT_TRUE(flac.finished);
  EXPECT_TRUE(flac.md5Present);
  EXPECT_EQ(flac.rate, 32000u);
  EXPECT_EQ(flac.channels, 1u);
  EXPECT_EQ(flac.bits, 8u);
  EXPECT_EQ(flac.total, samples.size());
  ASSERT_EQ(flac.samples.size(), samples.size());
  for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(flac.samples[i], samples[i] - 128) << i;

  RenderTo("n.ogg", AudioFormat::kOgg);
  SF_INFO ogg{};
  SNDFILE* o = sf_open((dir_ / "n.ogg").c_str(), SFM_READ, &ogg);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(ogg.samplerate, 32000);
  EXPECT_NEAR(static_cast<double>(ogg.frames), static_cast<double>(samples.size()), 2048);
  sf_close(o);
}

TEST_F(SinkFileTest, FailedRenderLeavesNoFile) {
  std::string error;
  EXPECT_FALSE(OpenSink((dir_ / "missing" / "n.wav").string(), AudioFormat::kWav, error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
  auto sink = OpenSink((dir_ / "n.wav").string(), AudioFormat::kWav, error);
  ASSERT_TRUE(sink);
  const uint8_t block[4] = {1, 2, 3, 4};
  EXPECT_TRUE(sink->Write(block, 4));
  sink->Abandon();
  EXPECT_TRUE(Names().empty());
}

// The writer thread: everything arrives, in order, in the buffers' size; a
// failed write stops what follows; a writer that lags holds the producer back
// at the buffers' worth, so memory stays flat.
TEST(ThreadedWriteBehindTest, InOrderBoundedAndStoppedByAFailure) {
  std::vector<uint8_t> input(1000);
  std::iota(input.begin(), input.end(), uint8_t{0});

  std::vector<uint8_t> written;
  std::vector<size_t> sizes;
  WriteBehind inOrder(
      [&](const uint8_t* d, size_t n) {
        written.insert(written.end(), d, d + n);
        sizes.push_back(n);
        return true;
      },
      64, 3);
  for (size_t at = 0; at < input.size(); at += 7) {
    ASSERT_TRUE(inOrder.Put(&input[at], std::min<size_t>(7, input.size() - at)));
  }
  EXPECT_TRUE(inOrder.Close());
  EXPECT_EQ(written, input);
  EXPECT_EQ(sizes.front(), 64u);
  EXPECT_EQ(sizes.back(), 1000u % 64);

  int calls = 0;
  WriteBehind failing([&](const uint8_t*, size_t) { return ++calls < 2; }, 10, 2);
  bool refused = false;
  for (int i = 0; i < 100 && !refused; ++i) refused = !failing.Put(input.data(), 10);
  EXPECT_TRUE(refused);
  EXPECT_FALSE(failing.Close());
  EXPECT_EQ(calls, 2);

  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<size_t> accepted{0};
  std::atomic<bool> producing{true};
  std::vector<uint8_t> slow;
  WriteBehind lagging(
      [&](const uint8_t* d, size_t n) {
        released.wait();
        slow.insert(slow.end(), d, d + n);
        return true;
      },
      100, 4);
  std::thread producer([&] {
    for (size_t at = 0; at < input.size(); at += 50) {
      lagging.Put(&input[at], 50);
      accepted += 50;
    }
    producing = false;
  });
  // Four buffers of 100 bytes, one of them with the writer, which is held:
  // the producer fills the other three and the one it puts into, and waits
  // in the Put that fills the last (one that took more would run to the end).
  while (producing && lagging.Waits() == 0) std::this_thread::yield();
  EXPECT_EQ(lagging.Waits(), 1u);
  EXPECT_EQ(accepted.load(), 350u);
  release.set_value();
  producer.join();
  EXPECT_TRUE(lagging.Close());
  EXPECT_EQ(slow, input);
}

}  // namespace
}  // namespace velmora::render
