/// @file
/// Symbol visibility of the framework library.
///
/// The framework library is built with hidden visibility; only declarations marked
/// EKFRAMEWORK_API are exported from it.
#ifndef EKCOMMON_API_H
#define EKCOMMON_API_H

#if defined(EKFRAMEWORK_BUILDING)
#define EKFRAMEWORK_API __attribute__((visibility("default")))
#else
#define EKFRAMEWORK_API
#endif

#endif  // EKCOMMON_API_H
