/// @file
/// Which streams of a `.arv` recording can be played: the one rule that the player, the
/// inspection and every reader outside the library (the recorded camera, the Python
/// package) apply, with its messages.
#ifndef EKVISION_EKVIDEOPLAYBACK_H
#define EKVISION_EKVIDEOPLAYBACK_H

#include <ekvision/ekvideo.h>
#include <ekvision/ekvision_api.h>
#include <ekvision/ekvisiondefinitions.h>

namespace EK {

/// The largest resolution code that EKVideo::readVideo plays; smaller codes play too.
const int kLargestPlayableResolution = kResolution640x480;
/// The largest color-space code that EKVideo::readVideo plays, from 0.
const int kLargestPlayableColorSpace = 16;
/// Bits a sample of streams whose records are taken as pictures: image buffers hold one
/// byte a layer.
const int kPictureSampleDepth = 8;

/// @brief What a reader does with the records of a stream.
enum class EKStreamUse {
  kRecords,  ///< reads records as EKVideo::readVideo does, whatever their sample depth
  kPictures  ///< takes records as pictures of one byte a sample (a camera, numpy arrays)
};

/// @brief Why a stream of header @p stream cannot be played for @p use, or null when it can.
///
/// The reasons, in the order they are checked: "Unsupported resolution" (a size without a
/// resolution code, or one above kLargestPlayableResolution), "invalid color space" (a
/// code outside 0 to kLargestPlayableColorSpace) and, for EKStreamUse::kPictures only,
/// "only 8-bit streams can be played" (a depth other than kPictureSampleDepth).
/// EKVideo::readVideo refuses a recording with the first reason of its streams.
/// @param stream the stream header as stored
/// @param use what the reader does with the records
/// @return a static message, or null
EKVISION_API const char* unplayableReason(const streamHeader& stream,
                                          EKStreamUse use = EKStreamUse::kRecords);

}  // namespace EK

#endif  // EKVISION_EKVIDEOPLAYBACK_H
