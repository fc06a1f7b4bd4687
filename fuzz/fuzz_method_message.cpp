// Fuzzes the decoders of remote-method requests (what any client may send a host that runs
// with --control) and replies (what a client reads back). A message that is accepted must
// come out of its encoder as a message that decodes to the same thing.
#include <cstdint>

#include <ekvideodevice/ekmethodwire.h>

#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EK::EKMethodRequest request;
  if (EK::decodeMethodRequest(data, size, request).ok()) {
    const std::vector<std::uint8_t> again = EK::encodeMethodRequest(request);
    EK::EKMethodRequest reread;
    ekfuzz::check(EK::decodeMethodRequest(again.data(), again.size(), reread).ok());
    ekfuzz::check(reread.kind == request.kind && reread.module == request.module &&
                  reread.method == request.method &&
                  reread.arguments.toString() == request.arguments.toString());
  }
  EK::EKMethodReply reply;
  const EK::EKStatus status = EK::decodeMethodReply(data, size, reply);
  if (!status.ok()) {
    ekfuzz::check(!status.message().empty());
    return 0;
  }
  const std::vector<std::uint8_t> again = EK::encodeMethodReply(reply);
  EK::EKMethodReply reread;
  ekfuzz::check(EK::decodeMethodReply(again.data(), again.size(), reread).ok());
  ekfuzz::check(reread.status.cause() == reply.status.cause() &&
                reread.status.message() == reply.status.message() &&
                reread.isList == reply.isList && reread.modules.size() == reply.modules.size() &&
                reread.result.toString() == reply.result.toString());
  return 0;
}
