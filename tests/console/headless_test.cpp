// The quenby binary end to end: headless runs on 127.0.0.1 with port 0, talked to over
// raw loopback sockets and stopped with SIGTERM.
#include <unistd.h>
#include <chrono>
#include <csignal>

#include <cstring>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "console/headless_runner.h"
#include "support/net_loopback.h"
#include "support/quenby_process.h"
#include "support/temp_dir.h"

namespace quenby {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* SecretText = "top secret";
constexpr const char* GifBytes = "GIF89a\x01\x00\x01\x00\x00\x00\x00;";

std::string Get(const std::string& path) {
  return "GET " + path + " HTTP/1.0\r\n\r\n";
}

std::string BodyOf(const std::string& reply) {
  const std::size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

// A document root with an index, a text file, a picture and a sub-folder, an alias folder
// beside it, and a secret file outside both.
class HeadlessTest : public ::testing::Test {
 protected:
  HeadlessTest() {
    dir_.Write("site/index.html", "<p>home</p>");
    dir_.Write("site/a.txt", "hello");
    dir_.Write("site/pic.gif", GifBytes);
    dir_.Write("site/sub/index.html", "<p>sub</p>");
    dir_.Write("docs/guide.txt", "guide");
    dir_.Write("secret.txt", SecretText);
  }

  // The options of a run serving the root with both aliases; `extra` follow.
  std::vector<std::string> Arguments(const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> arguments = {"--headless",
                                          "--settings",
                                          dir_.FilePath("quenby.ini"),
                                          "--host",
                                          "127.0.0.1",
                                          "--port",
                                          "0",
                                          "--root",
                                          dir_.FilePath("site"),
                                          "--index",
                                          "index.html",
                                          "--alias",
                                          std::string("/bin=") + QUENBY_TEST_MODULE_DIR,
                                          "--alias",
                                          "/docs=" + dir_.FilePath("docs"),
                                          "--log-file",
                                          dir_.FilePath("quenby.log")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }

  test::TempDir dir_;
};

TEST_F(HeadlessTest, ServesFilesIndexesAliasesHeadAndModules) {
  test::TQuenbyProcess quenby(Arguments({"--no-log"}));
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();
  EXPECT_THAT(quenby.OutLines(),
              ElementsAre(MatchesRegex("Started at:[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}"),
                          "Listening on http://127.0.0.1:" + std::to_string(port) + "/"));

  const std::string index = test::Exchange(port, Get("/"));
  EXPECT_THAT(index, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(index, HasSubstr("Content-Type: text/html\r\n"));
  EXPECT_THAT(index, HasSubstr("Server: Larkmoor\r\n"));
  EXPECT_EQ(BodyOf(index), "<p>home</p>");
  EXPECT_EQ(BodyOf(test::Exchange(port, Get("/sub/"))), "<p>sub</p>");
  EXPECT_EQ(BodyOf(test::Exchange(port, Get("/docs/guide.txt"))), "guide");

  const std::string picture = test::Exchange(port, Get("/pic.gif"));
  EXPECT_THAT(picture, HasSubstr("Content-Type: image/gif\r\n")) << "announced by extension";
  EXPECT_EQ(BodyOf(picture), GifBytes);

  const std::string head = test::Exchange(port, "HEAD /pic.gif HTTP/1.0\r\n\r\n");
  EXPECT_THAT(head, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(head, HasSubstr("Content-Type: image/gif\r\n"));
  EXPECT_THAT(head, HasSubstr("Content-Length: " + std::to_string(std::strlen(GifBytes))));
  EXPECT_THAT(head, EndsWith("\r\n\r\n")) << "no body";

  const std::string module = test::Exchange(port, Get("/bin/hello.dll"));
  EXPECT_THAT(module, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(BodyOf(module), HasSubstr("Hello from an extension module"));

  EXPECT_EQ(quenby.Stop(), 0);
  EXPECT_THAT(quenby.OutLines().back(), StartsWith("Stopped at:"));
  EXPECT_FALSE(dir_.Exists("quenby.log")) << "logging off writes nothing";
  EXPECT_FALSE(dir_.Exists("quenby.ini")) << "headless never writes the settings file";
}

TEST_F(HeadlessTest, MissingFilesModulesAndEscapesGetNotFound) {
  test::TQuenbyProcess quenby(Arguments({"--no-log"}));
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();

  const std::string missing = test::Exchange(port, Get("/missing.html"));
  EXPECT_THAT(missing, StartsWith("HTTP/1.1 404 Not Found\r\n"));
  EXPECT_THAT(missing, EndsWith("\r\n\r\n<html><head><title>Error</title></head><body><h1>"
                                "Not Found</h1></body></html>"));

  const std::string script = test::Exchange(port, Get("/bin/none.dll"));
  EXPECT_THAT(script, StartsWith("HTTP/1.1 404 Not Found\r\n"));
  EXPECT_EQ(BodyOf(script), "<H1><center>Script not found</center></H1>");

  for (const char* path : {"/../secret.txt", "/%2e%2e/secret.txt", "/sub/../../secret.txt",
                           "/docs/../../secret.txt", "/..%2fsecret.txt", "/docs/../secret.txt"}) {
    const std::string reply = test::Exchange(port, Get(path));
    EXPECT_THAT(reply, StartsWith("HTTP/1.1 404")) << path;
    EXPECT_THAT(reply, Not(HasSubstr(SecretText))) << path;
  }
  EXPECT_EQ(quenby.Stop(), 0);
}

TEST_F(HeadlessTest, WritesTheExactActivityLines) {
  test::TQuenbyProcess quenby(Arguments({"--log"}));
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();
  int client_port = 0;
  EXPECT_EQ(BodyOf(test::Exchange(port, Get("/a.txt"), &client_port)), "hello");
  // A path that decodes to line breaks and a stamp line cannot forge an entry of its own.
  int forger_port = 0;
  EXPECT_THAT(
      test::Exchange(port, Get("/x%0d%0a2030-01-01%2000:00:00%20------------%20%0d%0aForged"),
                     &forger_port),
      StartsWith("HTTP/1.1 404"));
  EXPECT_EQ(quenby.Stop(), 0);

  const std::string peer = "127.0.0.1:" + std::to_string(client_port);
  const std::string forger = "127.0.0.1:" + std::to_string(forger_port);
  const std::vector<std::string> out = quenby.OutLines();
  ASSERT_EQ(out.size(), 3u) << quenby.Err();
  EXPECT_THAT(test::LogEntryTexts(dir_.Read("quenby.log")),
              ElementsAre(out[0], "Command GET /a.txt received from " + peer,
                          "Serving file " + dir_.FilePath("site/a.txt") +
                              " (5 bytes / 5 bytes sent) to " + peer,
                          "Command GET /x%0D%0A2030-01-01 00:00:00 ------------ %0D%0AForged "
                          "received from " +
                              forger,
                          AllOf(StartsWith("Stopped at:"), out[2])));
}

TEST_F(HeadlessTest, LogInAMissingFolderKeepsRunningAndFailsRequests) {
  test::TQuenbyProcess quenby(
      Arguments({"--log", "--log-file", dir_.FilePath("missing/quenby.log")}));
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();
  EXPECT_THAT(quenby.OutLines()[0], StartsWith("Started at:"));
  EXPECT_THAT(quenby.OutLines()[1], StartsWith("Exception EInOutError in Activate. Error is:"));
  EXPECT_THAT(quenby.Err(), HasSubstr("EInOutError"));
  EXPECT_THAT(test::Exchange(port, Get("/a.txt")), StartsWith("HTTP/1.1 500"));
  EXPECT_EQ(quenby.Stop(), 0);
  EXPECT_THAT(quenby.OutLines(), testing::Contains(StartsWith("Stopped at:")));
}

// Sends a request whose module call never returns, and returns once the server has logged
// it; the returned thread ends when the server goes away.
std::thread StartNeverEndingRequest(const test::TempDir& dir, int port) {
  std::thread client([port] { test::Exchange(port, Get("/bin/pending.dll?inside")); });
  EXPECT_TRUE(test::WaitUntil(
      [&dir] { return dir.Read("quenby.log").find("pending.dll") != std::string::npos; },
      std::chrono::seconds(10)));
  return client;
}

TEST_F(HeadlessTest, ASecondStopSignalEndsAStopThatHangsOnAModule) {
  test::TQuenbyProcess quenby(Arguments({"--log"}));
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();
  // A module call that never returns keeps its peer thread, so no stop can finish.
  std::thread client = StartNeverEndingRequest(dir_, port);
  quenby.Signal(SIGTERM);
  // Sent while the first one is still pending, the second would merge with it.
  EXPECT_TRUE(test::WaitUntil([&quenby] { return !quenby.SignalPending(SIGTERM); },
                              std::chrono::seconds(10)));
  quenby.Signal(SIGTERM);
  EXPECT_EQ(quenby.Wait(std::chrono::seconds(5)), -1);
  client.join();
}

TEST_F(HeadlessTest, AStopThatCannotEndItsPeerThreadsExitsOne) {
  // The stop gives up after the wait this run asks for instead of the default 50 seconds.
  const std::vector<std::string> environment =
      test::InheritedEnvironment({std::string(StopWaitVariable) + "=200"});
  test::TQuenbyProcess quenby(Arguments({"--log"}), &environment);
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();
  std::thread client = StartNeverEndingRequest(dir_, port);
  quenby.Signal(SIGTERM);
  EXPECT_EQ(quenby.Wait(), 1);
  EXPECT_THAT(quenby.OutLines(),
              testing::Contains(StartsWith("Exception ETerminateThreadTimeout")));
  client.join();
}

// Only faults inside the host's calls into a module can be caught; one on a thread the
// module started itself ends the process, with the log written up to then.
TEST_F(HeadlessTest, AModuleFaultOnItsOwnThreadEndsTheProcess) {
  test::TQuenbyProcess quenby(Arguments({"--log"}));
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();
  test::Exchange(port, Get("/bin/crash.dll?thread"));
  EXPECT_NE(quenby.Wait(), 0);
  EXPECT_THAT(quenby.OutLines(), Not(testing::Contains(StartsWith("Stopped at:"))));
  EXPECT_THAT(test::LogEntryTexts(dir_.Read("quenby.log")),
              testing::Contains(StartsWith("Command GET /bin/crash.dll received from")));
}

TEST_F(HeadlessTest, HeadOfAFileTooLongForTheRecordAnnouncesNoLength) {
  // 4 GiB + 3 bytes, sparse: a length cut to 32 bits would read 3.
  const std::string big = dir_.Write("site/big.bin", "");
  ASSERT_EQ(truncate(big.c_str(), (off_t{1} << 32) + 3), 0);
  test::TQuenbyProcess quenby(Arguments());
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();
  const std::string reply = test::Exchange(port, "HEAD /big.bin HTTP/1.0\r\n\r\n");
  EXPECT_THAT(reply, StartsWith("HTTP/1.1 200"));
  EXPECT_THAT(reply, Not(HasSubstr("Content-Length")));
  EXPECT_EQ(quenby.Stop(), 0);
}

TEST_F(HeadlessTest, FailedStartPrintsTheExceptionLineAndExitsOne) {
  test::TQuenbyProcess quenby(Arguments({"--port", ""}));
  EXPECT_EQ(quenby.Wait(), 1);
  EXPECT_THAT(quenby.OutLines(),
              ElementsAre("Exception EConvertError in Activate. Error is:\"'' is not a valid "
                          "integer value\"."));
}

TEST_F(HeadlessTest, WithoutADisplayItSaysSoAndRunsHeadless) {
  std::vector<std::string> environment = {"PATH=/usr/bin:/bin"};
  std::vector<std::string> arguments = Arguments({"--no-log"});
  arguments.erase(arguments.begin());  // no --headless
  test::TQuenbyProcess quenby(arguments, &environment);
  ASSERT_GT(quenby.WaitForListening(), 0) << quenby.Err();
  EXPECT_EQ(quenby.Stop(), 0);
  EXPECT_THAT(quenby.Err(), HasSubstr("no display"));
}

TEST_F(HeadlessTest, ServesWithoutMappingTheWindowLibraryOrQt) {
  test::TQuenbyProcess quenby(Arguments({"--no-log"}));
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();
  // A request still arriving holds a connection's thread while the maps are read.
  test::TLoopbackClient pending(port);
  pending.Send("GET /a.txt HTTP/1.0\r\n");
  EXPECT_EQ(BodyOf(test::Exchange(port, Get("/sub/"))), "<p>sub</p>");
  const std::vector<std::string> files = quenby.MappedFiles();
  ASSERT_THAT(files, Contains(EndsWith("/quenby"))) << "the maps were read";
  EXPECT_THAT(files, Each(Not(HasSubstr("libQt6"))));
  EXPECT_THAT(files, Each(Not(HasSubstr("quenby-window"))));
  pending.Send("\r\n");
  EXPECT_EQ(BodyOf(pending.ReceiveUntilClose()), "hello");
  EXPECT_EQ(quenby.Stop(), 0);
}

TEST(QuenbyCommandLine, HelpAndUnknownOptions) {
  test::TQuenbyProcess help({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  ASSERT_FALSE(help.OutLines().empty());
  EXPECT_THAT(help.OutLines()[0], StartsWith("Usage: "));

  test::TQuenbyProcess unknown({"--bogus"});
  EXPECT_EQ(unknown.Wait(), 2);
  EXPECT_THAT(unknown.OutLines(), IsEmpty());
  EXPECT_THAT(unknown.Err(), AllOf(HasSubstr("--bogus"), HasSubstr("Usage: ")));
}

}  // namespace
}  // namespace quenby
