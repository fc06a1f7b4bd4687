/// @file
/// Symbol visibility of the remote camera library.
#ifndef EKVIDEODEVICE_EKREMOTE_API_H
#define EKVIDEODEVICE_EKREMOTE_API_H

#if defined(EKREMOTE_BUILDING)
#define EKREMOTE_API __attribute__((visibility("default")))
#else
#define EKREMOTE_API
#endif

#endif  // EKVIDEODEVICE_EKREMOTE_API_H
