// Local dates as days since 30 December 1899.
#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace pimo::platform {
namespace {

// Runs the test in the given time zone and puts the previous one back.
class TimeZoneScope {
  public:
    explicit TimeZoneScope(const char* zone) {
        if (const char* previous = std::getenv("TZ")) m_previous = previous;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZoneScope() {
        if (m_previous) {
            ::setenv("TZ", m_previous->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::optional<std::string> m_previous;
};

TEST(LocalTimeTest, DaysSinceTheDateSystemsDayZero) {
    const TimeZoneScope utc("UTC");
    EXPECT_DOUBLE_EQ(LocalDateTime(0), 25569.0);              // 1 January 1970
    EXPECT_DOUBLE_EQ(LocalDateTime(86400 + 43200), 25570.5);  // noon the next day
    EXPECT_DOUBLE_EQ(LocalDateTime(951782400), 36585.0);      // 29 February 2000
}

TEST(LocalTimeTest, FollowsTheLocalZone) {
    const TimeZoneScope zone("XST-3");  // three hours east of UTC
    EXPECT_DOUBLE_EQ(LocalDateTime(0), 25569.125);
}

}  // namespace
}  // namespace pimo::platform
