#include "engine/engine_link.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <mutex>

#include "engine/link_frame.h"
#include "engine/method_channel.h"
#include "link_test_support.h"
#include "support/expected_log_lines.h"

namespace quillon {
namespace {

using test::answering;
using test::Bytes;
using test::eventually;
using test::LinkRunner;
using test::RawEngine;

void installEcho(EngineLink& link, const std::string& channel) {
  link.setMessageHandler(channel, answering([](BinaryMessage message, BinaryReply reply) {
                           auto call = StandardCodec::decodeMethodCall(message);
                           reply(StandardCodec::encodeSuccessEnvelope(call->method));
                         }));
}

EncodableValue successValue(const std::optional<RawEngine::Reply>& reply) {
  if (!reply) return "<no reply>";
  auto decoded = StandardCodec::decodeEnvelope(reply->payload);
  if (!decoded || !std::holds_alternative<MethodSuccess>(*decoded)) return "<not a success>";
  return std::get<MethodSuccess>(*decoded).value;
}

// Appended, not prepended, which GCC 12 at -O3 takes for an overlapping copy.
std::string methodName(int i) { return std::string("m").append(std::to_string(i)); }

struct HostMessage {
  uint8_t kind;
  uint32_t replyId;
  std::string channel;
  std::optional<MethodCall> call;
};

// The next frame from the host, as the project's own parser reads it.
std::optional<HostMessage> readMessage(RawEngine& engine) {
  auto body = engine.readFrame();
  link::Frame frame;
  if (!body || link::parseFrame(*body, frame) != link::ParseResult::kOk) return std::nullopt;
  return HostMessage{frame.kind, frame.replyId, frame.channel, StandardCodec::decodeMethodCall(frame.payload)};
}

TEST(EngineLink, FramesAreAnsweredByTheirReplyIdsOrSkipped) {
  test::LogCapture log;
  LinkRunner runner;
  ASSERT_TRUE(runner.started());
  std::atomic<int> handled{0};
  // Reads its calls as a method channel does, reporting what does not decode.
  runner.link().setMessageHandler("c", [&](BinaryMessage message, BinaryReply reply) -> std::optional<UndecodableMessage> {
    auto call = StandardCodec::decodeMethodCall(message);
    if (!call) return UndecodableMessage{"unreadable"};
    ++handled;
    reply(StandardCodec::encodeSuccessEnvelope(call->method));
    return std::nullopt;
  });
  runner.link().setUnservedChannelHandler(MethodChannel::unservedChannelHandler());
  RawEngine engine(runner.path());
  ASSERT_TRUE(engine.connected());
  engine.sendCall(0, "c", "noReplyWanted");
  engine.write(RawEngine::frame({9, 1, 2, 3}));                  // unknown kind: skipped
  engine.write(RawEngine::frame({1, 4, 0, 0, 0}));               // message header cut short
  engine.write(RawEngine::message(5, "c", {0x07, 0x05, 'x'}));   // payload does not decode
  engine.write(RawEngine::message(0, "c", {0x07}));              // the same without a reply id
  engine.write(RawEngine::frame({2, 77, 0, 0, 0, 0x00, 0x00}));  // reply nobody waits for
  engine.sendCall(9, "no_such_factory", "anything");
  engine.write(RawEngine::message(10, "no_such_factory", {0x07, 0x05, 'x'}));
  engine.sendCall(0xA1B2C3D4, "c", "hello");

  auto badMessage = [](const std::string& message) {
    return StandardCodec::encodeErrorEnvelope("BAD_MESSAGE", message, EncodableValue());
  };
  const std::vector<std::pair<uint32_t, Bytes>> expected = {
      {4, badMessage("malformed message header")},
      {5, badMessage("undecodable method call: unreadable")},
      {9, {}},  // not implemented
      {10, badMessage("undecodable method call: string runs past the end at byte 2")},
  };
  for (const auto& [id, payload] : expected) {
    auto reply = engine.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->id, id);
    EXPECT_EQ(reply->payload, payload) << id;
  }
  auto reply = engine.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->id, 0xA1B2C3D4u);
  EXPECT_EQ(successValue(reply), EncodableValue("hello"));
  EXPECT_EQ(handled, 2);
  EXPECT_TRUE(runner.link().engineConnected());
  EXPECT_EQ(log.count(std::string(test::log_lines::kUndecodableMessage) + "c (3 bytes): unreadable"), 1u);
}

TEST(EngineLink, MessagesAreHandledOnTheLoopThreadInArrivalOrder) {
  LinkRunner runner;
  std::mutex mutex;
  std::vector<std::string> seen;
  std::atomic<bool> offThread{false};
  runner.link().setMessageHandler("native_test_factory", answering([&](BinaryMessage message, BinaryReply reply) {
    if (std::this_thread::get_id() != runner.loopThread()) offThread = true;
    std::lock_guard lock(mutex);
    seen.push_back(StandardCodec::decodeMethodCall(message)->method);
    reply({});
  }));
  RawEngine engine(runner.path());
  Bytes burst;
  for (int i = 0; i < 200; ++i) {
    auto frame = RawEngine::call(i % 3 == 0 ? 0 : i, "native_test_factory", methodName(i));
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  // Byte by byte for the first frames, so frames split across reads are covered too.
  for (size_t i = 0; i < 40; ++i) engine.write({burst[i]});
  engine.write(Bytes(burst.begin() + 40, burst.end()));
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(mutex);
    return seen.size() == 200;
  }));
  for (int i = 0; i < 200; ++i) EXPECT_EQ(seen[i], methodName(i));
  EXPECT_FALSE(offThread);
}

TEST(EngineLink, OneEngineAtATimeAndBrokenFramingFreesTheSlot) {
  LinkRunner runner;
  installEcho(runner.link(), "c");
  auto first = std::make_unique<RawEngine>(runner.path());
  ASSERT_TRUE(eventually([&] { return runner.link().engineConnected(); }));
  RawEngine second(runner.path());
  EXPECT_TRUE(second.closedByHost());
  first->sendCall(1, "c", "stillServed");
  EXPECT_EQ(successValue(first->readReply()), EncodableValue("stillServed"));
  first.reset();
  ASSERT_TRUE(eventually([&] { return !runner.link().engineConnected(); }));

  for (uint32_t badLength : {uint32_t(link::kMaxFrameLength + 1), 0u, 0xFFFFFFFFu}) {
    RawEngine engine(runner.path());
    engine.write(RawEngine::le32(badLength));
    EXPECT_TRUE(engine.closedByHost()) << badLength;
    ASSERT_TRUE(eventually([&] { return !runner.link().engineConnected(); }));
  }
  RawEngine next(runner.path());
  next.sendCall(3, "c", "alive");
  EXPECT_EQ(successValue(next.readReply()), EncodableValue("alive"));
}

TEST(EngineLink, RepliesGoOutOnceAndNotAfterTheEngineLeft) {
  LinkRunner runner;
  std::mutex mutex;
  std::vector<BinaryReply> held;
  runner.link().setMessageHandler("c", answering([&](BinaryMessage, BinaryReply reply) {
    std::lock_guard lock(mutex);
    held.push_back(std::move(reply));
  }));
  auto heldCount = [&](size_t count) {
    return eventually([&] {
      std::lock_guard lock(mutex);
      return held.size() == count;
    });
  };
  auto engine = std::make_unique<RawEngine>(runner.path());
  engine->sendCall(1, "c", "a");
  engine->sendCall(2, "c", "b");
  ASSERT_TRUE(heldCount(2));
  // Answered from another thread, the first twice.
  std::thread([&] {
    held[0](StandardCodec::encodeSuccessEnvelope("first"));
    held[0](StandardCodec::encodeSuccessEnvelope("again"));
    held[1](StandardCodec::encodeSuccessEnvelope("second"));
  }).join();
  EXPECT_EQ(successValue(engine->readReply()), EncodableValue("first"));
  EXPECT_EQ(successValue(engine->readReply()), EncodableValue("second"));

  engine->sendCall(3, "c", "unanswered");
  ASSERT_TRUE(heldCount(3));
  engine.reset();
  ASSERT_TRUE(eventually([&] { return !runner.link().engineConnected(); }));
  RawEngine next(runner.path());
  ASSERT_TRUE(eventually([&] { return runner.link().engineConnected(); }));
  held[2](StandardCodec::encodeSuccessEnvelope("stale"));  // must not reach the new engine
  next.sendCall(4, "c", "x");
  ASSERT_TRUE(heldCount(4));
  held[3](StandardCodec::encodeSuccessEnvelope("fresh"));
  auto reply = next.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->id, 4u);
}

TEST(EngineLink, SendsFromManyThreadsArriveAsWholeFrames) {
  LinkRunner runner;
  runner.link().send("native_audio_factory", StandardCodec::encodeMethodCall({"beforeAnyEngine", {}}));
  RawEngine engine(runner.path());
  ASSERT_TRUE(eventually([&] { return runner.link().engineConnected(); }));

  constexpr int kThreads = 4, kEach = 150;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&runner, t] {
      for (int i = 0; i < kEach; ++i) {
        // Sizes vary so frames straddle the socket buffer at different points.
        EncodableMap args{{"t", int32_t{t}}, {"i", int32_t{i}}, {"pad", Bytes(size_t(97 * i % 4000), uint8_t(t))}};
        runner.link().send("native_audio_factory", StandardCodec::encodeMethodCall({"onPcmData", args}));
      }
    });
  }
  std::vector<int> next(kThreads, 0);
  for (int received = 0; received < kThreads * kEach; ++received) {
    auto message = readMessage(engine);
    ASSERT_TRUE(message && message->call) << "after " << received << " frames";
    EXPECT_EQ(message->kind, link::kMessageFrame);
    EXPECT_EQ(message->replyId, 0u);
    EXPECT_EQ(message->channel, "native_audio_factory");
    ASSERT_EQ(message->call->method, "onPcmData");
    const int t = static_cast<int>(*message->call->arguments.find("t")->asInteger());
    const int i = next[t]++;
    EXPECT_EQ(*message->call->arguments.find("i")->asInteger(), i);
    ASSERT_EQ(*message->call->arguments.find("pad"), EncodableValue(Bytes(size_t(97 * i % 4000), uint8_t(t))));
  }
  for (auto& sender : senders) sender.join();
}

TEST(EngineLink, SendWithReplyDeliversTheEnginesAnswerOnTheLoopThread) {
  LinkRunner runner;
  std::atomic<bool> calledWhileDisconnected{false};
  runner.link().sendWithReply("c", StandardCodec::encodeMethodCall({"nobody", {}}),
                              [&](BinaryMessage) { calledWhileDisconnected = true; });
  RawEngine engine(runner.path());
  ASSERT_TRUE(eventually([&] { return runner.link().engineConnected(); }));

  std::mutex mutex;
  std::optional<Bytes> answer;
  std::thread::id answeredOn;
  runner.link().sendWithReply("native_application_factory", StandardCodec::encodeMethodCall({"menuOnExit", {}}),
                              [&](BinaryMessage reply) {
                                std::lock_guard lock(mutex);
                                answer = reply;
                                answeredOn = std::this_thread::get_id();
                              });
  auto message = readMessage(engine);
  ASSERT_TRUE(message && message->call);
  EXPECT_EQ(message->call->method, "menuOnExit");
  ASSERT_NE(message->replyId, 0u);
  Bytes replyBody = RawEngine::le32(message->replyId);
  replyBody.insert(replyBody.begin(), 2);
  replyBody.insert(replyBody.end(), {0x00, 0x01});
  engine.write(RawEngine::frame(replyBody));

  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(mutex);
    return answer.has_value();
  }));
  std::lock_guard lock(mutex);
  EXPECT_EQ(*answer, Bytes({0x00, 0x01}));
  EXPECT_EQ(answeredOn, runner.loopThread());
  EXPECT_FALSE(calledWhileDisconnected);
}

TEST(EngineLink, AStalledEngineNeitherBlocksSendersNorGrowsTheQueueWithoutBound) {
  LinkRunner runner(64 * 1024);
  RawEngine engine(runner.path());
  ASSERT_TRUE(eventually([&] { return runner.link().engineConnected(); }));
  constexpr int kSent = 2000;
  const auto payload = StandardCodec::encodeMethodCall({"onPcmData", EncodableMap{{"data", Bytes(4096, 1)}}});
  for (int i = 0; i < kSent; ++i) runner.link().send("native_audio_factory", payload);  // must not block

  // Whatever was kept arrives whole; the rest was dropped rather than queued.
  int received = 0;
  for (;;) {
    pollfd entry{engine.fd(), POLLIN, 0};
    if (poll(&entry, 1, 2000) <= 0) break;
    auto message = readMessage(engine);
    ASSERT_TRUE(message && message->call);
    ++received;
  }
  EXPECT_GT(received, 0);
  EXPECT_LT(received, kSent);
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
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
  }
  {
    EngineLink link(path);
    EXPECT_TRUE(link.start());
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EngineLink rival(path);
    EXPECT_FALSE(rival.start());  // the live host keeps its socket
    EXPECT_EQ(stat(path.c_str(), &st), 0);
  }
  EXPECT_NE(stat(path.c_str(), &st), 0);  // removed on the way out

  const std::string nested = (dir.path() / "a" / "b" / "engine.sock").string();
  EngineLink link(nested);
  ASSERT_TRUE(link.start());
  ASSERT_EQ(stat((dir.path() / "a" / "b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  const std::string plainFile = (dir.path() / "file").string();
  std::fclose(std::fopen(plainFile.c_str(), "w"));
  EngineLink notASocket(plainFile);
  EXPECT_FALSE(notASocket.start());
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
    installEcho(link, "c");
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

    std::optional<RawEngine::Reply> reply;
    std::atomic<bool> readerDone{false};
    std::thread reader([&] {
      reply = second.readReply();
      readerDone = true;
    });
    iterateUntil([&] { return readerDone.load(); });
    reader.join();
    EXPECT_EQ(successValue(reply), EncodableValue("served"));
  }
  g_main_context_unref(context);
}

}  // namespace
}  // namespace quillon
