/// @file
/// Symbol visibility of the camera module library.
#ifndef EKVIDEODEVICE_EKVIDEODEVICE_API_H
#define EKVIDEODEVICE_EKVIDEODEVICE_API_H

#if defined(EKVIDEODEVICE_BUILDING)
#define EKVIDEODEVICE_API __attribute__((visibility("default")))
#else
#define EKVIDEODEVICE_API
#endif

#endif  // EKVIDEODEVICE_EKVIDEODEVICE_API_H
