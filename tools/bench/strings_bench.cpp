// Speed of the text paths that see whole files: splitting a file's text into
// lines, writing text with line-end conversion, and a settings round trip.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/ini_edit_x.h"
#include "support/file.h"
#include "support/parse_string.h"

namespace {

std::u16string Lines(int count) {
  std::u16string text;
  for (int i = 0; i < count; ++i) text += u"Bone" + std::u16string(1, char16_t(u'0' + i % 10)) + u"{name\r\n";
  return text;
}

void BM_SplitLinesW(benchmark::State& state) {
  const std::u16string text = Lines(int(state.range(0)));
  for (auto _ : state) {
    CParseStringW lines;
    lines.Split(text.c_str(), u"\r\n");
    benchmark::DoNotOptimize(lines.m_nCount);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size() * 2));
}
BENCHMARK(BM_SplitLinesW)->Arg(1000)->Arg(100000);

void BM_WriteTextA(benchmark::State& state) {
  std::string text;
  while (text.size() < size_t(state.range(0))) text += "Frame bone_name {\n  1.000000,0.000000;\n}\n";
  char path[] = "/tmp/bench_text_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    state.SkipWithError("no temporary file");
    return;
  }
  close(fd);
  for (auto _ : state) {
    CFile file;
    file.Create(path);
    benchmark::DoNotOptimize(file.WriteTextA(text.c_str()));
  }
  std::remove(path);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_WriteTextA)->Arg(1 << 20);

void BM_SettingsRoundTrip(benchmark::State& state) {
  char folder[] = "/tmp/bench_ini_XXXXXX";
  if (!mkdtemp(folder)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  for (auto _ : state) {
    CIniEditX ini(folder);
    ini.SetSetting(u"PMDFILE", u"/home/user/models/model.pmd");
    ini.SetSetting(u"VPDFILE", u"/home/user/poses/pose.vpd");
    ini.SetSetting(u"VMDFILE", u"/home/user/motions/motion.vmd");
  }
  std::remove((std::string(folder) + "/QEVTest.ini").c_str());
  rmdir(folder);
}
BENCHMARK(BM_SettingsRoundTrip);

}  // namespace
