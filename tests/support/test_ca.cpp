#include "support/test_ca.h"

#include <fstream>
#include <vector>

#include "support/child_process.h"

namespace parlex::test {

namespace {

constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr int kToolMs = 20000;

bool Openssl(const std::vector<std::string>& args) {
  std::vector<std::string> argv{kOpenssl};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(kOpenssl, argv, kToolMs).exitCode == 0;
}

// P-256 keys: quick to make, and any TLS 1.2 peer takes them.
const std::vector<std::string> kNewKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"};

}  // namespace

TestCa::TestCa(std::filesystem::path dir, std::string name) : dir_(std::move(dir)), name_(std::move(name)) {
  std::vector<std::string> args{"req", "-x509"};
  args.insert(args.end(), kNewKey.begin(), kNewKey.end());
  for (const std::string& a :
       {std::string("-keyout"), (dir_ / (name_ + ".key")).string(), std::string("-out"), CertFile(),
        std::string("-days"), std::string("2"), std::string("-subj"), "/CN=" + name_}) {
    args.push_back(a);
  }
  ok_ = Openssl(args);
}

std::optional<TestCa::Issued> TestCa::Issue(const std::string& name, const std::string& san, int days) const {
  if (!ok_) return std::nullopt;
  Issued issued{(dir_ / (name + ".pem")).string(), (dir_ / (name + ".key")).string()};
  std::string request = (dir_ / (name + ".csr")).string();
  std::string extensions = (dir_ / (name + ".ext")).string();
  std::ofstream(extensions) << "subjectAltName=" << san << "\n";
  std::vector<std::string> args{"req"};
  args.insert(args.end(), kNewKey.begin(), kNewKey.end());
  for (const std::string& a : {std::string("-keyout"), issued.keyFile, std::string("-out"), request,
                               std::string("-subj"), "/CN=" + name}) {
    args.push_back(a);
  }
  if (!Openssl(args)) return std::nullopt;
  static int serial = 1;
  if (!Openssl({"x509", "-req", "-in", request, "-CA", CertFile(), "-CAkey",
                (dir_ / (name_ + ".key")).string(), "-set_serial", std::to_string(++serial), "-days",
                std::to_string(days), "-extfile", extensions, "-out", issued.certFile})) {
    return std::nullopt;
  }
  return issued;
}

}  // namespace parlex::test
