/// @file
/// Symbol visibility of libekvision.
///
/// The library is built with hidden visibility; only declarations marked EKVISION_API are
/// exported from libekvision.so.
#ifndef EKVISION_EKVISION_API_H
#define EKVISION_EKVISION_API_H

#if defined(EKVISION_BUILDING)
#define EKVISION_API __attribute__((visibility("default")))
#else
#define EKVISION_API
#endif

#endif  // EKVISION_EKVISION_API_H
