// ekvision convert: a `.ari` picture as PNG or PPM.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideoinspection.h>

#include <ostream>

#include <CLI/CLI.hpp>

#include <memory>

#include "commands.h"
#include "picture.h"
#include "tool.h"

namespace ektool {
namespace {

class ConvertCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(
        "Writes the picture of a .ari file as PNG or PPM, chosen by OUT's extension. YUV422 "
        "pictures are converted to colour, one-layer pictures written as grey; other color "
        "spaces cannot be converted.");
    app.add_option("IN.ari", input_, "the picture")->required();
    app.add_option("OUT", target_, "OUT.png or OUT.ppm")->required();
  }

  int run(Output& output) override {
    const std::string format = ekhost::pictureFormatOf(target_);
    if (format.empty()) {
      throw UsageError("OUT must end with .png or .ppm: " + target_);
    }
    // The cause first: a directory, a FIFO (whose opening would wait for a writer), no
    // permission.
    const std::string problem = EK::videoFileProblem(input_, false);
    if (!problem.empty()) {
      throw ToolError("cannot read " + input_ + ": " + problem);
    }
    EK::EKImage image(0, 0, 0);
    if (!image.readFile(input_.c_str())) {
      const std::string reason = lastLibraryMessage();
      throw ToolError("cannot read " + input_ +
                      (reason.empty() ? ": no such file, or cut short" : ": " + reason));
    }
    ekhost::savePicture(ekhost::pictureOf(image), target_, format);
    output.out << "wrote " << target_ << " (" << image.width << "x" << image.height << ")\n";
    return 0;
  }

 private:
  std::string input_;
  std::string target_;
};

}  // namespace

std::unique_ptr<Command> makeConvertCommand() {
  return std::make_unique<ConvertCommand>();
}

}  // namespace ektool
