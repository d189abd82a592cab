#pragma once
#include <chrono>
#include <cstddef>

// Bounds of one registry tool run (the tool itself is asked for 10 seconds).
inline constexpr std::size_t bridge_output_limit = 2097152;
inline constexpr std::chrono::seconds bridge_time_limit{15};
inline constexpr std::chrono::milliseconds bridge_poll_interval{10};
