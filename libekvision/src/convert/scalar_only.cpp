// Placeholder scalar kernels, replaced by the dispatched vector kernels.
#include "ekconvert.h"

namespace EK {
namespace convert {
namespace {

unsigned char clampByte(int value) {
  return static_cast<unsigned char>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

}  // namespace

void yuv422ToBgr(const unsigned char* yuv, unsigned char* bgr, std::size_t pairs) {
  for (std::size_t k = 0; k < pairs; ++k, yuv += 4) {
    const int u = yuv[1] - 128;
    const int v = yuv[3] - 128;
    for (int i = 0; i < 2; ++i) {
      const int y = 298 * (yuv[2 * i] - 16);
      *bgr++ = clampByte((y + 517 * u) >> 8);
      *bgr++ = clampByte((y - 100 * u - 208 * v) >> 8);
      *bgr++ = clampByte((y + 409 * v) >> 8);
    }
  }
}

void yuv422ToYYYYUUVV(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                      unsigned char* v, std::size_t pairs) {
  for (std::size_t k = 0; k < pairs; ++k, yuv += 4) {
    y[2 * k] = yuv[0];
    y[2 * k + 1] = yuv[2];
    u[k] = yuv[1];
    v[k] = yuv[3];
  }
}

void yuv422ToYYYUUUVVV(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                       unsigned char* v, std::size_t pairs) {
  for (std::size_t k = 0; k < pairs; ++k, yuv += 4) {
    y[2 * k] = yuv[0];
    y[2 * k + 1] = yuv[2];
    u[2 * k] = u[2 * k + 1] = yuv[1];
    v[2 * k] = v[2 * k + 1] = yuv[3];
  }
}

void bgrToYuv422(const unsigned char* bgr, unsigned char* yuv, std::size_t pairs) {
  for (std::size_t k = 0; k < pairs; ++k, bgr += 6, yuv += 4) {
    const int b0 = bgr[0], g0 = bgr[1], r0 = bgr[2], b1 = bgr[3], g1 = bgr[4], r1 = bgr[5];
    yuv[0] = static_cast<unsigned char>((2104 * r0 + 4130 * g0 + 802 * b0 + 131072) >> 13);
    yuv[1] = static_cast<unsigned char>((-1214 * r0 - 2384 * g0 + 3598 * b0 + 1048576) >> 13);
    yuv[2] = static_cast<unsigned char>((2104 * r1 + 4130 * g1 + 802 * b1 + 131072) >> 13);
    yuv[3] = static_cast<unsigned char>((3598 * r0 - 3013 * g0 - 585 * b0 + 1048576) >> 13);
  }
}

void yuvToRgbPixel(unsigned char* y, unsigned char* u, unsigned char* v) {
  const float yp = static_cast<float>(*y - 16);
  const float up = static_cast<float>(*u - 128);
  const float vp = static_cast<float>(*v - 128);
  const float l = 1.164f * yp;
  const float red = 1.596f * vp + l;
  const float green = l - 0.391f * up - 0.813f * vp;
  const float blue = 2.018f * up + l;
  *y = clampByte(static_cast<int>(red));
  *u = clampByte(static_cast<int>(green));
  *v = clampByte(static_cast<int>(blue));
}

}  // namespace convert
}  // namespace EK
