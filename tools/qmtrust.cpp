// qmtrust: makes a certificate authority trusted for the current user of
// this Windows installation (or Wine prefix), for tests and the demo that
// serve HTTPS with an authority of their own.
//
//   qmtrust CA.pem
//
// Adds the certificate (PEM or DER) to the current user's root store, after
// removing any root there with the same subject (an older test authority of
// the same name). Exit status: 0 done, 1 failure, 2 usage error.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> ReadDer(const char* Path)
{
    std::ifstream in(Path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    if (text.find("-----BEGIN") == std::string::npos)
        return {text.begin(), text.end()};
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return {};
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

// Deletes every certificate in Store whose subject is Cert's.
void RemoveSameSubject(HCERTSTORE Store, PCCERT_CONTEXT Cert)
{
    PCCERT_CONTEXT found = nullptr;
    while ((found = CertFindCertificateInStore(Store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                                &Cert->pCertInfo->Subject, nullptr)) != nullptr)
        CertDeleteCertificateFromStore(found); // frees found
}

int Trust(const char* Path)
{
    const std::vector<BYTE> der = ReadDer(Path);
    PCCERT_CONTEXT cert = der.empty() ? nullptr
                                      : CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                                     static_cast<DWORD>(der.size()));
    if (!cert) {
        std::fprintf(stderr, "qmtrust: %s holds no certificate\n", Path);
        return 1;
    }
    // The registry part of the root store alone: the system store is a
    // collection whose other members (the built-in roots) keep nothing.
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
    bool added = false;
    if (store) {
        RemoveSameSubject(store, cert);
        added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                 CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE &&
                CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr) != FALSE;
        CertCloseStore(store, 0);
    }
    CertFreeCertificateContext(cert);
    if (!added) {
        std::fprintf(stderr, "qmtrust: cannot add %s to the root store (error %lu)\n", Path, GetLastError());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: qmtrust CA.pem\n", stderr);
        return 2;
    }
    return Trust(argv[1]);
}
