// ekvision keys: a CURVE key pair for a frame server or one of its clients.
#include <ekvideodevice/ekcurvekeys.h>

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>

#include "commands.h"

namespace ektool {
namespace {

const char kKeysDescription[] =
    "Writes a new CURVE key pair to OUT (mode 0600: it holds the secret key) and its public "
    "key alone to OUT.pub. A server's OUT is what 'ekvision serve --curve OUT' takes; a "
    "client's OUT, made with --server SERVER.pub, is what 'SPEC?curve=OUT' takes. Never "
    "overwrites a file.";

const char kKeysFooter[] =
    "To let in only some clients, add each client's public key to the server's key file as\n"
    "a line 'client = KEY' (the 'public = KEY' line of the client's OUT.pub).";

class KeysCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(kKeysDescription);
    app.footer(kKeysFooter);
    app.add_option("OUT", out_, "the key file to write")->required();
    app.add_option("--server", serverFile_,
                   "the server's public key file (its OUT.pub): makes OUT a client's key file")
        ->type_name("SERVER.pub");
  }

  int run(Output& output) override {
    std::string serverKey;
    if (serverFile_) {
      EK::EKCurveKeys server;
      check(EK::readCurveKeys(*serverFile_, EK::EKKeyFileUse::kPublicOnly, server));
      serverKey = server.publicKey;
    }
    EK::EKCurveKeys keys;
    check(EK::writeCurveKeyPair(out_, serverKey, keys));
    output.out << "wrote " << (serverFile_ ? "a client's" : "a") << " key pair to " << out_
               << " and its public key to " << out_ << ".pub: " << keys.publicKey << "\n";
    return 0;
  }

 private:
  std::string out_;
  std::optional<std::string> serverFile_;
};

}  // namespace

std::unique_ptr<Command> makeKeysCommand() {
  return std::make_unique<KeysCommand>();
}

}  // namespace ektool
