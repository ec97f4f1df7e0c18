#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "core/time_format.hpp"
#include "support/temp_dir.hpp"

namespace irvelo {
namespace {

struct DurationRow {
  std::int64_t seconds;
  const char* full;
  const char* compact;
  const char* decimal;
  const char* clock;
};

TEST(FormatDuration, TableOfFormats) {
  const DurationRow rows[] = {
      {0, "00:00:00", "0:00", "0.00", "0:00:00"},        {17, "00:00:17", "0:00", "0.00", "0:00:17"},
      {18, "00:00:18", "0:00", "0.01", "0:00:18"},       {59, "00:00:59", "0:00", "0.02", "0:00:59"},
      {3599, "00:59:59", "0:59", "1.00", "0:59:59"},     {3725, "01:02:05", "1:02", "1.03", "1:02:05"},
      {5400, "01:30:00", "1:30", "1.50", "1:30:00"},     {360000, "100:00:00", "100:00", "100.00", "100:00:00"},
      {-3725, "-01:02:05", "-1:02", "-1.03", "0:00:00"}, {-18, "-00:00:18", "-0:00", "-0.01", "0:00:00"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.seconds);
    EXPECT_EQ(format_duration(row.seconds, DurationFormat::Full), row.full);
    EXPECT_EQ(format_duration(row.seconds, DurationFormat::Compact), row.compact);
    EXPECT_EQ(format_duration(row.seconds, DurationFormat::Decimal), row.decimal);
    EXPECT_EQ(format_clock(row.seconds), row.clock);
  }
}

TEST(FormatDuration, ExtremeValuesSaturateInsteadOfOverflowing) {
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  // The magnitude of the most negative value saturates to the largest positive one.
  EXPECT_EQ(format_duration(kMin, DurationFormat::Full), "-2562047788015215:30:07");
  EXPECT_EQ(format_duration(kMax, DurationFormat::Full), "2562047788015215:30:07");
  EXPECT_EQ(format_duration(kMin, DurationFormat::Compact), "-2562047788015215:30");
  EXPECT_EQ(format_clock(kMin), "0:00:00");
  EXPECT_EQ(format_clock(kMax), "2562047788015215:30:07");
  EXPECT_EQ(format_duration(kMin, DurationFormat::Decimal).front(), '-');
}

TEST(SaturatingArithmetic, ClampsAtBothEnds) {
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(saturating_add(kMax, 1), kMax);
  EXPECT_EQ(saturating_add(kMin, -1), kMin);
  EXPECT_EQ(saturating_add(40, 2), 42);
  EXPECT_EQ(saturating_sub(kMax, -1), kMax);
  EXPECT_EQ(saturating_sub(kMin, 1), kMin);
  EXPECT_EQ(saturating_sub(0, kMin), kMax);
  EXPECT_EQ(saturating_sub(44, 2), 42);
}

TEST(ParseDurationFormat, ExactLowerCaseWordsOnly) {
  EXPECT_EQ(parse_duration_format("compact"), DurationFormat::Compact);
  EXPECT_EQ(parse_duration_format("decimal"), DurationFormat::Decimal);
  EXPECT_EQ(parse_duration_format("full"), DurationFormat::Full);
  EXPECT_EQ(parse_duration_format(""), DurationFormat::Full);
  EXPECT_EQ(parse_duration_format("Compact"), DurationFormat::Full);
  EXPECT_EQ(parse_duration_format("decimal "), DurationFormat::Full);
}

TEST(ParseInstant, NeedsAZoneDesignator) {
  EXPECT_EQ(parse_instant("2024-03-07T09:05:00Z"), 1709802300);
  EXPECT_EQ(parse_instant("2024-03-07T10:05:00+01:00"), 1709802300);
  EXPECT_EQ(parse_instant("2024-03-07T09:05:00.987Z"), 1709802300);  // fraction dropped
  EXPECT_EQ(parse_instant("1969-12-31T23:59:59Z"), -1);
  EXPECT_EQ(parse_instant("2024-03-07T09:05:00"), std::nullopt);
  EXPECT_EQ(parse_instant(""), std::nullopt);
  EXPECT_EQ(parse_instant("yesterday"), std::nullopt);
}

TEST(FormatClockTime, TwentyFourAndTwelveHours) {
  struct Row {
    ClockTime time;
    const char* h24;
    const char* h12;
  };
  const Row rows[] = {
      {{9, 5}, "09:05", "9:05 AM"},   {{17, 30}, "17:30", "5:30 PM"},  {{0, 5}, "00:05", "12:05 AM"},
      {{12, 0}, "12:00", "12:00 PM"}, {{11, 59}, "11:59", "11:59 AM"}, {{23, 59}, "23:59", "11:59 PM"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.h24);
    EXPECT_EQ(format_clock_time(row.time, false), row.h24);
    EXPECT_EQ(format_clock_time(row.time, true), row.h12);
  }
}

// 2024-03-07T23:30:00Z: still the 7th in UTC and New York, already the 8th in Berlin and Tokyo.
constexpr std::int64_t kBeforeUtcMidnight = 1709854200;

TEST(Zones, DatesAndClockTimesAroundMidnight) {
  struct Row {
    const char* zone;
    LocalDate date;
    ClockTime time;
  };
  const Row rows[] = {
      {"UTC", {2024, 3, 7}, {23, 30}},
      {"Europe/Berlin", {2024, 3, 8}, {0, 30}},
      {"America/New_York", {2024, 3, 7}, {18, 30}},
      {"Asia/Tokyo", {2024, 3, 8}, {8, 30}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.zone);
    EXPECT_EQ(local_date_of(kBeforeUtcMidnight, row.zone), row.date);
    EXPECT_EQ(clock_time_of(kBeforeUtcMidnight, row.zone), row.time);
  }
  // Summer time: Berlin is two hours ahead on 2024-07-01T22:30:00Z.
  EXPECT_EQ(clock_time_of(1719873000, "Europe/Berlin"), (ClockTime{0, 30}));
  EXPECT_EQ(local_date_of(1719873000, "Europe/Berlin"), (LocalDate{2024, 7, 2}));
}

TEST(Zones, UnknownOrUnsafeNamesMeanTheLocalZone) {
  // The test runner pins the local zone to UTC; Tokyo differs from it.
  ASSERT_NE(clock_time_of(kBeforeUtcMidnight, "Asia/Tokyo"), clock_time_of(kBeforeUtcMidnight, ""));
  const char* names[] = {
      "Mars/Olympus_Mons",
      "/usr/share/zoneinfo/Asia/Tokyo",  // a path GLib would otherwise open
      "../../../usr/share/zoneinfo/Asia/Tokyo",
      "Asia/../Asia/Tokyo",
      ":Asia/Tokyo",
      "Asia/Tokyo\n",
      "Asia/Tokyo ",
  };
  for (const char* name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(local_date_of(kBeforeUtcMidnight, name), local_date_of(kBeforeUtcMidnight, ""));
    EXPECT_EQ(clock_time_of(kBeforeUtcMidnight, name), clock_time_of(kBeforeUtcMidnight, ""));
  }
}

// The clock asks for the zone every second: a name GLib does not know is
// looked for once, not on every tick (a zone file that appears later is not
// read, while a name asked for the first time is).
TEST(Zones, UnknownNameIsLookedUpOnce) {
  const test::TempDir dir;
  g_setenv("TZDIR", dir.path().c_str(), TRUE);
  const ClockTime local = clock_time_of(kBeforeUtcMidnight, "");
  EXPECT_EQ(clock_time_of(kBeforeUtcMidnight, "Test/Zone"), local);

  g_autofree gchar* tokyo = nullptr;
  gsize size = 0;
  ASSERT_TRUE(g_file_get_contents("/usr/share/zoneinfo/Asia/Tokyo", &tokyo, &size, nullptr));
  ASSERT_EQ(g_mkdir((dir.path() + "/Test").c_str(), 0700), 0);
  for (const char* name : {"Test/Zone", "Test/Other"}) {
    ASSERT_TRUE(g_file_set_contents((dir.path() + "/" + name).c_str(), tokyo, static_cast<gssize>(size), nullptr));
  }

  EXPECT_EQ(clock_time_of(kBeforeUtcMidnight, "Test/Zone"), local);
  EXPECT_EQ(clock_time_of(kBeforeUtcMidnight, "Test/Other"), (ClockTime{8, 30}));
  g_unsetenv("TZDIR");
}

TEST(Zones, SafeNameShape) {
  for (const char* ok : {"UTC", "Europe/Berlin", "America/Argentina/Buenos_Aires", "Etc/GMT+5", "Etc/GMT-14"}) {
    EXPECT_TRUE(is_safe_zone_name(ok)) << ok;
  }
  for (const char* bad : {"", "/etc/localtime", ":UTC", "a/../b", "..", "UTC\\x", "Europe/Berlin;", "a b"}) {
    EXPECT_FALSE(is_safe_zone_name(bad)) << bad;
  }
}

TEST(Zones, InstantsOutsideTheCalendarAreNeverToday) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  for (std::int64_t instant : {kMax, kMin, std::int64_t{253402300800}}) {  // the last is year 10000
    SCOPED_TRACE(instant);
    EXPECT_EQ(local_date_of(instant, "UTC"), LocalDate{});
    EXPECT_EQ(clock_time_of(instant, "Europe/Berlin"), (ClockTime{0, 0}));
  }
  // 9999-12-31T23:30:00Z exists in UTC but not once moved to Tokyo.
  EXPECT_EQ(local_date_of(253402299000, "UTC"), (LocalDate{9999, 12, 31}));
  EXPECT_EQ(local_date_of(253402299000, "Asia/Tokyo"), LocalDate{});
}

// The calendar computes dates itself; GLib's GDateTime is the reference,
// every 20 minutes for two years around DST changes of whole, half-hour and
// odd offsets, and at the ends of the calendar.
TEST(Zones, CalendarDatesAgreeWithGDateTime) {
  for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "Asia/Kathmandu",
                           "Pacific/Chatham", "America/Sao_Paulo", "UTC"}) {
    GTimeZone* tz = g_time_zone_new_identifier(zone);
    ASSERT_NE(tz, nullptr) << zone;
    const ZoneCalendar calendar(zone);
    auto reference = [&](std::int64_t instant) {
      LocalDate date;
      if (GDateTime* utc = g_date_time_new_from_unix_utc(instant)) {
        if (GDateTime* local = g_date_time_to_timezone(utc, tz)) {
          date = {g_date_time_get_year(local), g_date_time_get_month(local), g_date_time_get_day_of_month(local)};
          g_date_time_unref(local);
        }
        g_date_time_unref(utc);
      }
      return date;
    };
    std::vector<std::int64_t> instants;
    for (std::int64_t t = 1711839600 - 366 * 86400; t < 1711839600 + 366 * 86400; t += 1200) instants.push_back(t);
    for (std::int64_t edge : {-62135596800LL, 253402300799LL}) {
      for (std::int64_t d = -2 * 86400; d <= 2 * 86400; d += 1800) instants.push_back(edge + d);
    }
    int differences = 0;
    for (std::int64_t t : instants) {
      const LocalDate expected = reference(t);
      const LocalDate got = calendar.date_of(t);
      if (!(got == expected) && ++differences <= 3) {
        ADD_FAILURE() << zone << " at " << t << ": " << got.year << "-" << got.month << "-" << got.day << " instead of "
                      << expected.year << "-" << expected.month << "-" << expected.day;
      }
    }
    EXPECT_EQ(differences, 0) << zone;
    g_time_zone_unref(tz);
  }
}

TEST(NowUnix, FollowsTheWallClock) {
  const auto now = now_unix();
  EXPECT_GT(now, 1700000000);  // after November 2023
  EXPECT_LE(now, static_cast<std::int64_t>(time(nullptr)));
}

}  // namespace
}  // namespace irvelo
