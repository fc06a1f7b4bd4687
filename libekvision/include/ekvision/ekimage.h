/// @file
/// EKImage: one camera picture with its capture metadata.
#ifndef EKVISION_EKIMAGE_H
#define EKVISION_EKIMAGE_H

#include <string>
#include <vector>

#include <ekvalue/ekvalue.h>
#include <ekvision/ekstatus.h>
#include <ekvision/ekvision_api.h>
#include <ekvision/ekvisiondefinitions.h>

/// OpenCV's C image record. Only its declaration is needed here: the library reads its
/// `width`, `height` and `imageData` fields and does not link OpenCV.
struct _IplImage;

namespace EK {

/// @brief One picture: a header of plain fields and one contiguous pixel buffer.
///
/// The fields are public: the library and its users read and write them directly. An image
/// of width W and height H with L layers uses the first W x H x L bytes of `frame`, pixel
/// after pixel, row after row, the L bytes of a pixel side by side. For YUV422 (color space
/// 9, two layers) two neighbouring pixels share one four-byte group Y0 U Y1 V.
///
/// The buffer may be larger than the picture in it: `allocatedSize`, `allocatedResolution`
/// and `allocatedNbLayers` describe its capacity. It grows to the largest resolution and
/// layer count ever requested through setResolution() and setColorSpace() and never shrinks
/// there, so an image that cycles between formats allocates once per new maximum.
///
/// With `externalBuffer` false the image owns `frame` (allocated with new[], released with
/// delete[]). With `externalBuffer` true it never allocates, replaces or frees the buffer:
/// whoever points `frame` at memory keeps that memory alive, at least `allocatedSize` bytes
/// long, for as long as the image is used.
///
/// An image has no locking and offers no copy or assignment: it owns its buffer alone.
class EKVISION_API EKImage {
 public:
  /// @brief A region of interest: position and size in pixels and its angular bounds.
  struct EKVISION_API ROI {
    /// A region with all four angles 0.
    ROI(int x, int y, int w, int h);
    /// A region with its angular bounds, in the image's sign convention.
    ROI(int x, int y, int w, int h, float leftAngle, float topAngle, float rightAngle,
        float bottomAngle);

    int x;              ///< left column, in pixels
    int y;              ///< top row, in pixels
    int w;              ///< width, in pixels
    int h;              ///< height, in pixels
    float leftAngle;    ///< angle of the left edge, radians
    float topAngle;     ///< angle of the top edge, radians
    float rightAngle;   ///< angle of the right edge, radians
    float bottomAngle;  ///< angle of the bottom edge, radians
  };

  int width;                ///< width in pixels
  int height;               ///< height in pixels
  int nbLayers;             ///< bytes a pixel, the layer count of `colorSpace`
  int colorSpace;           ///< color-space code
  long long timeStamp;      ///< capture time in microseconds; -1 when the image has none
  unsigned char* frame;     ///< the pixel buffer; null when the image has none
  char cameraId;            ///< index of the camera that took the picture; 0 after construction
  int allocatedSize;        ///< bytes for which the buffer was last sized
  int allocatedResolution;  ///< resolution code of the buffer; -1 for a size without code
  int allocatedNbLayers;    ///< layer count for which the buffer was last sized
  bool externalBuffer;      ///< the buffer belongs to someone else
  float leftAngle;          ///< field-of-view bound on the left, radians (positive)
  float topAngle;           ///< field-of-view bound at the top, radians (positive)
  float rightAngle;         ///< field-of-view bound on the right, radians (negative)
  float bottomAngle;        ///< field-of-view bound at the bottom, radians (negative)
  std::vector<ROI> rois;    ///< regions of interest; empty after construction
  bool regionFlag;          ///< kept beside the region list; false after construction

  /// @brief An image of any size; the buffer is owned and zeroed unless @p externalBuffer.
  ///
  /// `allocatedResolution` is the code of the size, or -1 when it has none; `timeStamp` -1.
  /// @throws std::invalid_argument "EKImage: invalid colorspace" for an invalid color space;
  ///   "EKImage: invalid size" for a negative width or height; "EKImage: image too large"
  ///   when width x height x layers does not fit an int.
  EKImage(int width, int height, int colorSpace, bool externalBuffer = false,
          float leftAngle = 0.0f, float topAngle = 0.0f, float rightAngle = 0.0f,
          float bottomAngle = 0.0f);

  /// @brief An image of a resolution code; the buffer is owned and zeroed unless
  /// @p externalBuffer.
  /// @throws std::invalid_argument "EKImage: invalid colorspace" (tested first), then
  ///   "EKImage: invalid resolution".
  EKImage(int resolution, int colorSpace, bool externalBuffer = false, float leftAngle = 0.0f,
          float topAngle = 0.0f, float rightAngle = 0.0f, float bottomAngle = 0.0f);

  /// Releases an owned buffer, never an external one.
  ~EKImage();

  EKImage(const EKImage&) = delete;
  EKImage& operator=(const EKImage&) = delete;

  /// @brief Sizes the buffer for a resolution code and a layer count.
  ///
  /// Changes only `frame` and the three allocation fields, never the picture's own size,
  /// layers or color space. A size equal to `allocatedSize` changes nothing. Otherwise an
  /// owned buffer is replaced (contents undefined, nothing copied), smaller or larger; an
  /// external one is kept. The allocation fields record the new code and layers only when
  /// there is a buffer.
  /// @return whether the image has a buffer afterwards
  /// @throws std::invalid_argument "EKImage: reallocateDataSize: Weird resolution #<code>"
  ///   for a code without size, and "EKImage: image too large" when the byte count of
  ///   @p nbLayers layers does not fit an int (nothing changes then).
  bool reallocateDataSize(int resolution, int nbLayers);

  /// @brief Switches the picture to a resolution code, growing the buffer when needed.
  /// @return false, with width and height unchanged, when the buffer had to grow and the
  ///   image has no buffer (an external buffer not yet set)
  /// @throws std::invalid_argument "EKImage: invalid resolution"
  bool setResolution(int resolution);

  /// @brief Switches the color space and layer count, growing the buffer for more layers.
  ///
  /// The current code returns true and changes nothing. More layers than the buffer was
  /// sized for reallocate it for `allocatedResolution`; an image built from a size without
  /// resolution code then throws the "Weird resolution #-1" error of reallocateDataSize()
  /// with `colorSpace` and `nbLayers` already changed and the old, smaller buffer in place:
  /// such an image must be given back its old color space before its pixels are used.
  /// @return false when more room was needed and the image has no buffer (its color space
  ///   and layer count are then already the new ones)
  /// @throws std::invalid_argument "EKImage: setColorSpace: invalid color space"
  bool setColorSpace(int colorSpace);

  /// @brief A fourteen-line dump of the header, one sixteen-character label a line.
  ///
  /// The "FirstPixel    : " line shows the first sixteen bytes of the buffer as four
  /// 32-bit words in lower-case hexadecimal. With no buffer it says "(no buffer)"; a buffer
  /// of fewer than sixteen bytes (`allocatedSize`) shows only the whole words it holds.
  std::string toString() const;

  /// @name Conversions between pixel layouts
  /// The three unpacking members read a YUV422 image (color space 9) and write into a
  /// caller's buffer, which must be large enough (it is not checked). They refuse any other
  /// color space with false and one log record at level 2, category "vision.ekimage",
  /// leaving the destination untouched; likewise an image whose buffer is smaller than
  /// width x height x 2 bytes ("Input image buffer is smaller than the image.").
  ///
  /// Width x height is even for every resolution code. For an odd pixel count the last,
  /// unpaired pixel has a Y and a U but no V: it is unpacked with a neutral V of 128 (BGR,
  /// YYYUUUVVV), or as its Y alone where the layout has no room for its U (YYYYUUVV), and
  /// nothing outside the buffers is read or written.
  /// @{

  /// Writes blue, green, red bytes, width x height x 3, into @p destination.
  bool computeBGRimageFromYUV422(unsigned char* destination);
  /// Writes a Y plane, then a U plane and a V plane of one byte a pixel pair
  /// (width x height x 2 bytes in all).
  bool computeYYYYUUVVimageFromYUV422(unsigned char* destination);
  /// Writes three full planes Y, U, V (width x height x 3 bytes in all).
  bool computeYYYUUUVVVimageFromYUV422(unsigned char* destination);

  /// @brief Replaces the pixels with YUV422 computed from a packed BGR picture.
  ///
  /// Note the argument order: height first. A picture of the image's own width, height and
  /// two layers reuses the buffer; otherwise an owned buffer is replaced and the size and
  /// allocation fields set as the constructors set them. `colorSpace` never changes.
  /// @return false, with one log record "External buffer not compatible.", when the size or
  ///   layer count differs and the buffer is external; false (and a log record) for a
  ///   negative size, a size whose byte count does not fit an int, or a null @p bgr.
  ///   For an odd pixel count the unpaired last pixel gets its Y and U only.
  bool computeYUV422imageFromBGR(int height, int width, char* bgr);
  /// The same for OpenCV's image record: its `height`, `width` and `imageData`, taken as
  /// packed BGR whatever its channel count and row step say. Null gives false.
  bool computeYUV422imageFromBGR(_IplImage* image);
  /// @}

  /// @name Files
  /// @{

  /// @brief Saves the image as a version 1 `.ari` file (48-byte header, then the pixels).
  /// @return true when every byte was written and the file closed cleanly; a partial file
  ///   stays on failure. An image whose buffer is smaller than width x height x layers
  ///   (or that has none while the picture is not empty) is refused before the file is
  ///   opened.
  bool writeFile(const char* path);

  /// @brief Loads an `.ari` file of version 0 or 1.
  ///
  /// Header values are checked before anything is allocated or changed: negative sizes or
  /// layer counts, a byte count that does not fit an int, or more pixel bytes than the file
  /// holds give false with one log record (level 2, "vision.ekimage") and an unchanged
  /// image. An unknown magic and an external buffer of another size are logged likewise.
  /// A file cut inside its header gives false and no log record.
  /// @return true when the whole picture was read and the file closed cleanly
  bool readFile(const char* path);

  /// @brief Exports the picture as a binary PPM (P6) file.
  ///
  /// Three layers are written as they are, two (YUV422) as Y U V triples without
  /// conversion, one as grey; other layer counts give the header only.
  /// @return 1 on success; -1 cannot open, -2 header, -3/-4/-5 pixel write failure for
  ///   3/2/1 layers, -6 close failure, -7 the buffer is smaller than the picture
  int savePPM(const char* path);
  /// @}

  /// @name Image values
  /// @{

  /// @brief The image as the twelve-element image array, with its own copy of the pixels.
  ///
  /// Elements: 0 width, 1 height, 2 layers, 3 color space, 4 whole seconds and 5 remaining
  /// microseconds of the time stamp (truncating division, both with its sign), 6 the pixel
  /// bytes, 7 camera index, 8-11 left, top, right, bottom angle. An image without buffer
  /// gives an empty byte block; a buffer smaller than the picture is copied only as far as
  /// `allocatedSize` goes.
  EKValue toEKValue();

  /// @brief A new image over the pixels of an image array, without copying them.
  ///
  /// The image has an external buffer pointing into element 6: the value must outlive it,
  /// unchanged. The caller owns the result. Returns null with one log record (level 2,
  /// category "EKImage") for a value that is not an array of at least twelve elements, for
  /// a negative size or one whose byte count does not fit an int, and for a byte block
  /// shorter than width x height x layers.
  /// @throws std::invalid_argument "EKImage: invalid colorspace" for an invalid element 3
  /// @throws EKError when an element is of another kind than the array layout says
  static EKImage* fromEKValue(const EKValue& value);
  /// @}
};

/// @brief Converts one pixel in place, in single-precision floating point.
///
/// On entry the three bytes hold Y, U and V; on return they hold red, green and blue, each
/// truncated toward zero and clamped to 0..255.
EKVISION_API void computeRgbFromYuv(unsigned char* y, unsigned char* u, unsigned char* v);

/// @name Picture files with their causes
/// The file operations of EKImage that say why they failed, for callers that report it
/// (bindings, tools); they log nothing. A file that cannot be opened, read or written
/// gives the cause of its system error with the error itself (kNotFound and ENOENT,
/// kNoSpace and ENOSPC, EFBIG or EDQUOT for a full disk...).
/// @{

/// @brief Loads the `.ari` file @p path into @p image as EKImage::readFile() does.
///
/// A directory (kIsDirectory), FIFO or socket (kNotRegularFile) is refused before it is
/// opened. A file that is not a whole picture is kBadFormat: "not an .ari format",
/// "invalid picture size in header", "file shorter than its picture", "not a whole .ari
/// picture (it ends inside its header)" or "(it ends inside its pixels)"; an external
/// buffer of another size is kInvalidArgument, "external buffer not compatible".
/// @return success when the whole picture was read and the file closed cleanly
EKVISION_API EKStatus readImageFile(EKImage& image, const std::string& path);

/// @brief Saves @p image as a version 1 `.ari` file, as EKImage::writeFile() does.
/// @return success, kInvalidArgument for a buffer smaller than the picture, or the cause
///   of the failed system call ("cannot write the picture: no space left on the device")
EKVISION_API EKStatus writeImageFile(EKImage& image, const std::string& path);

/// @brief Exports @p image as a binary PPM (P6) file, as EKImage::savePPM() does.
/// @return success, kInvalidArgument for a buffer smaller than the picture, or the cause
///   of the failed system call ("cannot write the PPM picture: no such file")
EKVISION_API EKStatus saveImagePPM(EKImage& image, const std::string& path);
/// @}

}  // namespace EK

#endif  // EKVISION_EKIMAGE_H
