#include "engine/engine_link.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <atomic>
#include <mutex>

#include "engine/method_channel.h"
#include "link_test_support.h"
#include "support/expected_log_lines.h"
#include "support/log_capture.h"

namespace quillon {
namespace {

using test::Bytes;
using test::eventually;
using test::RawEngine;
using test::successValue;

// Appended, not prepended, which GCC 12 at -O3 takes for an overlapping copy.
std::string methodName(int i) { return std::string("m").append(std::to_string(i)); }

// Byte by byte: GCC 12 at -O3 reports false overflows for range inserts into short vectors.
Bytes frame(const Bytes& body) {
  Bytes out;
  link::appendU32(out, static_cast<uint32_t>(body.size()));
  for (uint8_t byte : body) out.push_back(byte);
  return out;
}

// A link whose channel "c" is a method channel answering each call with its
// method's name, and whose channel "held" keeps its replies for the test.
class EngineLinkTest : public testing::Test {
 protected:
  EngineLinkTest() {
    echo_.setMethodCallHandler([this](const MethodCall& call, std::unique_ptr<MethodResult> result) {
      std::lock_guard lock(mutex_);
      seen_.push_back(call.method);
      offLoopThread_ = offLoopThread_ || std::this_thread::get_id() != runner_.loopThread();
      result->success(call.method);
    });
    runner_.link().setMessageHandler("held", [this](BinaryMessage, BinaryReply reply) {
      std::lock_guard lock(mutex_);
      held_.push_back(std::move(reply));
      return std::optional<UndecodableMessage>();
    });
  }
  bool heldCount(size_t count) {
    return eventually([&] {
      std::lock_guard lock(mutex_);
      return held_.size() == count;
    });
  }

  std::mutex mutex_;
  std::vector<std::string> seen_;
  bool offLoopThread_ = false;
  std::vector<BinaryReply> held_;
  test::LinkRunner runner_;
  MethodChannel echo_{runner_.link(), "c"};
};

TEST_F(EngineLinkTest, BadInputIsAnsweredAsDocumentedAndCallsInOrderOnTheLoopThread) {
  test::LogCapture log;
  runner_.link().setUnservedChannelHandler(MethodChannel::unservedChannelHandler());
  RawEngine engine(runner_.path());
  const Bytes undecodable{0x07, 0x05, 'x'};
  engine.write(frame({9, 1, 2, 3}));                                  // unknown kind: skipped
  engine.write(frame({1, 4, 0, 0, 0}));                               // message header cut short
  engine.write(link::encodeMessageFrame(5, "c", undecodable));        // payload not a method call
  engine.write(link::encodeMessageFrame(0, "c", Bytes{0x07}));        // the same without a reply id
  engine.write(link::encodeReplyFrame(77, Bytes{0x00, 0x00}));        // reply nobody waits for
  engine.sendCall(9, "no_such_factory", "anything");                  // not implemented
  engine.write(link::encodeMessageFrame(10, "no_such_factory", undecodable));
  // A burst whose first frames arrive byte by byte, split across reads.
  Bytes burst;
  for (int i = 0; i < 200; ++i) {
    for (uint8_t byte : link::encodeMessageFrame(i % 3 ? 0xA1B2C300 + i : 0, "c",
                                                  StandardCodec::encodeMethodCall({methodName(i), {}}))) {
      burst.push_back(byte);
    }
  }
  for (size_t i = 0; i < 40; ++i) engine.write({burst[i]});
  engine.write(Bytes(burst.begin() + 40, burst.end()));

  auto bad = [](const std::string& message) {
    return StandardCodec::encodeErrorEnvelope("BAD_MESSAGE", message, EncodableValue());
  };
  const std::string notACall = "undecodable method call: string runs past the end at byte 2";
  std::vector<std::pair<uint32_t, Bytes>> expected = {
      {4, bad("malformed message header")}, {5, bad(notACall)}, {9, {}}, {10, bad(notACall)}};
  for (int i = 1; i < 200; ++i) {
    if (i % 3) expected.emplace_back(0xA1B2C300 + i, StandardCodec::encodeSuccessEnvelope(methodName(i)));
  }
  for (const auto& [id, payload] : expected) {
    auto reply = engine.next();
    ASSERT_TRUE(reply && reply->kind == link::kReplyFrame) << "waiting for " << id;
    EXPECT_EQ(reply->replyId, id);
    EXPECT_EQ(reply->payload, payload) << id;
  }
  std::lock_guard lock(mutex_);
  ASSERT_EQ(seen_.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(seen_[i], methodName(i));
  EXPECT_FALSE(offLoopThread_);
  EXPECT_EQ(log.count(std::string(test::log_lines::kUndecodableMessage) + "c (3 bytes): string runs"), 1u);
}

TEST_F(EngineLinkTest, OneEngineAtATimeAndBrokenFramingFreesTheSlot) {
  auto first = std::make_unique<RawEngine>(runner_.path());
  ASSERT_TRUE(eventually([&] { return runner_.link().engineConnected(); }));
  EXPECT_TRUE(RawEngine(runner_.path()).closedByHost());
  first->sendCall(1, "c", "stillServed");
  EXPECT_EQ(successValue(first->next()), EncodableValue("stillServed"));
  first.reset();
  ASSERT_TRUE(eventually([&] { return !runner_.link().engineConnected(); }));

  for (uint32_t badLength : {uint32_t(link::kMaxFrameLength + 1), 0u, 0xFFFFFFFFu}) {
    RawEngine engine(runner_.path());
    Bytes length;
    link::appendU32(length, badLength);
    engine.write(length);
    EXPECT_TRUE(engine.closedByHost()) << badLength;
    ASSERT_TRUE(eventually([&] { return !runner_.link().engineConnected(); }));
  }
  RawEngine next(runner_.path());
  next.sendCall(3, "c", "alive");
  EXPECT_EQ(successValue(next.next()), EncodableValue("alive"));
}

// The host's own calls and their answers are covered by the command line's
// listening (tools.EngineCli).
TEST_F(EngineLinkTest, RepliesGoOutOnceAndOnlyToTheEngineThatAsked) {
  std::atomic<bool> calledWithoutEngine{false};
  runner_.link().sendWithReply("c", StandardCodec::encodeMethodCall({"nobody", {}}),
                               [&](BinaryMessage) { calledWithoutEngine = true; });
  auto engine = std::make_unique<RawEngine>(runner_.path());
  engine->sendCall(1, "held", "a");
  engine->sendCall(2, "held", "b");
  ASSERT_TRUE(heldCount(2));
  // Answered from another thread, the first twice.
  std::thread([&] {
    held_[0](StandardCodec::encodeSuccessEnvelope("first"));
    held_[0](StandardCodec::encodeSuccessEnvelope("again"));
    held_[1](StandardCodec::encodeSuccessEnvelope("second"));
  }).join();
  EXPECT_EQ(successValue(engine->next()), EncodableValue("first"));
  EXPECT_EQ(successValue(engine->next()), EncodableValue("second"));

  engine->sendCall(3, "held", "unanswered");
  ASSERT_TRUE(heldCount(3));
  engine.reset();
  ASSERT_TRUE(eventually([&] { return !runner_.link().engineConnected(); }));
  RawEngine next(runner_.path());
  ASSERT_TRUE(eventually([&] { return runner_.link().engineConnected(); }));
  held_[2](StandardCodec::encodeSuccessEnvelope("stale"));  // must not reach the new engine
  next.sendCall(4, "held", "x");
  ASSERT_TRUE(heldCount(4));
  held_[3](StandardCodec::encodeSuccessEnvelope("fresh"));
  EXPECT_EQ(successValue(next.next()), EncodableValue("fresh"));
  EXPECT_FALSE(calledWithoutEngine);
}

// Senders on several threads (the serial watcher's beside the main thread's)
// into an engine that does not read: none blocks, the queue stays bounded, and
// what was kept arrives in whole frames, each thread's in order. That nothing
// is lost without a stall is checked end to end by the recording's stream
// (integration.test_recording).
TEST(EngineLink, SendsFromManyThreadsToAStalledEngineArriveWholeInOrderAndBounded) {
  test::LinkRunner runner(64 * 1024);
  runner.link().send("native_audio_factory", StandardCodec::encodeMethodCall({"beforeAnyEngine", {}}));
  RawEngine engine(runner.path());
  ASSERT_TRUE(eventually([&] { return runner.link().engineConnected(); }));
  constexpr int kThreads = 4, kEach = 500;
  // Sizes vary so frames straddle the socket buffer at different points.
  auto pad = [](int t, int i) { return EncodableValue(Bytes(size_t(97 * i % 4000), uint8_t(t))); };
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const EncodableMap args{{"t", int32_t{t}}, {"i", int32_t{i}}, {"pad", pad(t, i)}};
        runner.link().send("native_audio_factory", StandardCodec::encodeMethodCall({"onPcmData", args}));
      }
    });
  }
  for (auto& sender : senders) sender.join();
  std::vector<int> last(kThreads, -1);
  int received = 0;
  for (pollfd entry{engine.fd(), POLLIN, 0}; poll(&entry, 1, 2000) > 0; ++received) {
    auto message = engine.next();
    ASSERT_TRUE(message) << "after " << received << " frames";
    auto call = StandardCodec::decodeMethodCall(message->payload);
    ASSERT_TRUE(call && call->method == "onPcmData");
    EXPECT_EQ(message->replyId, 0u);
    EXPECT_EQ(message->channel, "native_audio_factory");
    const int t = static_cast<int>(*call->arguments.find("t")->asInteger());
    const int i = static_cast<int>(*call->arguments.find("i")->asInteger());
    EXPECT_GT(i, last[t]);
    last[t] = i;
    ASSERT_EQ(*call->arguments.find("pad"), pad(t, i));
  }
  EXPECT_GT(received, 0);
  // The queue's 64 KiB and the socket's buffers hold far fewer than a quarter.
  EXPECT_LT(received, kThreads * kEach / 4);
}

TEST(EngineLink, SocketFileModesStaleFilesAndLiveHosts) {
  test::TempDir dir;
  const std::string path = (dir.path() / "made" / "engine.sock").string();
  struct stat st {};
  {
    // A socket file left behind by a host that died.
    ASSERT_EQ(mkdir((dir.path() / "made").c_str(), 0755), 0);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{AF_UNIX, {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
  }
  {
    EngineLink link(path);
    EXPECT_TRUE(link.start());
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(EngineLink(path).start());  // the live host keeps its socket
    EXPECT_EQ(stat(path.c_str(), &st), 0);
  }
  EXPECT_NE(stat(path.c_str(), &st), 0);  // removed on the way out

  EngineLink nested((dir.path() / "a" / "b" / "engine.sock").string());
  ASSERT_TRUE(nested.start());
  ASSERT_EQ(stat((dir.path() / "a" / "b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  const std::string plainFile = (dir.path() / "file").string();
  std::fclose(std::fopen(plainFile.c_str(), "w"));
  EXPECT_FALSE(EngineLink(plainFile).start());
  EXPECT_EQ(stat(plainFile.c_str(), &st), 0);
}

// The context is iterated by the test itself, so the host sees the first
// engine's end of stream and the second engine's arrival in the same wake-up.
TEST(EngineLink, AnEngineThatJustLeftDoesNotShutOutTheNext) {
  test::TempDir dir;
  const std::string path = (dir.path() / "engine.sock").string();
  GMainContext* context = g_main_context_new();
  {
    EngineLink link(path, context);
    ASSERT_TRUE(link.start());
    MethodChannel echo(link, "c");
    echo.setMethodCallHandler([](const MethodCall& call, std::unique_ptr<MethodResult> result) {
      result->success(call.method);
    });
    auto iterateUntil = [&](const std::function<bool()>& done) {
      const auto deadline = std::chrono::steady_clock::now() + test::kPatience;
      while (!done() && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(context, FALSE);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      return done();
    };
    auto first = std::make_unique<RawEngine>(path);
    ASSERT_TRUE(iterateUntil([&] { return link.engineConnected(); }));
    first.reset();
    RawEngine second(path);
    second.sendCall(1, "c", "served");
    EXPECT_TRUE(iterateUntil([&] {
      pollfd entry{second.fd(), POLLIN, 0};
      return poll(&entry, 1, 0) > 0;
    }));
    EXPECT_EQ(successValue(second.next()), EncodableValue("served"));
  }
  g_main_context_unref(context);
}

}  // namespace
}  // namespace quillon
