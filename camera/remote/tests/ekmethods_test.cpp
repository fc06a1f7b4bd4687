// Remote methods: the request and reply messages, then a method server over an ipc:// socket
// in the build directory with the clients a user or an attacker would bring.
#include <ekvideodevice/ekcurvekeys.h>
#include <ekvideodevice/ekmethodclient.h>
#include <ekvideodevice/ekmethodserver.h>
#include <ekvideodevice/ekmethodwire.h>

#include <gtest/gtest.h>
#include <unistd.h>
#include <zmq.hpp>

#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <ekcommon/ekbroker.h>
#include <ekerror/ekerror.h>
#include <ekvision/ekstatus.h>

#include "testmodules.h"

namespace {

using namespace std::chrono_literals;

std::string testPath(const std::string& name) {
  return std::string(EKREMOTE_TEST_DIR) + "/" + name + "-" + std::to_string(::getpid());
}

std::vector<std::uint8_t> packed(std::initializer_list<int> bytes) {
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

TEST(MethodWire, RequestsAndRepliesKeepTheirValues) {
  EK::EKMethodRequest request;
  request.kind = EK::EKMethodRequestKind::kCall;
  request.module = "Calculator";
  request.method = "remember";
  request.arguments.arraySetSize(0);
  EK::EKValue inner;
  inner.arraySetSize(0);
  inner.arrayPush(EK::EKValue(-7));
  inner.arrayPush(EK::EKValue(2.5f));
  inner.arrayPush(EK::EKValue(2.0f));  // a float, though a whole number
  inner.arrayPush(EK::EKValue("\xc3\xa9t\xc3\xa9"));
  inner.arrayPush(EK::EKValue("\x00\x01\xff", 3));
  inner.arrayPush(EK::EKValue());
  request.arguments.arrayPush(EK::EKValue(true));
  request.arguments.arrayPush(inner);
  const std::vector<std::uint8_t> bytes = EK::encodeMethodRequest(request);
  EK::EKMethodRequest read;
  ASSERT_TRUE(EK::decodeMethodRequest(bytes.data(), bytes.size(), read).ok());
  EXPECT_EQ(read.kind, EK::EKMethodRequestKind::kCall);
  EXPECT_EQ(read.module, "Calculator");
  EXPECT_EQ(read.method, "remember");
  EXPECT_EQ(read.arguments.toString(), request.arguments.toString());
  EXPECT_TRUE(read.arguments[1][2].isFloat());
  EXPECT_EQ(read.arguments[1][4].getBinarySize(), 3);

  EK::EKMethodReply failure;
  failure.status = EK::EKStatus(EK::EKCause::kNotFound, "no module named 'x'");
  const std::vector<std::uint8_t> failed = EK::encodeMethodReply(failure);
  EK::EKMethodReply answer;
  ASSERT_TRUE(EK::decodeMethodReply(failed.data(), failed.size(), answer).ok());
  EXPECT_EQ(answer.status.cause(), EK::EKCause::kNotFound);
  EXPECT_EQ(answer.status.message(), "no module named 'x'");
}

TEST(MethodWire, MalformedRequestsAreRefusedNamingWhy) {
  const std::string deep = std::string(20, '\x91') + '\x01';  // lists nested 20 deep
  const struct {
    std::vector<std::uint8_t> bytes;
    const char* words;
  } cases[] = {
      {{}, "0 bytes"},
      {packed({0x92, 0x01}), "not MessagePack of the right shape"},  // cut short
      {packed({0x81, 0xa1, 'k', 0x01}), "map size overflow"},        // a map
      {packed({0x92, 0x02, 0xa4, 'l', 'i', 's', 't'}), "wire version 2, this build reads 1"},
      {packed({0x92, 0x01, 0xa4, 'k', 'i', 'l', 'l'}), "unknown kind 'kill'"},
      {packed({0x93, 0x01, 0xa4, 'c', 'a', 'l', 'l', 0x01}), "a call is [version"},
      {packed(
           {0x95, 0x01, 0xa4, 'c', 'a', 'l', 'l', 0xa1, 'm', 0xa1, 'f', 0x91, 0xce, 0x80, 0, 0, 0}),
       "a whole number beyond 32 bits"},
      {packed({0x95, 0x01, 0xa4, 'c', 'a', 'l', 'l', 0xa1, 'm', 0xa1, 'f', 0x91, 0x80}),
       "a map or an extension"},
      // An array that claims four billion elements, in seven bytes: refused, not allocated.
      {packed({0x92, 0x01, 0xdd, 0xff, 0xff, 0xff, 0xff}), "not MessagePack of the right shape"},
  };
  for (const auto& c : cases) {
    EK::EKMethodRequest request;
    const EK::EKStatus status = EK::decodeMethodRequest(c.bytes.data(), c.bytes.size(), request);
    EXPECT_FALSE(status.ok()) << c.words;
    EXPECT_NE(status.message().find(c.words), std::string::npos) << status.message();
  }
  std::vector<std::uint8_t> nested =
      packed({0x95, 0x01, 0xa4, 'c', 'a', 'l', 'l', 0xa1, 'm', 0xa1, 'f'});
  nested.insert(nested.end(), deep.begin(), deep.end());
  EK::EKMethodRequest request;
  EXPECT_FALSE(EK::decodeMethodRequest(nested.data(), nested.size(), request).ok());
}

// A broker with a Calculator, answered on an ipc:// socket.
class MethodServerTest : public ::testing::Test {
 protected:
  MethodServerTest()
      : broker(new EK::EKBroker("test")),
        calculator(EK::createModule<ektest::Calculator>(broker, "Calculator")) {}

  void start(const std::string& keyFile = "") {
    server = std::make_unique<EK::EKMethodServer>(
        broker, EK::EKMethodServerSettings{endpoint, keyFile}, [this](const std::string& line) {
          std::lock_guard<std::mutex> lock(mutex);
          log.push_back(line);
        });
  }

  std::string endpoint = "ipc://" + testPath("methods");
  boost::shared_ptr<EK::EKBroker> broker;
  boost::shared_ptr<ektest::Calculator> calculator;
  std::unique_ptr<EK::EKMethodServer> server;
  std::mutex mutex;
  std::vector<std::string> log;
};

EK::EKValue arguments(std::initializer_list<EK::EKValue> values) {
  EK::EKValue list;
  list.arraySetSize(0);
  for (const EK::EKValue& value : values) {
    list.arrayPush(value);
  }
  return list;
}

TEST_F(MethodServerTest, CallsAreCheckedAgainstTheMethodsDescription) {
  start();
  EK::EKMethodClient client(endpoint, 3000ms);
  const auto modules = client.list();
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules[0].name, "Calculator");
  ASSERT_GE(modules[0].methods.size(), 1u);
  EXPECT_EQ(modules[0].methods[0].methodName, "twice");
  EXPECT_EQ(modules[0].methods[0].parameters.at(0).typeName, "int");
  EXPECT_EQ(static_cast<int>(client.call("Calculator", "twice", arguments({21}))), 42);
  EXPECT_FALSE(
      client.call("Calculator", "remember", arguments({"key", arguments({1, "two"})})).isValid())
      << "a method that returns nothing answers nothing";
  const struct {
    const char* module;
    const char* method;
    EK::EKValue arguments;
    EK::EKCause cause;
    const char* words;
  } refused[] = {
      {"Nobody", "twice", arguments({1}), EK::EKCause::kNotFound,
       "no module named 'Nobody' here (modules: Calculator)"},
      {"Calculator", "thrice", arguments({1}), EK::EKCause::kNotFound,
       "the module Calculator has no remote method 'thrice'"},
      {"Calculator", "twice", arguments({"one"}), EK::EKCause::kInvalidArgument,
       "argument value of twice is a int, not text"},
      {"Calculator", "twice", arguments({}), EK::EKCause::kInvalidArgument,
       "twice takes 1 argument(s): value; 0 given"},
      {"Calculator", "setFlag", arguments({2.5f}), EK::EKCause::kInvalidArgument,
       "is a bool, not a decimal number"},
      {"Calculator", "fail", arguments({}), EK::EKCause::kUnavailable, "failing on purpose"},
      {"Calculator", "count", arguments({1}), EK::EKCause::kInvalidArgument,
       "count takes 0 argument(s); 1 given"},
  };
  for (const auto& c : refused) {
    try {
      client.call(c.module, c.method, c.arguments);
      ADD_FAILURE() << c.method << " was taken";
    } catch (const EK::EKFailure& failure) {
      EXPECT_EQ(failure.status().cause(), c.cause) << failure.getDescription();
      EXPECT_NE(failure.getDescription().find(c.words), std::string::npos)
          << failure.getDescription();
    }
  }
  // Read through the server, not from the module's memory: the only order between the two
  // threads is the reply, which ZeroMQ carries out of the sanitizer's sight.
  EXPECT_EQ(static_cast<int>(client.call("Calculator", "count", arguments({}))), 1)
      << "a refused call never reaches the module";
}

TEST_F(MethodServerTest, BadClientsAreAnsweredOrDroppedAndTheServerGoesOn) {
  start();
  zmq::context_t context;
  zmq::socket_t rogue(context, zmq::socket_type::dealer);
  rogue.set(zmq::sockopt::linger, 0);
  rogue.connect(endpoint);
  // Garbage, a message in two parts, and one over the size limit (dropped by ZeroMQ).
  (void)rogue.send(zmq::str_buffer("\xc1garbage"), zmq::send_flags::none);
  zmq::message_t reply;
  ASSERT_TRUE(rogue.recv(reply));
  EK::EKMethodReply answer;
  ASSERT_TRUE(EK::decodeMethodReply(reply.data(), reply.size(), answer).ok());
  EXPECT_EQ(answer.status.cause(), EK::EKCause::kBadFormat);
  (void)rogue.send(zmq::str_buffer("a"), zmq::send_flags::sndmore);
  (void)rogue.send(zmq::str_buffer("b"), zmq::send_flags::none);
  ASSERT_TRUE(rogue.recv(reply));
  ASSERT_TRUE(EK::decodeMethodReply(reply.data(), reply.size(), answer).ok());
  EXPECT_NE(answer.status.message().find("2 parts, not 1"), std::string::npos);
  const std::vector<char> huge(EK::kMaxMethodRequestBytes + 1, 'x');
  (void)rogue.send(zmq::buffer(huge), zmq::send_flags::none);
  EK::EKMethodClient client(endpoint, 3000ms);
  EXPECT_EQ(static_cast<int>(client.call("Calculator", "twice", arguments({4}))), 8);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(log.size(), 2u) << "each refused message is logged";
}

TEST_F(MethodServerTest, WithoutTheServersKeyAClientIsRefusedAndNoServerIsATimeOut) {
  const std::string serverKeys = testPath("control.key");
  const std::string clientKeys = testPath("desk.key");
  const std::string wrongKeys = testPath("wrong.key");
  for (const std::string& file : {serverKeys, clientKeys, wrongKeys}) {
    std::filesystem::remove(file);
    std::filesystem::remove(file + ".pub");
  }
  EK::EKCurveKeys server;
  EK::EKCurveKeys desk;
  EK::EKCurveKeys wrong;
  ASSERT_TRUE(EK::writeCurveKeyPair(serverKeys, "", server).ok());
  ASSERT_TRUE(EK::writeCurveKeyPair(clientKeys, server.publicKey, desk).ok());
  // A client that takes another key for the server's.
  ASSERT_TRUE(EK::writeCurveKeyPair(wrongKeys, desk.publicKey, wrong).ok());
  start(serverKeys);
  EK::EKMethodClient allowed(endpoint + "?curve=" + clientKeys, 3000ms);
  EXPECT_EQ(static_cast<int>(allowed.call("Calculator", "twice", arguments({5}))), 10);
  // Without CURVE the handshake fails at once; with a wrong server key the server cannot
  // read the client's greeting: mostly it says nothing, and the client's time-out says
  // that the key may have been refused.
  const struct {
    std::string spec;
    std::chrono::milliseconds timeout;
    const char* words;
  } refused[] = {
      {endpoint, 5000ms, "takes CURVE clients only"},
      {endpoint + "?curve=" + wrongKeys, 500ms, "refused"},
  };
  for (const auto& c : refused) {
    EK::EKMethodClient client(c.spec, c.timeout);
    try {
      client.call("Calculator", "twice", arguments({1}));
      ADD_FAILURE() << c.spec << " was answered";
    } catch (const EK::EKFailure& failure) {
      EXPECT_EQ(failure.status().cause(), EK::EKCause::kUnavailable);
      EXPECT_NE(failure.getDescription().find(c.words), std::string::npos)
          << c.spec << ": " << failure.getDescription();
    }
  }
  // The server's thread logs a refusal when it sees it, which may come after the client's.
  const auto logged = [this] {
    std::lock_guard<std::mutex> lock(mutex);
    return !log.empty();
  };
  for (int wait = 0; wait < 50 && !logged(); ++wait) {
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(logged()) << "the server logs the refused clients";
  this->server.reset();
  EK::EKMethodClient nobody(endpoint, 300ms);
  try {
    nobody.list();
    ADD_FAILURE() << "no server, yet an answer";
  } catch (const EK::EKFailure& failure) {
    EXPECT_EQ(failure.status().cause(), EK::EKCause::kUnavailable);
    EXPECT_NE(failure.getDescription().find("no answer from " + endpoint + " within 300 ms"),
              std::string::npos);
  }
}

}  // namespace
