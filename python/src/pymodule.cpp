// ekvision._ekvision: the C++ half of the Python package ekvision. The package's Python
// modules build the public classes (Recording, Frame, Picture) on top of it.
#include <pybind11/pybind11.h>

#include <ekvision/ekvisiondefinitions.h>

#include "pybindings.h"
#include "pyerrors.h"
#ifdef EKVISION_PYTHON_CAMERAS
#include "pyvisionmodule.h"
#endif

namespace py = pybind11;

PYBIND11_MODULE(_ekvision, module) {
  module.doc() = "libekvision's recordings, pictures and conversions on numpy arrays";
  py::object formatError = py::reinterpret_steal<py::object>(
      PyErr_NewExceptionWithDoc("ekvision.FormatError",
                                "A file that is there and readable but is not a whole .arv "
                                "recording or .ari picture; an OSError without errno.",
                                PyExc_OSError, nullptr));
  if (!formatError) {
    throw py::error_already_set();
  }
  module.attr("FormatError") = formatError;
  ekpy::setFormatErrorType(formatError);
  module.def("_layers", &EK::getNumLayersInColorSpace, py::arg("color_space"),
             "Bytes a pixel of a color-space code; -1 for an invalid code.");
  ekpy::bindConversions(module);
  ekpy::bindPictures(module);
  ekpy::bindRecordings(module);
#ifdef EKVISION_PYTHON_CAMERAS
  ekpy::bindCameras(module);
  ekpy::bindVisionModules(module);
  ekpy::bindModuleRuns(module);
#endif
  ekpy::bindLog(module);
}
