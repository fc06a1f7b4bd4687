// Internal: pixel-layout conversion kernels (placeholder until the vector kernels land).
#ifndef EKVISION_SRC_CONVERT_EKCONVERT_H
#define EKVISION_SRC_CONVERT_EKCONVERT_H

#include <cstddef>

namespace EK {
namespace convert {

void yuv422ToBgr(const unsigned char* yuv, unsigned char* bgr, std::size_t pairs);
void yuv422ToYYYYUUVV(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                      unsigned char* v, std::size_t pairs);
void yuv422ToYYYUUUVVV(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                       unsigned char* v, std::size_t pairs);
void bgrToYuv422(const unsigned char* bgr, unsigned char* yuv, std::size_t pairs);
void yuvToRgbPixel(unsigned char* y, unsigned char* u, unsigned char* v);

}  // namespace convert
}  // namespace EK

#endif  // EKVISION_SRC_CONVERT_EKCONVERT_H
