// Modules served over TLS: the HTTPS server variables, which plain connections do not know,
// and HSE_REQ_TRANSMIT_FILE, which must pass the file through TLS.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/server_io_handler_ssl.h"
#include "support/isapi_server.h"
#include "support/temp_dir.h"
#include "support/tls_client.h"

namespace quenby {
namespace {

using test::BodyOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string Get(const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
}

class TLSModuleTest : public ::testing::Test {
 protected:
  TLSModuleTest() : certificate_(test::MakeTestCertificate(dir_)), server_(QUENBY_TEST_MODULE_DIR) {
    handler_.SSLOptions.CertFile = certificate_.CertFile;
    handler_.SSLOptions.KeyFile = certificate_.KeyFile;
  }

  // A request over TLS; the cipher's bits are kept in `bits`.
  std::string Fetch(const std::string& target, int* bits = nullptr) {
    test::TTLSTestClient::TOptions options;
    options.CAFile = certificate_.CertFile;
    test::TTLSTestClient client(server_.Port(), options);
    if (!client.Handshake() || !client.Send(Get(target)))
      return "failed: " + client.Error();
    if (bits != nullptr)
      *bits = client.CipherBits();
    return client.ReceiveUntilClose();
  }

  test::TempDir dir_;
  test::TTestCertificate certificate_;
  TServerIOHandlerSSL handler_;
  test::TISAPITestServer server_;
};

TEST_F(TLSModuleTest, SecureVariablesAnswerOnTLSConnectionsOnly) {
  server_.Server().SetIOHandler(&handler_);
  server_.Start();
  int bits = 0;
  EXPECT_THAT(BodyOf(Fetch("/probe.dll?var=HTTPS", &bits)), StartsWith("result=1\nsize=3\n"));
  EXPECT_THAT(BodyOf(Fetch("/probe.dll?var=https")), HasSubstr("\nvalue=on\n"));
  EXPECT_THAT(BodyOf(Fetch("/probe.dll?var=SERVER_PORT_SECURE")), HasSubstr("\nvalue=1\n"));
  ASSERT_GT(bits, 0);
  EXPECT_THAT(BodyOf(Fetch("/probe.dll?var=HTTPS_KEYSIZE")),
              HasSubstr("\nvalue=" + std::to_string(bits) + "\n"));
  EXPECT_THAT(BodyOf(Fetch("/probe.dll?var=SERVER_PORT")),
              HasSubstr("\nvalue=" + std::to_string(server_.Port()) + "\n"));

  server_.Stop();
  server_.Server().SetIOHandler(nullptr);
  server_.Start();
  for (const char* name : {"HTTPS", "SERVER_PORT_SECURE", "HTTPS_KEYSIZE"}) {
    EXPECT_THAT(BodyOf(server_.Get(std::string("/probe.dll?var=") + name)),
                StartsWith("result=0\nsize=0\n"))
        << name << " is unknown on a plain connection";
  }
}

TEST_F(TLSModuleTest, TransmitFileSendsTheSameBytesThroughTLSAsOnAPlainConnection) {
  std::string content(1000000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>(i * 13 % 253);
  const std::string file = dir_.Write("data.bin", content);
  const std::vector<std::string> targets = {
      "/transmit.dll?file=" + file, "/transmit.dll?lead&offset=70000&bytes=100000&file=" + file,
      "/transmit.dll?offset=999990&bytes=20&file=" + file,  // shorter than asked: fails
  };
  server_.Server().SetIOHandler(&handler_);
  server_.Start();
  std::vector<std::string> secure;
  for (const std::string& target : targets)
    secure.push_back(BodyOf(Fetch(target)));
  server_.Stop();
  server_.Server().SetIOHandler(nullptr);
  server_.Start();
  for (std::size_t i = 0; i < targets.size(); ++i)
    EXPECT_TRUE(secure[i] == BodyOf(server_.Get(targets[i]))) << targets[i];

  EXPECT_TRUE(secure[0] == content + "\n-- trailer --\n") << secure[0].size();
  EXPECT_TRUE(secure[1] == content.substr(70000, 100000) + "transmit: lead\n\n-- trailer --\n")
      << secure[1].size();
  EXPECT_EQ(secure[2], content.substr(999990) + "\n-- transmit failed --\n");
}

}  // namespace
}  // namespace quenby
