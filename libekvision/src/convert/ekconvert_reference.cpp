// Scalar conversions: the formulas as written, the fallback of every dispatcher and the oracle
// of the tests. Keep them obvious rather than fast.
#include "ekconvert.h"

namespace EK::convert {
namespace {

unsigned char clampToByte(int value) {
  return static_cast<unsigned char>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// `>>` on a negative int is an arithmetic shift with every compiler the library supports (and by
// definition since C++20), so it rounds toward minus infinity as the formulas require.
void yuvToBgr(int y, int u, int v, unsigned char* bgr) {
  const int luma = 298 * (y - 16);
  const int du = u - 128;
  const int dv = v - 128;
  bgr[0] = clampToByte((luma + 517 * du) >> 8);
  bgr[1] = clampToByte((luma - 100 * du - 208 * dv) >> 8);
  bgr[2] = clampToByte((luma + 409 * dv) >> 8);
}

unsigned char lumaFromBgr(const unsigned char* bgr) {
  return static_cast<unsigned char>((2104 * bgr[2] + 4130 * bgr[1] + 802 * bgr[0] + 131072) >> 13);
}

}  // namespace

namespace reference {

void yuv422ToBgr(const unsigned char* yuv, unsigned char* bgr, std::size_t pairs) {
  for (std::size_t k = 0; k < pairs; ++k, yuv += 4, bgr += 6) {
    yuvToBgr(yuv[0], yuv[1], yuv[3], bgr);
    yuvToBgr(yuv[2], yuv[1], yuv[3], bgr + 3);
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
    const int b = bgr[0];
    const int g = bgr[1];
    const int r = bgr[2];
    yuv[0] = lumaFromBgr(bgr);
    yuv[1] = static_cast<unsigned char>((-1214 * r - 2384 * g + 3598 * b + 1048576) >> 13);
    yuv[2] = lumaFromBgr(bgr + 3);
    yuv[3] = static_cast<unsigned char>((3598 * r - 3013 * g - 585 * b + 1048576) >> 13);
  }
}

}  // namespace reference

void yuvToRgbPixel(unsigned char* y, unsigned char* u, unsigned char* v) {
  const float luma = 1.164f * static_cast<float>(*y - 16);
  const float du = static_cast<float>(*u - 128);
  const float dv = static_cast<float>(*v - 128);
  const float red = 1.596f * dv + luma;
  const float green = luma - 0.391f * du - 0.813f * dv;
  const float blue = 2.018f * du + luma;
  // The float-to-int conversion truncates toward zero; every value fits an int.
  *y = clampToByte(static_cast<int>(red));
  *u = clampToByte(static_cast<int>(green));
  *v = clampToByte(static_cast<int>(blue));
}

}  // namespace EK::convert
