// A certificate authority of the test's own, made with the openssl tool in a
// folder of the test's, and the server certificates it signs (posix only).
// A test trusts it by pointing SSL_CERT_FILE at CertFile().
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace parlex::test {

class TestCa {
 public:
  // Makes the CA's key and self-signed certificate in dir, named after name.
  TestCa(std::filesystem::path dir, std::string name);
  bool Ok() const { return ok_; }
  std::string CertFile() const { return (dir_ / (name_ + ".pem")).string(); }

  struct Issued {
    std::string certFile;
    std::string keyFile;
  };
  // A server key and a certificate for it signed by this CA, with
  // subjectAltName san ("IP:127.0.0.1", "DNS:other.test"), valid for days
  // from now (a negative count: expired since). Nothing when openssl failed.
  std::optional<Issued> Issue(const std::string& name, const std::string& san, int days) const;

 private:
  std::filesystem::path dir_;
  std::string name_;
  bool ok_ = false;
};

}  // namespace parlex::test
