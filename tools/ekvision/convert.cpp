// ekvision convert: a `.ari` picture as PNG or PPM.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideoinspection.h>

#include <ostream>

#include <CLI/CLI.hpp>

#include <memory>

#include "commands.h"
#include "host.h"
#include "pathguard.h"
#include "picture.h"
#include "recording.h"
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
    ekhost::requireReadableFile(input_);
    ekhost::refuseOverwrites({{input_, "the picture that IN.ari names"}}, {{target_, "OUT"}});
    EK::EKImage image(0, 0, 0);
    const EK::EKStatus read = EK::readImageFile(image, input_);
    if (!read.ok()) {
      throw ekhost::HostError(ekhost::readFailure(input_, read));
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
