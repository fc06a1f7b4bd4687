// ekvision convert: a `.ari` picture as PNG or PPM.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideoinspection.h>

#include <ostream>

#include "arguments.h"
#include "picture.h"
#include "tool.h"

namespace ektool {
namespace {

const char kConvertUsage[] =
    "usage: ekvision convert IN.ari OUT.png|OUT.ppm\n"
    "\n"
    "Writes the picture of a .ari file as PNG or PPM, chosen by OUT's extension. YUV422\n"
    "pictures are converted to colour, one-layer pictures written as grey; other color\n"
    "spaces cannot be converted.\n";

}  // namespace

int runConvert(const std::vector<std::string>& args, Output& output) {
  const Arguments arguments = parseArguments(args, {});
  if (arguments.help) {
    output.out << kConvertUsage;
    return 0;
  }
  expectPositional(arguments, {"IN.ari", "OUT"});
  const std::string& input = arguments.positional[0];
  const std::string& target = arguments.positional[1];
  const std::string format = pictureFormatOf(target);
  if (format.empty()) {
    throw UsageError("OUT must end with .png or .ppm: " + target);
  }
  // The cause first: a directory, a FIFO (whose opening would wait for a writer), no
  // permission.
  const std::string problem = EK::videoFileProblem(input, false);
  if (!problem.empty()) {
    throw ToolError("cannot read " + input + ": " + problem);
  }
  EK::EKImage image(0, 0, 0);
  if (!image.readFile(input.c_str())) {
    const std::string reason = lastLibraryMessage();
    throw ToolError("cannot read " + input +
                    (reason.empty() ? ": no such file, or cut short" : ": " + reason));
  }
  savePicture(pictureOf(image), target, format);
  output.out << "wrote " << target << " (" << image.width << "x" << image.height << ")\n";
  return 0;
}

}  // namespace ektool
