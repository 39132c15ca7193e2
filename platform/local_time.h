#pragma once
// The local date and time as the settings store keeps dates: days since the
// date system's day zero (30 December 1899), the time of day as the fraction.

#include <ctime>

namespace pimo::platform {

/// `moment` in local time, as days since 30 December 1899.
double LocalDateTime(std::time_t moment);

/// Now, in local time, as days since 30 December 1899.
double LocalDateTimeNow();

}  // namespace pimo::platform
