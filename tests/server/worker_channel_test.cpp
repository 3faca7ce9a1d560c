// The page thread's side of a connection, over a socket pair: reads that wait
// for the client, sends into a full socket, the read and write limits, the
// page's clock and the server's stop ending a wait, signals during a wait,
// and the check for a client that has gone.
#include "server/worker_channel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "basics/hresult.h"
#include "support/thrown_error.h"

namespace torvane::server {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using test::ThrownError;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr TransferLimits kGenerous{30, 0, 30, 0};

// One connection: `mine` is the server's end (the channel's), `peer` the client's.
struct SocketPair {
  int mine = -1, peer = -1;
  SocketPair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
      mine = fds[0];
      peer = fds[1];
    }
  }
  ~SocketPair() {
    if (mine >= 0) ::close(mine);
    ClosePeer();
  }
  void ClosePeer() {
    if (peer >= 0) ::close(peer);
    peer = -1;
  }
  // Everything the peer can read now (without waiting).
  std::string PeerTakes() {
    std::string got;
    char buf[65536];
    ssize_t n;
    while ((n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT)) > 0) got.append(buf, static_cast<size_t>(n));
    return got;
  }
};

// One loopback TCP connection (TCP_CORK needs TCP): `mine` the server's end.
struct TcpPair {
  int listener = -1, mine = -1, peer = -1;
  TcpPair() {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    peer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (peer >= 0 && ::connect(peer, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
      mine = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  }
  ~TcpPair() {
    for (int fd : {listener, mine, peer})
      if (fd >= 0) ::close(fd);
  }
  bool Corked() const {
    int value = -1;
    socklen_t size = sizeof value;
    EXPECT_EQ(::getsockopt(mine, IPPROTO_TCP, TCP_CORK, &value, &size), 0);
    return value != 0;
  }
  // Exactly n bytes from the peer's side (waits for them).
  std::string PeerReads(size_t n) {
    std::string got(n, '\0');
    size_t have = 0;
    while (have < n) {
      ssize_t r = ::recv(peer, got.data() + have, n - have, 0);
      if (r <= 0) break;
      have += static_cast<size_t>(r);
    }
    got.resize(have);
    return got;
  }
};

class WorkerChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(io.mine, 0) << std::strerror(errno); }
  void Begin(TransferLimits read = kGenerous, TransferLimits write = kGenerous, PageClock page = {}) {
    channel.Begin(io.mine, read, write, std::move(page), [this](const std::string& why) { cuts.push_back(why); });
  }
  std::string ReadString(size_t max = 64) {
    std::string buf(max, '\0');
    buf.resize(channel.Read(reinterpret_cast<uint8_t*>(buf.data()), max));
    return buf;
  }
  // Sends until the socket is full, so that the next send has to wait.
  void FillSocket() {
    std::string chunk(65536, 'f');
    while (::send(io.mine, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0) {
    }
  }

  SocketPair io;
  WorkerChannel channel;
  std::vector<std::string> cuts;  // why transfers were cut, in order
};

TEST_F(WorkerChannelTest, ReadTakesWhatIsThereThenSeesTheClientEndItsSide) {
  Begin();
  ASSERT_EQ(::write(io.peer, "hello", 5), 5);
  ASSERT_EQ(::shutdown(io.peer, SHUT_WR), 0);
  EXPECT_EQ(ReadString(), "hello");
  EXPECT_FALSE(channel.ReadEnded());
  EXPECT_EQ(ReadString(), "");
  EXPECT_TRUE(channel.ReadEnded());
  EXPECT_FALSE(channel.ReadFailed());
  EXPECT_FALSE(channel.Broken());
  // The client only ended its sending side: it still gets the answer.
  EXPECT_TRUE(channel.PeerConnected());
  EXPECT_TRUE(channel.Send("answer"));
  EXPECT_EQ(io.PeerTakes(), "answer");
  EXPECT_THAT(cuts, IsEmpty());
}

TEST_F(WorkerChannelTest, AWaitingReadWakesForBytesAndForAClientThatClosesMidBody) {
  Begin();
  std::thread client([this] {
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_EQ(::write(io.peer, "abc", 3), 3);
    std::this_thread::sleep_for(milliseconds(100));
    io.ClosePeer();
  });
  EXPECT_EQ(ReadString(), "abc");
  EXPECT_EQ(ReadString(), "");
  client.join();
  EXPECT_TRUE(channel.ReadEnded());
  EXPECT_FALSE(channel.ReadFailed());
  EXPECT_THAT(cuts, IsEmpty());
}

TEST_F(WorkerChannelTest, AResetFailsTheReadForGoodAndBreaksTheConnection) {
  Begin();
  // A peer that closes with unread bytes of ours resets the connection.
  ASSERT_TRUE(channel.Send("unread"));
  io.ClosePeer();
  Error first = ThrownError([&] { ReadString(); });
  EXPECT_EQ(first.number, ECONNRESET);
  EXPECT_EQ(first.description, std::strerror(ECONNRESET));
  EXPECT_THAT(cuts, ElementsAre(std::string("the connection failed while the page read its body: ") +
                                std::strerror(ECONNRESET)));
  EXPECT_TRUE(channel.Broken());
  EXPECT_TRUE(channel.ReadFailed());
  // The socket would now answer "end of body"; the failure stays the answer.
  Error again = ThrownError([&] { ReadString(); });
  EXPECT_EQ(again.number, ECONNRESET);
  EXPECT_EQ(cuts.size(), 1u);
  EXPECT_FALSE(channel.Send("more"));
  EXPECT_FALSE(channel.PeerConnected());
}

TEST_F(WorkerChannelTest, AReadThatBreaksALimitFailsWithItsReasonAndStaysFailed) {
  struct Case {
    const char* name;
    TransferLimits limits;
    std::string why;
  } cases[] = {
      {"idle", {1, 0, 30, 0}, "the client sent no data for 1 seconds (read_timeout)"},
      {"rate", {30, 1000, 1, 0}, "the client sent 2 bytes in 1 seconds, below the minimum of 1000 bytes per second (min_read_rate)"},
      {"deadline", {30, 0, 30, 1}, "the transfer did not end within 1 seconds (read_deadline)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair pair;
    WorkerChannel ch;
    std::vector<std::string> log;
    ch.Begin(pair.mine, c.limits, kGenerous, PageClock{}, [&](const std::string& why) { log.push_back(why); });
    ASSERT_EQ(::write(pair.peer, "ab", 2), 2);
    uint8_t buf[16];
    ASSERT_EQ(ch.Read(buf, sizeof buf), 2u);
    Error e = ThrownError([&] { ch.Read(buf, sizeof buf); });
    EXPECT_EQ(e.number, kHostFailure);
    EXPECT_EQ(e.description, "Request.BinaryRead - " + c.why + ".");
    EXPECT_EQ(e.source, "Request object");
    EXPECT_THAT(log, ElementsAre(c.why));
    // Bytes that come late change nothing: the first failure is final.
    ASSERT_EQ(::write(pair.peer, "late", 4), 4);
    EXPECT_EQ(ThrownError([&] { ch.Read(buf, sizeof buf); }).description, e.description);
    EXPECT_EQ(log.size(), 1u);
  }
}

TEST_F(WorkerChannelTest, ASendToAClientThatStopsReadingEndsAtTheWriteLimit) {
  struct Case {
    const char* name;
    TransferLimits limits;
    std::string why;
  } cases[] = {
      {"idle", {1, 0, 30, 0}, "the client took no data for 1 seconds (write_timeout)"},
      {"deadline", {30, 0, 30, 1}, "the transfer did not end within 1 seconds (write_deadline)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair pair;
    WorkerChannel ch;
    std::vector<std::string> log;
    ch.Begin(pair.mine, kGenerous, c.limits, PageClock{}, [&](const std::string& why) { log.push_back(why); });
    std::string big(8 << 20, 'x');  // far more than the socket holds
    EXPECT_FALSE(ch.Send(big));
    EXPECT_THAT(log, ElementsAre(c.why));
    EXPECT_TRUE(ch.Broken());
    // Nothing more is tried once the connection has failed.
    EXPECT_FALSE(ch.Send("x"));
    EXPECT_FALSE(ch.SendFile(0, 0, 1));
    EXPECT_FALSE(ch.PeerConnected());
    EXPECT_EQ(log.size(), 1u);
  }
}

TEST_F(WorkerChannelTest, ASendIntoAFullSocketWaitsForTheClientAndDeliversEveryByte) {
  Begin(kGenerous, TransferLimits{2, 0, 30, 0});
  std::string data(4 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4096);
  std::string got;
  std::thread client([&] {
    char buf[65536];
    while (got.size() < data.size()) {
      std::this_thread::sleep_for(milliseconds(1));
      ssize_t n = ::recv(io.peer, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
  });
  EXPECT_TRUE(channel.Send(data));
  client.join();
  EXPECT_TRUE(got == data) << "received " << got.size() << " of " << data.size() << " bytes, or different bytes";
  EXPECT_FALSE(channel.Broken());
  EXPECT_THAT(cuts, IsEmpty());
}

TEST_F(WorkerChannelTest, SendFileSendsTheRangeAndAFileThatEndsTooSoonBreaksTheConnection) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), &std::fclose);
  ASSERT_TRUE(file);
  std::string content;
  for (int i = 0; i < 100; ++i) content += static_cast<char>('A' + i % 26);
  ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), file.get()), content.size());
  ASSERT_EQ(std::fflush(file.get()), 0);
  int fd = ::fileno(file.get());
  Begin();
  EXPECT_TRUE(channel.SendFile(fd, 10, 50));
  EXPECT_EQ(io.PeerTakes(), content.substr(10, 50));
  Error e = ThrownError([&] { channel.SendFile(fd, 90, 50); });
  EXPECT_EQ(e.number, 62);
  EXPECT_EQ(e.description, "Input past end of file");
  EXPECT_TRUE(channel.Broken());
  EXPECT_EQ(io.PeerTakes(), content.substr(90));
  EXPECT_FALSE(channel.Send("after"));
}

TEST_F(WorkerChannelTest, TheServersStopWakesAReadOrASendAtOnce) {
  struct Case {
    const char* name;
    std::function<void(WorkerChannel&, SocketPair&)> transfer;  // waits for the client until stopped
  } cases[] = {
      {"read",
       [](WorkerChannel& ch, SocketPair&) {
         uint8_t buf[16];
         Error e = ThrownError([&] { ch.Read(buf, sizeof buf); });
         EXPECT_EQ(e.number, kHostFailure);
         EXPECT_EQ(e.description, ServerStopText(7));
         EXPECT_EQ(e.source, "Torvane host");
       }},
      {"send",
       [](WorkerChannel& ch, SocketPair&) {
         EXPECT_FALSE(ch.Send(std::string(8 << 20, 's')));
         EXPECT_TRUE(ch.Broken());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair pair;
    WorkerChannel ch;
    std::vector<std::string> log;
    auto stop = std::make_shared<ServerStop>();
    ASSERT_GE(stop->Fd(), 0);
    ch.Begin(pair.mine, kGenerous, kGenerous, PageClock(0, stop), [&](const std::string& why) { log.push_back(why); });
    std::thread stopper([stop] {
      std::this_thread::sleep_for(milliseconds(200));
      stop->Trigger(7);
    });
    auto start = Clock::now();
    c.transfer(ch, pair);
    stopper.join();
    // The limits allow 30 s of waiting; the stop ended the wait long before.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    // A stop is not the client's fault: nothing is logged as a cut client.
    EXPECT_THAT(log, IsEmpty());
  }
}

TEST_F(WorkerChannelTest, APagesDeadlineEndsAWaitThatTheLimitsWouldAllow) {
  Begin(kGenerous, kGenerous, PageClock(1, nullptr));
  auto start = Clock::now();
  Error e = ThrownError([&] { ReadString(); });
  EXPECT_EQ(e.number, kHostFailure);
  EXPECT_EQ(e.description, PageDeadlineText(1));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_THAT(cuts, IsEmpty());
}

void Ignore(int) {}

// A signal that interrupts the wait is not a timeout: the transfer goes on.
TEST_F(WorkerChannelTest, ASignalDuringAWaitDoesNotEndTheTransfer) {
  struct sigaction action {}, previous{};
  action.sa_handler = Ignore;  // no SA_RESTART: poll() fails with EINTR
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  std::string bulk(1 << 20, 'b');
  std::thread reader;  // the client taking the answer (send case)
  struct Case {
    const char* name;
    std::function<bool()> transfer;     // runs on the waiting thread
    std::function<void()> clientMoves;  // what ends the wait
  } cases[] = {
      {"read", [&] { return ReadString() == "late"; }, [&] { ASSERT_EQ(::write(io.peer, "late", 4), 4); }},
      {"send",
       [&] {
         FillSocket();
         return channel.Send(bulk);
       },
       [&] {
         reader = std::thread([&] {
           char buf[65536];
           while (::recv(io.peer, buf, sizeof buf, 0) > 0) {
           }
         });
       }},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    // An idle limit that a signal mistaken for a timeout would break at once.
    Begin();
    bool ok = false;
    std::string failure;
    std::thread waiter([&] {
      try {
        ok = c.transfer();
      } catch (const Error& e) {
        failure = e.description;
      }
    });
    std::this_thread::sleep_for(milliseconds(150));
    for (int i = 0; i < 3; ++i) {
      ::pthread_kill(waiter.native_handle(), SIGUSR1);
      std::this_thread::sleep_for(milliseconds(50));
    }
    c.clientMoves();
    waiter.join();
    EXPECT_TRUE(ok) << failure;
    EXPECT_EQ(failure, "");
    EXPECT_FALSE(channel.Broken());
    EXPECT_THAT(cuts, IsEmpty());
  }
  ::shutdown(io.mine, SHUT_WR);  // the reader sees the end
  if (reader.joinable()) reader.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
}

TEST(WorkerChannelPeer, TheClientCountsAsGoneOnlyWhenItClosedOrReset) {
  struct Case {
    const char* name;
    std::function<void(SocketPair&)> client;
    bool connected;
  } cases[] = {
      {"open and quiet", [](SocketPair&) {}, true},
      {"bytes waiting", [](SocketPair& p) { ASSERT_EQ(::write(p.peer, "x", 1), 1); }, true},
      {"ended its sending side", [](SocketPair& p) { ::shutdown(p.peer, SHUT_WR); }, true},
      {"closed", [](SocketPair& p) { p.ClosePeer(); }, false},
      {"reset (closed with our bytes unread)", [](SocketPair& p) {
         ASSERT_EQ(::write(p.mine, "y", 1), 1);
         p.ClosePeer();
       }, false},
      {"closed after sending", [](SocketPair& p) {
         ASSERT_EQ(::write(p.peer, "x", 1), 1);
         p.ClosePeer();
       }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair pair;
    WorkerChannel ch;
    ch.Begin(pair.mine, kGenerous, kGenerous, PageClock{}, nullptr);
    c.client(pair);
    EXPECT_EQ(ch.PeerConnected(), c.connected);
    // The check only looks: a byte waiting is still there for the body read.
    if (std::string(c.name) == "bytes waiting") {
      uint8_t b = 0;
      EXPECT_EQ(ch.Read(&b, 1), 1u);
      EXPECT_EQ(b, 'x');
    }
  }
}

// Over TCP: a file range leaves corked (full segments only), and whatever
// follows it, the next Send or the page's end (Uncork), lifts the cork, so
// that no answer's tail waits for the kernel's 200 ms.
TEST(WorkerChannelCork, AFileRangeIsCorkedUntilTheNextSendOrTheEndOfThePage) {
  TcpPair tcp;
  ASSERT_GE(tcp.mine, 0) << std::strerror(errno);
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), &std::fclose);
  ASSERT_TRUE(file);
  ASSERT_GE(std::fputs("0123456789", file.get()), 0);
  ASSERT_EQ(std::fflush(file.get()), 0);
  WorkerChannel channel;
  channel.Begin(tcp.mine, kGenerous, kGenerous, PageClock{}, nullptr);
  EXPECT_TRUE(channel.SendFile(::fileno(file.get()), 2, 5));
  EXPECT_TRUE(tcp.Corked());
  EXPECT_TRUE(channel.Send("tail"));
  EXPECT_FALSE(tcp.Corked());
  EXPECT_EQ(tcp.PeerReads(9), "23456tail");
  EXPECT_TRUE(channel.SendFile(::fileno(file.get()), 0, 3));
  EXPECT_TRUE(tcp.Corked());
  channel.Uncork();
  EXPECT_FALSE(tcp.Corked());
  EXPECT_EQ(tcp.PeerReads(3), "012");
  // A new page starts uncorked even when the last one did not say so.
  EXPECT_TRUE(channel.SendFile(::fileno(file.get()), 9, 1));
  channel.Begin(tcp.mine, kGenerous, kGenerous, PageClock{}, nullptr);
  EXPECT_FALSE(tcp.Corked());
  EXPECT_EQ(tcp.PeerReads(1), "9");
}

}  // namespace
}  // namespace torvane::server
