// Internal: the last error a media library logged on this thread, for the failure that
// follows it ("Connection refused", "moov atom not found").
#ifndef EKVIDEODEVICE_CAPTURE_MEDIALOGERROR_H
#define EKVIDEODEVICE_CAPTURE_MEDIALOGERROR_H

#include <string>

namespace EK {

// FFmpeg's last error on the calling thread since the last call, once routeMediaLogs()
// routed its log; empty when there was none.
std::string takeMediaError();

}  // namespace EK

#endif  // EKVIDEODEVICE_CAPTURE_MEDIALOGERROR_H
