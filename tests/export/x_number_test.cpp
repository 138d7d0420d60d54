// X number text: byte for byte what the C library's "%f" and "%d" print.
#include "export/x_number.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string Ours(double v) {
  char buf[qev::xfile::kMaxNumberText];
  return std::string(buf, qev::xfile::FormatFixed(buf, v));
}

std::string Printf(double v) {
  char buf[400];
  std::snprintf(buf, sizeof(buf), "%f", v);
  return buf;
}

float FloatOfBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof(f));
  return f;
}

TEST(XNumber, EdgeValuesPrintAsTheCLibraryDoes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double value;
    std::string expected;  // what glibc's "%f" prints
  };
  const Case cases[] = {
      {0.0, "0.000000"},
      {-0.0, "-0.000000"},
      {1e-7, "0.000000"},
      {-1e-7, "-0.000000"},  // rounds to zero and keeps its sign
      {double(1e-7f), "0.000000"},
      {double(-4e-7f), "-0.000000"},
      {double(6e-7f), "0.000001"},
      // exact halfway cases round to the even digit
      {0.0078125, "0.007812"},
      {0.0234375, "0.023438"},
      {-0.0078125, "-0.007812"},
      {double(0.9999994f), "0.999999"},
      {double(0.99999994f), "1.000000"},
      {double(0.05f), "0.050000"},
      {double(0.8f), "0.800000"},
      {double(123456.789f), "123456.789062"},
      {double(16777216.0f), "16777216.000000"},
      {double(1e10f), "10000000000.000000"},
      {double(-9.2e12f), "-9200000303104.000000"},
      {double(FLT_MAX), "340282346638528859811704183484516925440.000000"},
      {double(-FLT_MAX), "-340282346638528859811704183484516925440.000000"},
      {double(FLT_MIN), "0.000000"},
      {double(std::numeric_limits<float>::denorm_min()), "0.000000"},
      {nan, "nan"},
      {-nan, "-nan"},
      {inf, "inf"},
      {-inf, "-inf"},
      // values no float holds take the general route
      {0.1, "0.100000"},
      {1.0 / 3.0, "0.333333"},
      {(1099511627776.0 + 1.0) / 128.0, "8589934592.007812"},  // a tie with 41 bits
      {(1099511627776.0 + 3.0) / 128.0, "8589934592.023438"},
      {1e300, Printf(1e300)},
      {-DBL_MAX, Printf(-DBL_MAX)},
      {DBL_MIN, "0.000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(Printf(c.value), c.expected) << "the table itself is off";
    EXPECT_EQ(Ours(c.value), c.expected);
  }
}

TEST(XNumber, EveryFloatOfASweepMatchesPrintf) {
  // random bit patterns over the whole float range, and a dense run of the
  // magnitudes models hold (where the six decimals round)
  std::mt19937 random(20240611u);
  int mismatches = 0;
  for (int i = 0; i < 400000 && mismatches < 5; ++i) {
    const float f = FloatOfBits(random());
    if (Ours(f) != Printf(f)) {
      ++mismatches;
      ADD_FAILURE() << "bits " << std::hex << i << ": ours " << Ours(f) << ", printf " << Printf(f);
    }
  }
  std::uniform_real_distribution<float> model(-1000.0f, 1000.0f);
  for (int i = 0; i < 400000 && mismatches < 5; ++i) {
    const float f = model(random);
    if (Ours(f) != Printf(f)) {
      ++mismatches;
      ADD_FAILURE() << "ours " << Ours(f) << ", printf " << Printf(f);
    }
  }
  // every float from 0.0078 to 0.0079: the ties and their neighbours
  for (float f = 0.0078f; f < 0.0079f && mismatches < 5; f = std::nextafter(f, 1.0f)) {
    if (Ours(f) != Printf(f) || Ours(-f) != Printf(-f)) {
      ++mismatches;
      ADD_FAILURE() << "ours " << Ours(f) << ", printf " << Printf(f);
    }
  }
}

TEST(XNumber, IntegersAsPercentD) {
  const int64_t cases[] = {0, 1, -1, 9, 10, 640, 4800, INT32_MAX, INT32_MIN, INT64_MAX, INT64_MIN};
  for (int64_t v : cases) {
    char buf[32], expected[32];
    std::snprintf(expected, sizeof(expected), "%lld", static_cast<long long>(v));
    EXPECT_EQ(std::string(buf, qev::xfile::FormatInt(buf, v)), expected);
  }
}

}  // namespace
