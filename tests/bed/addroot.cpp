// Adds a DER certificate to the machine's Root store of the current Wine prefix, so that TLS
// servers of the test bed are trusted exactly as a real CA's would be.
//   addroot.exe CERT.der
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: addroot CERT.der\n");
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "addroot: cannot open the certificate (%lu)\n", GetLastError());
        return 1;
    }
    std::vector<BYTE> der(65536);
    DWORD got = 0;
    BOOL read = ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &got, nullptr);
    CloseHandle(file);
    if (!read || got == 0 || got == der.size()) {
        fprintf(stderr, "addroot: cannot read the certificate\n");
        return 1;
    }

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
        fprintf(stderr, "addroot: cannot open the Root store (%lu)\n", GetLastError());
        return 1;
    }
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), got,
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        fprintf(stderr, "addroot: cannot add the certificate (%lu)\n", error);
        return 1;
    }
    return 0;
}
