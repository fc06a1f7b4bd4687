/// @file
/// Symbol visibility of the capture source library.
#ifndef EKVIDEODEVICE_EKCAPTURE_API_H
#define EKVIDEODEVICE_EKCAPTURE_API_H

#if defined(EKCAPTURE_BUILDING)
#define EKCAPTURE_API __attribute__((visibility("default")))
#else
#define EKCAPTURE_API
#endif

#endif  // EKVIDEODEVICE_EKCAPTURE_API_H
