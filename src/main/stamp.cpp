#include "main/stamp.hpp"

#include <ctime>
#include <unistd.h>

std::string process_stamp() {
    __extension__ typedef unsigned __int128 Nanoseconds;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    Nanoseconds ns = now.tv_sec < 0 ? 0
                                    : static_cast<Nanoseconds>(now.tv_sec) * 1'000'000'000u +
                                          static_cast<Nanoseconds>(now.tv_nsec);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(ns % 10)));
        ns /= 10;
    } while (ns != 0);
    return std::to_string(::getpid()) + "-" + digits;
}
