#include "engine/engine_link.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <optional>

#include "engine/link_frame.h"
#include "engine/link_socket.h"
#include "engine/method_channel.h"
#include "engine/standard_codec.h"
#include "link_test_support.h"
#include "support/expected_log_lines.h"
#include "support/log_capture.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;
using test::eventually;

// An engine on a bare socket that writes any bytes, well formed or not. The
// framing itself is checked against an implementation of its own end to end
// (integration/engine_session.py).
class RawEngine {
 public:
  explicit RawEngine(const std::string& path) : fd_(link::connectToUnixSocket(path, nullptr)) {}
  ~RawEngine() { ::close(fd_); }

  // The socket blocks, so one send takes it all.
  void write(const Bytes& bytes) {
    EXPECT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  void sendCall(uint32_t replyId, const std::string& channel, const std::string& method) {
    write(link::encodeMessageFrame(replyId, channel, StandardCodec::encodeMethodCall({method, {}})));
  }

  // The host's next frame, its payload valid until the next call; nullopt when
  // the host closed (closed_) or nothing came within the patience.
  std::optional<link::Frame> next(int patienceMs = 20'000) {
    body_.clear();
    while (reader_.next(body_, nullptr) == link::FrameReader::Status::kNeedMore) {
      pollfd entry{fd_, POLLIN, 0};
      uint8_t chunk[64 * 1024];
      const ssize_t n = poll(&entry, 1, patienceMs) > 0 ? recv(fd_, chunk, sizeof chunk, 0) : -1;
      closed_ = n == 0;
      if (n <= 0) return std::nullopt;
      reader_.append(chunk, static_cast<size_t>(n));
    }
    link::Frame frame;
    if (body_.empty() || link::parseFrame(body_, frame) != link::ParseResult::kOk) return std::nullopt;
    return frame;
  }
  // True when the host hangs up, having sent nothing, within the patience.
  bool closedByHost() { return !next() && closed_; }

 private:
  int fd_;
  link::FrameReader reader_;
  Bytes body_;
  bool closed_ = false;
};

// The text a reply frame's success carries, or what came instead.
std::string successText(const std::optional<link::Frame>& reply) {
  auto decoded = reply ? StandardCodec::decodeEnvelope(reply->payload) : std::nullopt;
  const auto* success = decoded ? std::get_if<MethodSuccess>(&*decoded) : nullptr;
  return success && success->value.asString() ? *success->value.asString() : "<not a text success>";
}

// Appended, not prepended, which GCC 12 at -O3 takes for an overlapping copy.
std::string methodName(int i) { return std::string("m").append(std::to_string(i)); }

// A link whose channel "c" is a method channel answering each call with its
// method's name, but "forgotten" never and "hold" when the test says.
class EngineLinkTest : public testing::Test {
 protected:
  EngineLinkTest() {
    echo_.setMethodCallHandler([this](const MethodCall& call, std::unique_ptr<MethodResult> result) {
      std::lock_guard lock(mutex_);
      ++handled_;
      offLoopThread_ = offLoopThread_ || std::this_thread::get_id() != runner_.loopThread();
      if (call.method == "hold") {
        held_.push_back(std::move(result));
      } else if (call.method != "forgotten") {
        result->success(call.method);
      }
    });
  }
  bool heldCount(size_t count) {
    return eventually([&] {
      std::lock_guard lock(mutex_);
      return held_.size() == count;
    });
  }

  std::mutex mutex_;
  int handled_ = 0;
  bool offLoopThread_ = false;
  std::vector<std::unique_ptr<MethodResult>> held_;
  test::LinkRunner runner_;
  MethodChannel echo_{runner_.link(), "c"};
};

// Every reply the engine gets, in order: one for a call that wants none
// would show up out of place.
TEST_F(EngineLinkTest, BadInputIsAnsweredAsDocumentedAndCallsInOrderOnTheLoopThread) {
  test::LogCapture log;
  runner_.link().setUnservedChannelHandler(MethodChannel::unservedChannelHandler());
  RawEngine engine(runner_.path());
  const Bytes undecodable{0x07, 0x05, 'x'};
  engine.write({4, 0, 0, 0, 9, 1, 2, 3});                             // unknown kind: skipped
  engine.write({5, 0, 0, 0, 1, 4, 0, 0, 0});                          // message header cut short
  engine.write(link::encodeMessageFrame(5, "c", undecodable));        // payload not a method call
  engine.write(link::encodeMessageFrame(0, "c", Bytes{0x07}));        // the same without a reply id
  engine.write(link::encodeReplyFrame(77, Bytes{0x00, 0x00}));        // reply nobody waits for
  engine.sendCall(9, "no_such_factory", "anything");                  // not implemented
  engine.write(link::encodeMessageFrame(10, "no_such_factory", undecodable));
  engine.sendCall(11, "c", "forgotten");

  auto bad = [](const std::string& message) { return StandardCodec::encodeErrorEnvelope("BAD_MESSAGE", message, {}); };
  const std::string notACall = "undecodable method call: string runs past the end at byte 2";
  std::vector<std::pair<uint32_t, Bytes>> expected = {
      {4, bad("malformed message header")}, {5, bad(notACall)}, {9, {}}, {10, bad(notACall)}};
  // A burst whose first frames arrive byte by byte, split across reads.
  Bytes burst;
  for (int i = 0; i < 200; ++i) {
    const uint32_t id = i % 3 ? 0xA1B2C300 + i : 0;
    const Bytes frame = link::encodeMessageFrame(id, "c", StandardCodec::encodeMethodCall({methodName(i), {}}));
    burst.insert(burst.end(), frame.begin(), frame.end());
    if (id) expected.emplace_back(id, StandardCodec::encodeSuccessEnvelope(methodName(i)));
  }
  for (size_t i = 0; i < 40; ++i) engine.write({burst[i]});
  engine.write(Bytes(burst.begin() + 40, burst.end()));

  for (const auto& [id, payload] : expected) {
    auto reply = engine.next();
    ASSERT_TRUE(reply && reply->kind == link::kReplyFrame) << "waiting for " << id;
    EXPECT_EQ(reply->replyId, id);
    EXPECT_EQ(Bytes(reply->payload.begin(), reply->payload.end()), payload) << id;
  }
  std::lock_guard lock(mutex_);
  EXPECT_EQ(handled_, 201);
  EXPECT_FALSE(offLoopThread_);
  using namespace test::log_lines;
  EXPECT_EQ(log.count(std::string(kUndecodableMessage) + "c (3 bytes): string runs"), 1u);
  EXPECT_EQ(log.count(std::string(kResultError) + "c.forgotten" + std::string(kNeverAnswered)), 1u);
}

TEST_F(EngineLinkTest, OneEngineAtATimeAndOneThatLeftOrBrokeTheFramingFreesTheSlot) {
  // Lengths of 64 MiB + 1, 0 and 4 GiB - 1.
  for (const Bytes& badLength : {Bytes{1, 0, 0, 4}, Bytes{0, 0, 0, 0}, Bytes{0xFF, 0xFF, 0xFF, 0xFF}}) {
    RawEngine engine(runner_.path());
    engine.write(badLength);
    EXPECT_TRUE(engine.closedByHost()) << testing::PrintToString(badLength);
  }
  auto first = std::make_unique<RawEngine>(runner_.path());
  first->sendCall(1, "c", "first");
  EXPECT_EQ(successText(first->next()), "first");
  EXPECT_TRUE(RawEngine(runner_.path()).closedByHost());
  // The first's end of stream, not yet read, as the next engine connects (a
  // script running one command after another).
  std::unique_ptr<RawEngine> next;
  runner_.runOnLoop([&] {
    first.reset();
    next = std::make_unique<RawEngine>(runner_.path());
  });
  next->sendCall(2, "c", "next");
  EXPECT_EQ(successText(next->next()), "next");
}

// Answers given later, off the loop thread (as the serial exchanges give
// theirs), go out once and only to the engine that asked; what the host sends
// while no engine is connected is not kept for the next one.
TEST_F(EngineLinkTest, RepliesGoOutOnceAndOnlyToTheEngineThatAsked) {
  test::LogCapture log;
  runner_.link().send("c", StandardCodec::encodeMethodCall({"nobody", {}}));
  auto engine = std::make_unique<RawEngine>(runner_.path());
  for (uint32_t id = 1; id <= 3; ++id) engine->sendCall(id, "c", "hold");
  ASSERT_TRUE(heldCount(3));
  held_[0]->success("first");
  held_[0]->success("again");
  held_[1]->success("second");
  EXPECT_EQ(successText(engine->next()), "first");
  EXPECT_EQ(successText(engine->next()), "second");
  engine.reset();
  ASSERT_TRUE(eventually([&] { return !runner_.link().engineConnected(); }));
  RawEngine next(runner_.path());
  ASSERT_TRUE(eventually([&] { return runner_.link().engineConnected(); }));
  held_[2]->success("stale");
  next.sendCall(4, "c", "hold");
  ASSERT_TRUE(heldCount(4));
  held_[3]->success("fresh");
  EXPECT_EQ(successText(next.next()), "fresh");
  using namespace test::log_lines;
  EXPECT_EQ(log.count(std::string(kResultError) + "c.hold" + std::string(kAnsweredTwice)), 1u) << log.text();
}

// Senders on several threads (the serial watcher's beside the main thread's)
// into an engine that does not read: none blocks, the queue stays bounded, and
// what was kept arrives in whole frames, each thread's in order. That nothing
// is lost without a stall is checked end to end by the recording's stream
// (integration.test_recording).
TEST(EngineLink, SendsFromManyThreadsToAStalledEngineArriveWholeInOrderAndBounded) {
  test::LinkRunner runner(64 * 1024);
  RawEngine engine(runner.path());
  ASSERT_TRUE(eventually([&] { return runner.link().engineConnected(); }));
  constexpr int kThreads = 4, kEach = 500;
  // Sizes vary so frames straddle the socket buffer at different points.
  auto message = [](int t, int i) {
    const EncodableList args{int32_t{t}, int32_t{i}, Bytes(size_t(97 * i % 4000), uint8_t(t))};
    return StandardCodec::encodeMethodCall({"onPcmData", args});
  };
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) runner.link().send("native_audio_factory", message(t, i));
    });
  }
  for (auto& sender : senders) sender.join();
  std::vector<int> last(kThreads, -1);
  int received = 0;
  for (std::optional<link::Frame> frame; (frame = engine.next(2000)); ++received) {
    auto call = frame ? StandardCodec::decodeMethodCall(frame->payload) : std::nullopt;
    const auto* args = call ? call->arguments.asList() : nullptr;
    ASSERT_TRUE(args && frame->replyId == 0 && frame->channel == "native_audio_factory") << "after " << received;
    const int t = static_cast<int>(args->at(0).asInteger().value());
    const int i = static_cast<int>(args->at(1).asInteger().value());
    EXPECT_GT(i, last.at(t));
    last[t] = i;
    ASSERT_EQ(Bytes(frame->payload.begin(), frame->payload.end()), message(t, i));
  }
  EXPECT_GT(received, 0);
  // The queue's 64 KiB and the socket's buffers hold far fewer than a quarter.
  EXPECT_LT(received, kThreads * kEach / 4);
}

TEST(EngineLink, SocketFileModesStaleFilesAndLiveHosts) {
  using std::filesystem::perms;
  test::TempDir dir;
  const auto path = dir.path() / "engine.sock";
  ASSERT_EQ(close(link::listenOnUnixSocket(path, nullptr)), 0);  // left behind by a host that died
  EngineLink link(path);
  EXPECT_TRUE(link.start());
  EXPECT_EQ(std::filesystem::status(path).permissions(), perms::owner_read | perms::owner_write);
  EXPECT_FALSE(EngineLink(path).start());  // the live host keeps its socket
  EXPECT_TRUE(std::filesystem::is_socket(path));

  EngineLink nested(dir.path() / "a" / "b" / "engine.sock");
  ASSERT_TRUE(nested.start());
  EXPECT_EQ(std::filesystem::status(dir.path() / "a" / "b").permissions(), perms::owner_all);

  const auto plainFile = dir.path() / "file";
  std::fclose(std::fopen(plainFile.c_str(), "w"));
  EXPECT_FALSE(EngineLink(plainFile).start());
  EXPECT_TRUE(std::filesystem::is_regular_file(plainFile));
}

}  // namespace
}  // namespace quillon
