#include "base/DateTime.h"
#include "base/Exception.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

TEST(DateTime, EpochAndKnownDays)
{
    EXPECT_EQ(qm::EncodeDateTime(1899, 12, 30), 0.0);
    EXPECT_EQ(qm::EncodeDateTime(1900, 1, 1), 2.0);
    EXPECT_EQ(qm::EncodeDateTime(2000, 1, 1), 36526.0);
    EXPECT_DOUBLE_EQ(qm::EncodeDateTime(1998, 1, 2, 12), 35797.5);
}

TEST(DateTime, DecodeDropsMillisecondsAndNamesWeekday)
{
    const auto f = qm::DecodeDateTime(qm::EncodeDateTime(1998, 1, 2, 3, 4, 5, 900));
    EXPECT_EQ(f.Year, 1998);
    EXPECT_EQ(f.Month, 1);
    EXPECT_EQ(f.Day, 2);
    EXPECT_EQ(f.Hour, 3);
    EXPECT_EQ(f.Minute, 4);
    EXPECT_EQ(f.Second, 5);
    EXPECT_EQ(f.MilliSecond, 900);
    EXPECT_EQ(f.DayOfWeek, 6); // Friday
    EXPECT_EQ(qm::DecodeDateTime(0).DayOfWeek, 7); // Saturday
    EXPECT_EQ(qm::DecodeDateTime(std::nextafter(36527.0, 0.0)).Hour, 23); // a hair below midnight: never 24
}

TEST(DateTime, RoundTripsEveryFieldOverManyDates)
{
    std::mt19937 rng(1234);
    for (int i = 0; i < 20000; ++i) {
        const int y = std::uniform_int_distribution(1900, 2100)(rng);
        const int mo = std::uniform_int_distribution(1, 12)(rng);
        const int d = std::uniform_int_distribution(1, 28)(rng);
        const int h = std::uniform_int_distribution(0, 23)(rng);
        const int mi = std::uniform_int_distribution(0, 59)(rng);
        const int s = std::uniform_int_distribution(0, 59)(rng);
        const auto f = qm::DecodeDateTime(qm::EncodeDateTime(y, mo, d, h, mi, s));
        ASSERT_EQ(f.Year * 10000 + f.Month * 100 + f.Day, y * 10000 + mo * 100 + d);
        ASSERT_EQ(f.Hour * 3600 + f.Minute * 60 + f.Second, h * 3600 + mi * 60 + s)
            << y << "-" << mo << "-" << d << " " << h << ":" << mi << ":" << s;
    }
}

TEST(DateTime, RejectsImpossibleDates)
{
    EXPECT_THROW(qm::EncodeDateTime(2001, 2, 29), qm::Exception);
    EXPECT_NO_THROW(qm::EncodeDateTime(2000, 2, 29));
    EXPECT_THROW(qm::EncodeDateTime(2001, 13, 1), qm::Exception);
    EXPECT_THROW(qm::EncodeDateTime(2001, 1, 1, 24), qm::Exception);
    EXPECT_THROW(qm::EncodeDateTime(2001, 1, 1, 0, 60), qm::Exception);
    EXPECT_THROW(qm::EncodeDateTime(2001, 1, 1, 0, 0, 60), qm::Exception);
    EXPECT_THROW(qm::EncodeDateTime(2001, 1, 0), qm::Exception);
}

TEST(DateTime, BeforeTheEpochTheFractionStillCountsForward)
{
    EXPECT_DOUBLE_EQ(qm::EncodeDateTime(1899, 12, 29, 6), -1.25);
    const auto f = qm::DecodeDateTime(-1.25);
    EXPECT_EQ(f.Year * 10000 + f.Month * 100 + f.Day, 18991229);
    EXPECT_EQ(f.Hour, 6);
    EXPECT_EQ(qm::DecodeDateTime(-0.5).Day, 30); // still the epoch day, at noon
    EXPECT_EQ(qm::DecodeDateTime(-0.5).Hour, 12);
}

TEST(DateTime, DecodeCoversTheYearsOneTo9999AndRejectsTheRest)
{
    EXPECT_EQ(qm::EncodeDateTime(1, 1, 1), -693593.0);
    EXPECT_EQ(qm::EncodeDateTime(9999, 12, 31), 2958465.0);
    EXPECT_EQ(qm::DecodeDateTime(-693593.5).Year, 1);
    EXPECT_EQ(qm::DecodeDateTime(2958465.99).Year, 9999);
    for (const double bad : {-693594.0, 2958466.0, 1e20, -1e20, std::nan(""), HUGE_VAL})
        EXPECT_THROW(qm::DecodeDateTime(bad), qm::Exception) << bad;
}

} // namespace
