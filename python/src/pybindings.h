// The parts of the extension module ekvision._ekvision, each adding its functions.
#ifndef EKVISION_PYTHON_PYBINDINGS_H
#define EKVISION_PYTHON_PYBINDINGS_H

#include <pybind11/pybind11.h>

namespace ekpy {

/// yuv422_to_bgr, bgr_to_yuv422, yuv422_to_yyyyuuvv, yuv422_to_yyyuuuvvv.
void bindConversions(pybind11::module_& module);
/// read_picture, save_picture, save_ppm.
void bindPictures(pybind11::module_& module);
/// The reader and writer of recordings (_Reader, _Writer).
void bindRecordings(pybind11::module_& module);
/// Cameras of any SPEC (_Camera) and remote methods (_call, _list_methods).
void bindCameras(pybind11::module_& module);

}  // namespace ekpy

#endif  // EKVISION_PYTHON_PYBINDINGS_H
