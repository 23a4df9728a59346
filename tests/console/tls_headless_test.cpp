// The quenby binary serving HTTPS: certificate files from the command line or the settings
// file, the self-signed certificate of --tls, and clients that verify what they are shown
// (curl, Python's ssl module, a client on the library).
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <utility>

#include "support/net_loopback.h"
#include "support/quenby_process.h"
#include "support/temp_dir.h"
#include "support/tls_client.h"

namespace quenby {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

constexpr std::size_t LargeFileSize = 64u << 20;
constexpr std::size_t LargeFileBlock = 65521;

struct TCommandResult {
  int Status = -1;
  std::string Out;
};

// Runs a shell command; its stdout and exit status.
TCommandResult RunCommand(const std::string& command) {
  TCommandResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr)
    return result;
  std::array<char, 4096> buffer{};
  std::size_t count = 0;
  while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    result.Out.append(buffer.data(), count);
  const int status = ::pclose(pipe);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool HaveCommand(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null 2>&1").Status == 0;
}

// curl for https://localhost:PORT/PATH, trusting only `ca_file`; the body written to stdout
// (or to `out_file`).
std::string CurlCommand(int port, const std::string& path, const std::string& ca_file,
                        const std::string& out_file = "-") {
  const std::string site = "localhost:" + std::to_string(port);
  return "curl -sS --fail --max-time 60 --cacert '" + ca_file + "' --resolve " + site +
         ":127.0.0.1 -o '" + out_file + "' https://" + site + path;
}

std::string BodyOf(const std::string& reply) {
  const std::size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

class TLSHeadlessTest : public ::testing::Test {
 protected:
  TLSHeadlessTest() : certificate_(test::MakeTestCertificate(dir_)) {
    dir_.Write("site/a.txt", "hello");
  }

  std::vector<std::string> Arguments(const std::vector<std::string>& extra) const {
    std::vector<std::string> arguments = {"--headless",
                                          "--settings",
                                          dir_.FilePath("quenby.ini"),
                                          "--host",
                                          "127.0.0.1",
                                          "--port",
                                          "0",
                                          "--root",
                                          dir_.FilePath("site"),
                                          "--alias",
                                          std::string("/bin=") + QUENBY_SAMPLE_MODULE_DIR,
                                          "--log-file",
                                          dir_.FilePath("quenby.log")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }

  std::vector<std::string> WithCertificate(std::vector<std::string> extra = {}) const {
    extra.insert(extra.end(),
                 {"--tls-cert", certificate_.CertFile, "--tls-key", certificate_.KeyFile});
    return Arguments(extra);
  }

  test::TempDir dir_;
  test::TTestCertificate certificate_;
};

TEST_F(TLSHeadlessTest, ServesFilesAndModulesOverHTTPSWithThePlainLogLines) {
  test::TQuenbyProcess quenby(WithCertificate({"--log"}));
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();
  EXPECT_EQ(quenby.OutLines().back(),
            "Listening on https://127.0.0.1:" + std::to_string(port) + "/");

  test::TTLSTestClient::TOptions options;
  options.CAFile = certificate_.CertFile;
  test::TTLSTestClient client(port, options);
  ASSERT_TRUE(client.Handshake()) << client.Error();
  client.Send("GET /a.txt HTTP/1.0\r\n\r\n");
  EXPECT_EQ(BodyOf(client.ReceiveUntilClose()), "hello");

  if (HaveCommand("curl")) {
    const TCommandResult file = RunCommand(CurlCommand(port, "/a.txt", certificate_.CertFile));
    EXPECT_EQ(file.Status, 0);
    EXPECT_EQ(file.Out, "hello");
    const TCommandResult module =
        RunCommand(CurlCommand(port, "/bin/hello.dll", certificate_.CertFile));
    EXPECT_EQ(module.Status, 0);
    EXPECT_THAT(module.Out, HasSubstr("Hello from an extension module"));
  }
  if (HaveCommand("python3")) {
    const std::pair<const char*, const char*> fetches[] = {
        {"/a.txt", "hello"}, {"/bin/hello.dll", "Hello from an extension module"}};
    for (const auto& [path, expected] : fetches) {
      const TCommandResult python = RunCommand(
          "python3 -c \"import socket, ssl, sys\n"
          "context = ssl.create_default_context(cafile=sys.argv[1])\n"
          "with socket.create_connection(('127.0.0.1', int(sys.argv[2]))) as raw:\n"
          "  with context.wrap_socket(raw, server_hostname='localhost') as tls:\n"
          "    tls.sendall(b'GET ' + sys.argv[3].encode() + b' HTTP/1.0\\r\\n\\r\\n')\n"
          "    reply = b''\n"
          "    while chunk := tls.recv(4096): reply += chunk\n"
          "sys.stdout.write(reply.split(b'\\r\\n\\r\\n', 1)[1].decode())\" '" +
          certificate_.CertFile + "' " + std::to_string(port) + " " + path);
      EXPECT_EQ(python.Status, 0) << path;
      EXPECT_THAT(python.Out, HasSubstr(expected)) << path;
    }
  }

  // A plain-HTTP client on the TLS port gets its connection closed; others go on.
  test::TLoopbackClient plain(port);
  plain.Send("GET /a.txt HTTP/1.0\r\n\r\n");
  EXPECT_THAT(plain.ReceiveUntilClose(), ::testing::Not(HasSubstr("hello")));
  EXPECT_FALSE(
      test::TLSExchange(port, "GET /a.txt HTTP/1.0\r\n\r\n", certificate_.CertFile).empty());
  EXPECT_EQ(quenby.Stop(), 0);

  const std::string peer = "127.0.0.1:" + std::to_string(client.LocalPort());
  const std::vector<std::string> log = test::LogEntryTexts(dir_.Read("quenby.log"));
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[1], "Command GET /a.txt received from " + peer);
  EXPECT_EQ(log[2],
            "Serving file " + dir_.FilePath("site/a.txt") + " (5 bytes / 5 bytes sent) to " + peer);
}

TEST_F(TLSHeadlessTest, ALargeFileArrivesWholeOverHTTPS) {
  if (!HaveCommand("curl"))
    GTEST_SKIP() << "curl is not installed";
  // A block of prime length repeated: a piece lost, doubled or moved at any power-of-two
  // boundary shows, and the file is made at memory speed (also under sanitizers).
  std::string block(LargeFileBlock, '\0');
  for (std::size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<char>((i * 2654435761u) >> 24);
  std::string content;
  content.reserve(LargeFileSize);
  while (content.size() + block.size() <= LargeFileSize)
    content += block;
  content.append(block, 0, LargeFileSize - content.size());
  const std::string sent = dir_.Write("site/big.bin", content);
  test::TQuenbyProcess quenby(WithCertificate({"--log"}));
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();

  const std::string received = dir_.FilePath("received.bin");
  EXPECT_EQ(RunCommand(CurlCommand(port, "/big.bin", certificate_.CertFile, received)).Status, 0);
  EXPECT_EQ(quenby.Stop(), 0);
  EXPECT_EQ(RunCommand("cmp '" + sent + "' '" + received + "'").Status, 0)
      << "64 MiB arrive byte for byte";
  const std::string size = std::to_string(LargeFileSize);
  EXPECT_THAT(test::LogEntryTexts(dir_.Read("quenby.log")),
              Contains(MatchesRegex("Serving file .*/site/big\\.bin \\(" + size + " bytes / " +
                                    size + " bytes sent\\) to 127\\.0\\.0\\.1:[0-9]+")));
}

TEST_F(TLSHeadlessTest, TLSMakesASelfSignedCertificateOnceAndKeepsIt) {
  const std::string cert_file = dir_.FilePath("quenby-cert.pem");
  const std::string key_file = dir_.FilePath("quenby-key.pem");
  std::string first_certificate;
  for (int run = 0; run < 2; ++run) {
    test::TQuenbyProcess quenby(Arguments({"--tls"}));
    const int port = quenby.WaitForListening();
    ASSERT_GT(port, 0) << quenby.Err();
    const std::string fingerprint = quenby.WaitForLine("Certificate SHA-256 fingerprint: ");
    const std::vector<std::string> out = quenby.OutLines();
    ASSERT_EQ(out.size(), 3u) << quenby.Err();
    EXPECT_EQ(out[1], "Listening on https://127.0.0.1:" + std::to_string(port) + "/");
    EXPECT_THAT(out[2],
                MatchesRegex("Certificate SHA-256 fingerprint: ([0-9A-F]{2}:){31}[0-9A-F]{2}"));

    const TCommandResult openssl =
        RunCommand("openssl x509 -noout -fingerprint -sha256 -in '" + cert_file + "'");
    EXPECT_EQ(openssl.Out, "sha256 Fingerprint=" + out[2].substr(out[2].find(": ") + 2) + "\n");
    struct stat key_status {};
    ASSERT_EQ(::stat(key_file.c_str(), &key_status), 0);
    EXPECT_EQ(key_status.st_mode & 0777, 0600u) << "the key is its owner's only";
    if (run == 0) {
      first_certificate = dir_.Read("quenby-cert.pem");
    } else {
      EXPECT_EQ(dir_.Read("quenby-cert.pem"), first_certificate) << "kept for later runs";
    }
    EXPECT_FALSE(test::TLSExchange(port, "GET /a.txt HTTP/1.0\r\n\r\n", cert_file).empty())
        << "valid for localhost";
    if (HaveCommand("curl")) {
      EXPECT_EQ(RunCommand(CurlCommand(port, "/a.txt", cert_file)).Out, "hello");
    }
    EXPECT_EQ(quenby.Stop(), 0);
  }
}

TEST_F(TLSHeadlessTest, TheSettingsFileOptionsServeHTTPS) {
  dir_.Write("quenby.ini", "[Options]\r\nTLSCert=" + certificate_.CertFile +
                               "\r\nTLSKey=" + certificate_.KeyFile + "\r\n");
  test::TQuenbyProcess quenby(Arguments({}));
  const int port = quenby.WaitForListening();
  ASSERT_GT(port, 0) << quenby.Err();
  EXPECT_EQ(quenby.OutLines().back(),
            "Listening on https://127.0.0.1:" + std::to_string(port) + "/");
  EXPECT_EQ(BodyOf(test::TLSExchange(port, "GET /a.txt HTTP/1.0\r\n\r\n", certificate_.CertFile)),
            "hello");
  EXPECT_EQ(quenby.Stop(), 0);
}

TEST_F(TLSHeadlessTest, FilesThatCannotBeLoadedFailTheStart) {
  const test::TTestCertificate other = test::MakeTestCertificate(dir_, "other");
  struct Case {
    std::vector<std::string> files;
    const char* line;
  };
  const Case cases[] = {
      {{"--tls-cert", dir_.FilePath("none.pem"), "--tls-key", certificate_.KeyFile},
       "Exception EOSSLLoadingCertError in Activate. Error is:\"Could not load certificate.\"."},
      {{"--tls-cert", certificate_.CertFile, "--tls-key", other.KeyFile},
       "Exception EOSSLLoadingKeyError in Activate. Error is:\"Could not load key, check "
       "password.\"."},
      {{"--tls-cert", certificate_.CertFile, "--tls-key", ""},
       "Exception EOSSLLoadingKeyError in Activate. Error is:\"Could not load key, check "
       "password.\"."},
  };
  for (const Case& c : cases) {
    test::TQuenbyProcess quenby(Arguments(c.files));
    EXPECT_EQ(quenby.Wait(), 1);
    EXPECT_THAT(quenby.OutLines(), ElementsAre(c.line)) << quenby.Err();
  }
}

}  // namespace
}  // namespace quenby
