// Epoch numbers as date-times: every unit, decimals, moments before 1970 and before 1899, the
// edges of the years a date-time holds, and texts that are no epoch time.
#include "convert/convert_error.h"
#include "convert/epoch_time.h"
#include "platform/locale.h"

#include <gtest/gtest.h>

namespace {

using namespace kestrel::convert;

TEST(EpochTime, TemplatesUnitsAndEdges) {
  EXPECT_FALSE(EpochTemplate("UNIXMSX"));
  EXPECT_FALSE(EpochTemplate("UNIXUTC")); // the zone is a word of its own
  EXPECT_FALSE(EpochTemplate("DD.MM.YYYY UNIX"));
  ASSERT_TRUE(EpochTemplate(" unixNS  utc "));
  EXPECT_EQ(EpochTemplate(" unixNS  utc ")->Digits, 9);

  const TEpochTemplate s{0, true}, ms{3, true}, ns{9, true};
  EXPECT_DOUBLE_EQ(EpochToDateTime("0", s), 25569);
  EXPECT_NEAR(EpochToDateTime(" 86400.5 ", s), 25570 + 0.5 / 86400, 1e-10);
  EXPECT_NEAR(EpochToDateTime("-1500", ms), 25569 - 1.5 / 86400, 1e-10); // 31 Dec 1969
  EXPECT_NEAR(EpochToDateTime("1.7e9", s), 25569 + 1.7e9 / 86400, 1e-10);
  EXPECT_NEAR(EpochToDateTime("1733740000123456789", ns),
              25569 + (1733740000 + 0.123456789) / 86400, 1e-10);
  // Before 30 December 1899 the time of day counts forward from that day's midnight.
  EXPECT_DOUBLE_EQ(EpochToDateTime("-2209161600", s) /* 1899-12-30 */, 0);
  EXPECT_DOUBLE_EQ(EpochToDateTime("-2209204800", s) /* 1899-12-29 12:00 */, -1.5);
  EXPECT_DOUBLE_EQ(EpochToDateTime("253402300799", s), 2958465 + 86399.0 / 86400);
  for (const char* bad : {"253402300800", "-62135596801", "", "12a", "0x10", "1e400", "nan"})
    EXPECT_THROW(EpochToDateTime(bad, s), EConvertError) << bad;

  // The local date-time is the UTC one moved by the zone's offset at that moment.
  const double utc = EpochToDateTime("1733740000", s);
  const double local = EpochToDateTime("1733740000", TEpochTemplate{0, false});
  EXPECT_DOUBLE_EQ(local - utc,
                   static_cast<double>(kestrel::platform::LocalUtcOffsetSeconds(1733740000)) /
                       86400);
}

} // namespace
