/// @file
/// The header at the start of every `.arv` record: where its fields lie, and their
/// encoding.
///
/// The header takes the place of the record's first kVideoRecordHeaderSize pixel bytes;
/// its fields are little-endian and unpadded. Readers of records that do not go through
/// EKVideo (many time stamps at once, a numpy view) take the offsets from here.
#ifndef EKVISION_EKVIDEORECORD_H
#define EKVISION_EKVIDEORECORD_H

#include <ekvision/ekvideoinspection.h>
#include <ekvision/ekvision_api.h>

namespace EK {

/// @name Byte offsets of the record header's fields
/// Version 0 recordings leave the angles undefined: readers give their frames fixed
/// default angles.
/// @{
const int kVideoRecordTimeStampOffset = 0;  ///< time stamp: signed 64-bit microseconds
const int kVideoRecordCameraOffset = 8;     ///< camera index: one byte
const int kVideoRecordAnglesOffset = 9;     ///< angles: four floats, left, top, right, bottom
/// @}

static_assert(kVideoRecordAnglesOffset + 4 * sizeof(float) == kVideoRecordHeaderSize,
              "the four angles end the record header");

/// @brief The fields of one record header.
struct EKRecordHeader {
  long long timeStamp = -1;  ///< microseconds since the epoch, -1 when unset
  char cameraId = 0;         ///< camera index
  float leftAngle = 0.0f;    ///< left angle of the field of view, radians
  float topAngle = 0.0f;     ///< top angle, radians
  float rightAngle = 0.0f;   ///< right angle, radians
  float bottomAngle = 0.0f;  ///< bottom angle, radians
};

/// @brief Writes @p header into the kVideoRecordHeaderSize bytes at @p bytes, as the
/// recorder stores it.
/// @param header the fields to encode
/// @param bytes room for kVideoRecordHeaderSize bytes
EKVISION_API void encodeRecordHeader(const EKRecordHeader& header, unsigned char* bytes);

/// @brief The fields of the record header stored in the kVideoRecordHeaderSize bytes at
/// @p bytes, angles included as they stand (see kVideoRecordAnglesOffset for version 0).
/// @param bytes the first kVideoRecordHeaderSize bytes of a record
/// @return the decoded fields
EKVISION_API EKRecordHeader decodeRecordHeader(const unsigned char* bytes);

}  // namespace EK

#endif  // EKVISION_EKVIDEORECORD_H
