#include "videotimestamps.h"

#include <algorithm>
#include <cmath>

#include "host.h"

namespace ekhost {
namespace {

long double periodMicroseconds(Ratio rate) {
  return 1e6L * static_cast<long double>(rate.den) / static_cast<long double>(rate.num);
}

long double tickMicroseconds(Ratio timeBase) {
  return 1e6L * static_cast<long double>(timeBase.num) / static_cast<long double>(timeBase.den);
}

// True when every time (sorted, first one first) lies on the grid of @p rate.
bool fitsRate(const std::vector<std::int64_t>& sorted, Ratio timeBase, Ratio rate) {
  const long double period = periodMicroseconds(rate);
  const long double tick = tickMicroseconds(timeBase);
  const long double tolerance = std::min(std::max(tick, 2.0L), period / 4);
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    const long double offset = static_cast<long double>(sorted[i] - sorted.front()) * tick;
    if (std::fabs(offset - static_cast<long double>(i) * period) > tolerance) {
      return false;
    }
  }
  return true;
}

}  // namespace

VideoStamper::VideoStamper(const std::vector<std::optional<std::int64_t>>& packetTimes,
                           Ratio timeBase, const std::vector<Ratio>& nominalRates, long long start)
    : timeBase_(timeBase.valid() ? timeBase : Ratio{1, 1000000}), start_(start) {
  std::vector<std::int64_t> sorted;
  bool allTimed = true;
  for (const std::optional<std::int64_t>& time : packetTimes) {
    if (time) {
      sorted.push_back(*time);
    } else {
      allTimed = false;
    }
  }
  std::sort(sorted.begin(), sorted.end());
  for (const Ratio& rate : nominalRates) {
    if (!rate.valid()) {
      continue;
    }
    if (!allTimed || !timeBase.valid() || fitsRate(sorted, timeBase_, rate)) {
      rate_ = rate;
      constant_ = true;
      return;
    }
    if (!rate_.valid()) {
      rate_ = rate;  // the step that makes up stamps of a variable-rate video
    }
  }
}

long long VideoStamper::sinceFirst(std::int64_t time) const {
  return std::llround(static_cast<long double>(time - *first_) * tickMicroseconds(timeBase_));
}

long long VideoStamper::next(std::optional<std::int64_t> time) {
  if (time && !first_) {
    first_ = time;
  }
  long long stamp = 0;
  if (constant_) {
    const long double period = periodMicroseconds(rate_);
    long long slot =
        time ? std::llround(static_cast<long double>(sinceFirst(*time)) / period) : lastSlot_ + 1;
    if (!time || slot <= lastSlot_) {
      slot = lastSlot_ + 1;
      ++adjusted_;
    }
    lastSlot_ = slot;
    stamp = start_ + std::llround(static_cast<long double>(slot) * period);
  } else {
    const long long step =
        rate_.valid() ? std::max(1LL, std::llround(periodMicroseconds(rate_))) : 1;
    if (time) {
      stamp = start_ + sinceFirst(*time);
    }
    if (!last_) {
      if (!time) {
        stamp = start_;
        ++adjusted_;
      }
    } else if (!time || stamp <= *last_) {
      stamp = *last_ + step;
      ++adjusted_;
    }
  }
  last_ = stamp;
  return stamp;
}

long long parseStartTime(const std::string& text) {
  const HostError refused(
      EK::EKCause::kInvalidArgument,
      "--start takes seconds (\"90\", \"1733446800.25\") or [H:]MM:SS[.ffffff], "
      "not '" +
          text + "'");
  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t colon = text.find(':', begin);
    parts.push_back(text.substr(begin, colon == std::string::npos ? colon : colon - begin));
    if (colon == std::string::npos) {
      break;
    }
    begin = colon + 1;
  }
  if (parts.size() > 3) {
    throw refused;
  }
  const auto digitsOnly = [](const std::string& part) {
    return !part.empty() && part.size() <= 12 &&
           std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  long long seconds = 0;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    if (!digitsOnly(parts[i]) || (i > 0 && std::stoll(parts[i]) >= 60)) {
      throw refused;
    }
    seconds = seconds * 60 + std::stoll(parts[i]);
  }
  const std::string& last = parts.back();
  const std::size_t dot = last.find('.');
  const std::string whole = last.substr(0, dot);
  const std::string fraction = dot == std::string::npos ? "" : last.substr(dot + 1);
  if (!digitsOnly(whole) || (dot != std::string::npos && !digitsOnly(fraction)) ||
      fraction.size() > 6 || (parts.size() > 1 && std::stoll(whole) >= 60)) {
    throw refused;
  }
  seconds = parts.size() > 1 ? seconds * 60 + std::stoll(whole) : std::stoll(whole);
  const long long kMaxSeconds = 100000000000LL;
  if (seconds > kMaxSeconds) {
    throw refused;
  }
  return seconds * 1000000 + std::stoll((fraction + "000000").substr(0, 6));
}

}  // namespace ekhost
