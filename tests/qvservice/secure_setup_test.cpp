// The service's rules for a secure set-up: who may be trusted by the name it claims, which key files it accepts, and
// how client certificates name the callers.
#include "qvservice/command_line.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <grpcpp/create_channel.h>
#include <grpcpp/security/credentials.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace qv::test {

using server::ServeOptions;

static bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(SecureSetUp, LoopbackAndTheListenAddressDecideWhatIsTrustedAndFlagsComeOnce) {
    // The first five listen on loopback only.
    const char* const listens[] = {
        "127.0.0.1:1", "127.8.9.10:1",        "[::1]:1",         "LocalHost:1", "", "0.0.0.0:1", "[::]:1", "10.0.0.1:1",
        "128.0.0.1:1", "[::ffff:10.0.0.1]:1", "server.example:1"};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(server::IsLoopbackOnly(server::ParseListenAddress(listens[i])), i < 5) << i;
    EXPECT_EQ(server::ParseListenAddress("").host, "127.0.0.1");
    EXPECT_EQ(server::ParseListenAddress("").port, contract::kDefaultPort);
    EXPECT_EQ(server::ParseListenAddress("[::1]").port, contract::kDefaultPort);
    EXPECT_EQ(server::ParseListenAddress("[::1]:65535").port, 65535);
    for (const char* bad :
         {"[::1", "[::1]x", "::1", ":80", "[]:80", "host:", "host:65536", "host:12ab", "host:123456"}) {
        EXPECT_THROW(server::ParseListenAddress(bad), std::invalid_argument) << bad;
    }

    ServeOptions tlsAlone;
    tlsAlone.listen = "[::]:47913";
    tlsAlone.tlsCertFile = "s.pem";
    tlsAlone.tlsKeyFile = "s.key";
    EXPECT_THROW(server::CheckServeSecurity(tlsAlone), std::runtime_error) << "TLS alone authenticates nobody";
    ServeOptions options;
    options.listen = "0.0.0.0:47913";
    options.allowed = {"alice"};
    options.trustClaimedNames = options.insecure = true;
    const auto warnings = server::CheckServeSecurity(options);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_TRUE(Contains(warnings[0], "--trust-claimed-names")) << warnings[0];
    EXPECT_TRUE(Contains(warnings[1], "plain text on 0.0.0.0:47913")) << warnings[1];

    options.tlsCertFile = "s.pem";
    options.tlsKeyFile = "s.key";
    options.clientCaFile = "ca.pem";
    EXPECT_THROW(server::CheckServeSecurity(options), std::runtime_error) << "the flag contradicts --client-ca";
    options.trustClaimedNames = false;
    EXPECT_TRUE(server::CheckServeSecurity(options).empty());

    // Flags take no value and come once.
    const auto line =
        server::ParseCommandLine({"--a", "1", "--trust-claimed-names", "x"}, {"a"}, {"trust-claimed-names"});
    EXPECT_TRUE(line.flags.contains("trust-claimed-names"));
    EXPECT_EQ(line.Get("a"), "1");
    EXPECT_EQ(line.positional, std::vector<std::string>{"x"});
    EXPECT_THROW(server::ParseCommandLine({"--f", "--f"}, {}, {"f"}), server::UsageError);
    EXPECT_THROW(server::ParseCommandLine({"--f=yes"}, {}, {"f"}), server::UsageError);
    EXPECT_EQ(server::ParseCommandLine({"--a=x=1"}, {"a"}).Get("a"), "x=1");
    EXPECT_THROW(server::ParseCommandLine({"--a", "1", "--a=2"}, {"a"}), server::UsageError);
}

TEST(SecureSetUp, OpenKeysAreRefusedAndClientCertificatesOfTheCaNameTheCallers) {
    TempDir dir;
    const std::string store = SmallStore(dir);
    const std::string certs = CopyTestCertificates(dir);
    namespace fs = std::filesystem;
    const std::string key = certs + "/test-server.key";
    for (const auto mode : {fs::perms::group_read, fs::perms::others_read}) {
        fs::permissions(key, fs::perms::owner_read | fs::perms::owner_write | mode);
        const ToolResult readable = RunQvservice({"serve", "--store", store, "--listen", "127.0.0.1:0", "--tls-cert",
                                                  certs + "/test-server.pem", "--tls-key", key});
        EXPECT_EQ(readable.exitCode, 1);
        EXPECT_TRUE(Contains(readable.err, "the TLS key " + key + " can be read by other users")) << readable.err;
        EXPECT_TRUE(Contains(readable.err, "chmod 600")) << readable.err;
    }
    fs::permissions(key, fs::perms::owner_read | fs::perms::owner_write);

    // No --allow, alice allowed, only mallory allowed: what the caller claims never counts.
    for (const auto& [allowed, alice] : {std::pair{"", contract::kOk}, std::pair{"alice", contract::kOk},
                                         std::pair{"mallory", contract::kAccessDenied}}) {
        std::vector<std::string> args{"--tls-cert",  certs + "/test-server.pem", "--tls-key", key,
                                      "--client-ca", certs + "/test-ca.pem"};
        if (*allowed) args.insert(args.end(), {"--allow", allowed});
        const auto service = Serve(store, args);
        const std::string address = service->ListeningAddress();
        const auto client = [&](const std::string& name) {
            grpc::SslCredentialsOptions tls;
            tls.pem_root_certs = ReadFile(certs + "/test-ca.pem");
            if (!name.empty()) {
                tls.pem_private_key = ReadFile(certs + "/" + name + ".key");
                tls.pem_cert_chain = ReadFile(certs + "/" + name + ".pem");
            }
            return ServiceClient(grpc::CreateChannel(address, grpc::SslCredentials(tls)));
        };
        grpc::Status status;
        EXPECT_EQ(client("test-client-alice").Activate({"mallory"}, &status).hresult(), alice) << allowed;

        // Without a certificate the caller is nobody, even with no --allow, and hears so rather than losing the
        // connection.
        const auto nobody = client("").Activate({"alice"}, &status);
        ASSERT_TRUE(status.ok()) << status.error_message();
        EXPECT_EQ(nobody.hresult(), contract::kAccessDenied) << allowed;
        EXPECT_TRUE(Contains(nobody.description(), "no client certificate")) << nobody.description();

        EXPECT_EQ(service->Stop(SIGTERM), 0);
    }
}

}  // namespace qv::test
