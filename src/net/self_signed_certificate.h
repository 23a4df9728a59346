#pragma once

#include <string>
#include <vector>

namespace quenby {

/// Days a certificate made by MakeSelfSignedCertificate stays valid: under the 398 days
/// that browsers accept for a server certificate.
constexpr int SelfSignedValidityDays = 397;

/// Makes a new P-256 key and a certificate that the key signs itself, for `names`: each an
/// IPv4 address text (an IP address entry) or a host name (a DNS entry); the first is also
/// the subject's common name. Valid from an hour ago (for clocks a little behind) for
/// SelfSignedValidityDays. The key file is made readable by its owner only, the
/// certificate by all; each replaces its file at once (written beside it, then renamed),
/// the key first. Raises ESelfSignedCertificateError when the library fails, EInOutError
/// when a file cannot be written.
void MakeSelfSignedCertificate(const std::string& cert_file, const std::string& key_file,
                               const std::vector<std::string>& names);

/// The SHA-256 fingerprint (CertificateFingerprintText) of the first certificate of a PEM
/// file. Raises EOSSLLoadingCertError "Could not load certificate." when there is none.
std::string CertificateFileFingerprint(const std::string& cert_file);

/// Whether the first certificate of a PEM file is valid at this moment; false when the file
/// holds none.
bool CertificateFileCurrent(const std::string& cert_file);

}  // namespace quenby
