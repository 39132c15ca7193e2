#include "platform/local_time.h"

#include <chrono>

namespace pimo::platform {

namespace {

constexpr std::chrono::sys_days kDayZero{std::chrono::year{1899} / 12 / 30};

}  // namespace

double LocalDateTime(std::time_t moment) {
    std::tm local{};
#ifdef _WIN32
    if (::localtime_s(&local, &moment) != 0) return 0.0;
#else
    if (::localtime_r(&moment, &local) == nullptr) return 0.0;
#endif
    const std::chrono::year_month_day date{
        std::chrono::year{local.tm_year + 1900},
        std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
        std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
    const double days = static_cast<double>((std::chrono::sys_days{date} - kDayZero).count());
    const int seconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    return days + seconds / 86400.0;
}

double LocalDateTimeNow() {
    return LocalDateTime(std::time(nullptr));
}

}  // namespace pimo::platform
